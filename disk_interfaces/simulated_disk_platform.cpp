#include "simulated_disk_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

PlatformHandle const kDeviceInfoSet = reinterpret_cast<PlatformHandle>(std::uintptr_t{0x5E7});
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kFileDeviceDisk = 7;

bool IsDiskClass(const PlatformGuid* guid) {
  return guid && std::memcmp(guid, &kGuidDevinterfaceDisk, sizeof *guid) == 0;
}

// Reads every byte of [block, block + size) so that AddressSanitizer reports a length
// that runs past the buffer, even where the answer itself would be shorter.
void TouchEveryByte(const void* block, std::size_t size) {
  const volatile std::uint8_t* bytes = static_cast<const volatile std::uint8_t*>(block);
  for (std::size_t i = 0; i < size; ++i) (void)bytes[i];
}

}  // namespace

SimulatedDiskPlatform::SimulatedDiskPlatform(SimulatedSetup setup,
                                             std::function<std::string()> flushedOutput)
    : setup_(std::move(setup)), flushedOutput_(std::move(flushedOutput)) {}

SimulatedDiskPlatform::~SimulatedDiskPlatform() {
  if (setOpen_) ADD_FAILURE() << "device information set never destroyed";
  if (!openDevices_.empty())
    ADD_FAILURE() << openDevices_.size() << " device handle(s) never closed";
  for (const auto& [block, size] : heapBlocks_) {
    ADD_FAILURE() << "heap block of " << size << " bytes never freed";
    std::free(block);
  }
}

SimulatedDiskCall& SimulatedDiskPlatform::Record(const char* name) {
  SimulatedDiskCall call;
  call.name = name;
  if (flushedOutput_) call.flushedOutput = flushedOutput_();
  calls_.push_back(std::move(call));
  return calls_.back();
}

int SimulatedDiskPlatform::Succeed() {
  lastError_ = 0x5EED0000u + static_cast<std::uint32_t>(calls_.size());
  return 1;
}

int SimulatedDiskPlatform::Fail(std::uint32_t lastError) {
  lastError_ = lastError;
  return 0;
}

std::vector<std::string> SimulatedDiskPlatform::Trace() const {
  std::vector<std::string> trace;
  for (const SimulatedDiskCall& call : calls_) {
    std::string line = call.name;
    if (call.name == "SetupDiEnumDeviceInterfaces") {
      line += " " + std::to_string(call.memberIndex);
    } else if (call.name == "SetupDiGetDeviceInterfaceDetailA") {
      line += call.detailGiven ? " " + std::to_string(call.detailSize) : " size query";
    } else if (call.name == "CreateFileA") {
      line += " " + call.fileName;
    } else if (call.name == "malloc") {
      line += " " + std::to_string(call.allocationSize);
    } else if (call.name == "GetLastError") {
      line += " " + std::to_string(call.lastError);
    }
    trace.push_back(line);
  }
  return trace;
}

std::vector<std::string> SimulatedDiskPlatform::Releases() const {
  std::vector<std::string> releases;
  for (const SimulatedDiskCall& call : calls_) {
    if (call.name == "SetupDiDestroyDeviceInfoList" || call.name == "CloseHandle" ||
        call.name == "free") {
      releases.push_back(call.name);
    }
  }
  return releases;
}

bool SimulatedDiskPlatform::IsOpenSet(PlatformHandle set, const char* call) {
  if (set == kDeviceInfoSet && setOpen_) return true;
  ADD_FAILURE() << call << " on a device information set that is not open";
  return false;
}

bool SimulatedDiskPlatform::IsCurrentInterfaceRecord(const DeviceInterfaceData* record,
                                                     const char* call) {
  if (record && currentInterface_ && record->cbSize == sizeof(DeviceInterfaceData) &&
      record->Reserved == 0x1000 + *currentInterface_) {
    return true;
  }
  ADD_FAILURE() << call << " was not given the interface record that the enumeration filled";
  return false;
}

PlatformHandle SimulatedDiskPlatform::SetupDiGetClassDevsA(const PlatformGuid* classGuid,
                                                           const char* enumerator,
                                                           void* parentWindow,
                                                           std::uint32_t flags) {
  SimulatedDiskCall& call = Record("SetupDiGetClassDevsA");
  call.guidIsDiskClass = IsDiskClass(classGuid);
  call.enumeratorGiven = enumerator != nullptr;
  call.parentWindowGiven = parentWindow != nullptr;
  call.flags = flags;
  if (setup_.classDevsFails) {
    Fail(*setup_.classDevsFails);
    return InvalidHandleValue();
  }
  if (setOpen_ || setDestroyed_) ADD_FAILURE() << "a second device information set requested";
  setOpen_ = true;
  Succeed();
  return kDeviceInfoSet;
}

int SimulatedDiskPlatform::SetupDiEnumDeviceInterfaces(PlatformHandle deviceInfoSet,
                                                       void* deviceInfoData,
                                                       const PlatformGuid* interfaceClassGuid,
                                                       std::uint32_t memberIndex,
                                                       DeviceInterfaceData* deviceInterfaceData) {
  SimulatedDiskCall& call = Record("SetupDiEnumDeviceInterfaces");
  call.deviceInfoDataGiven = deviceInfoData != nullptr;
  call.guidIsDiskClass = IsDiskClass(interfaceClassGuid);
  call.memberIndex = memberIndex;
  call.interfaceDataSize = deviceInterfaceData ? deviceInterfaceData->cbSize : 0;
  if (!IsOpenSet(deviceInfoSet, "SetupDiEnumDeviceInterfaces")) return Fail(kErrorInvalidHandle);
  if (!deviceInterfaceData || deviceInterfaceData->cbSize != sizeof(DeviceInterfaceData)) {
    return Fail(kErrorInvalidUserBuffer);
  }
  if (memberIndex >= setup_.interfaces.size()) {
    currentInterface_.reset();
    return Fail(setup_.enumerationEndError);
  }
  currentInterface_ = memberIndex;
  deviceInterfaceData->InterfaceClassGuid = kGuidDevinterfaceDisk;
  deviceInterfaceData->Flags = 1;  // SPINT_ACTIVE
  deviceInterfaceData->Reserved = 0x1000 + memberIndex;
  return Succeed();
}

int SimulatedDiskPlatform::SetupDiGetDeviceInterfaceDetailA(
    PlatformHandle deviceInfoSet, DeviceInterfaceData* deviceInterfaceData,
    DeviceInterfaceDetailDataA* deviceInterfaceDetailData,
    std::uint32_t deviceInterfaceDetailDataSize, std::uint32_t* requiredSize,
    void* deviceInfoData) {
  SimulatedDiskCall& call = Record("SetupDiGetDeviceInterfaceDetailA");
  call.detailGiven = deviceInterfaceDetailData != nullptr;
  call.detailSize = deviceInterfaceDetailDataSize;
  call.requiredSizeGiven = requiredSize != nullptr;
  call.deviceInfoDataGiven = deviceInfoData != nullptr;
  if (!IsOpenSet(deviceInfoSet, "SetupDiGetDeviceInterfaceDetailA"))
    return Fail(kErrorInvalidHandle);
  if (!IsCurrentInterfaceRecord(deviceInterfaceData, "SetupDiGetDeviceInterfaceDetailA")) {
    return Fail(kErrorInvalidUserBuffer);
  }
  const SimulatedInterface& interface = setup_.interfaces[*currentInterface_];
  const std::uint32_t pathBytes =
      static_cast<std::uint32_t>(interface.devicePath.size()) + (interface.pathTerminated ? 1 : 0);
  const std::uint32_t needed =
      interface.requiredSize.value_or(std::max(kDevicePathOffset + pathBytes, kDetailFixedSize));

  if (!deviceInterfaceDetailData) {  // the size query
    if (deviceInterfaceDetailDataSize != 0)
      ADD_FAILURE() << "size query with a length but no buffer";
    if (requiredSize) *requiredSize = needed;
    lastError_ = interface.sizeQueryError;
    return interface.sizeQueryResult;
  }

  call.detailCbSize = deviceInterfaceDetailData->cbSize;
  const auto block = heapBlocks_.find(deviceInterfaceDetailData);
  if (block == heapBlocks_.end()) {
    ADD_FAILURE() << "detail record is not a heap block of the program's";
    return Fail(kErrorInvalidUserBuffer);
  }
  if (deviceInterfaceDetailDataSize > block->second) {
    ADD_FAILURE() << "detail length " << deviceInterfaceDetailDataSize << " is larger than the "
                  << block->second << "-byte buffer";
    return Fail(kErrorInvalidUserBuffer);
  }
  TouchEveryByte(deviceInterfaceDetailData, deviceInterfaceDetailDataSize);
  // The platform's own checks: the record must say its fixed size and leave room for
  // at least one character of the path.
  if (deviceInterfaceDetailData->cbSize != kDetailFixedSize ||
      deviceInterfaceDetailDataSize < kDevicePathOffset + 1) {
    return Fail(kErrorInvalidUserBuffer);
  }
  if (interface.detailQueryFails) return Fail(*interface.detailQueryFails);
  if (deviceInterfaceDetailDataSize < kDevicePathOffset + pathBytes) {
    if (requiredSize) *requiredSize = needed;
    return Fail(kErrorInsufficientBuffer);
  }
  std::memcpy(deviceInterfaceDetailData->DevicePath, interface.devicePath.data(),
              interface.devicePath.size());
  if (interface.pathTerminated)
    deviceInterfaceDetailData->DevicePath[interface.devicePath.size()] = 0;
  return Succeed();
}

int SimulatedDiskPlatform::SetupDiDestroyDeviceInfoList(PlatformHandle deviceInfoSet) {
  Record("SetupDiDestroyDeviceInfoList");
  if (deviceInfoSet == kDeviceInfoSet && setDestroyed_) {
    ADD_FAILURE() << "device information set destroyed twice";
    return Fail(kErrorInvalidHandle);
  }
  if (!IsOpenSet(deviceInfoSet, "SetupDiDestroyDeviceInfoList")) return Fail(kErrorInvalidHandle);
  setOpen_ = false;
  setDestroyed_ = true;
  return Succeed();
}

PlatformHandle SimulatedDiskPlatform::CreateFileA(const char* fileName, std::uint32_t desiredAccess,
                                                  std::uint32_t shareMode, void* securityAttributes,
                                                  std::uint32_t creationDisposition,
                                                  std::uint32_t flagsAndAttributes,
                                                  PlatformHandle templateFile) {
  SimulatedDiskCall& call = Record("CreateFileA");
  call.fileName = fileName;
  call.desiredAccess = desiredAccess;
  call.shareMode = shareMode;
  call.securityAttributesGiven = securityAttributes != nullptr;
  call.creationDisposition = creationDisposition;
  call.flagsAndAttributes = flagsAndAttributes;
  call.templateFileGiven = templateFile != nullptr;

  const auto interface =
      std::find_if(setup_.interfaces.begin(), setup_.interfaces.end(),
                   [&](const SimulatedInterface& i) { return i.devicePath == call.fileName; });
  if (interface == setup_.interfaces.end()) {
    Fail(kErrorFileNotFound);
    return InvalidHandleValue();
  }
  if (interface->openFails) {
    Fail(*interface->openFails);
    return InvalidHandleValue();
  }
  PlatformHandle handle = reinterpret_cast<PlatformHandle>(nextHandle_);
  nextHandle_ += 4;
  openDevices_[handle] = static_cast<std::size_t>(interface - setup_.interfaces.begin());
  Succeed();
  return handle;
}

int SimulatedDiskPlatform::DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode,
                                           void* inBuffer, std::uint32_t inBufferSize,
                                           void* outBuffer, std::uint32_t outBufferSize,
                                           std::uint32_t* bytesReturned, void* overlapped) {
  SimulatedDiskCall& call = Record("DeviceIoControl");
  call.ioControlCode = ioControlCode;
  call.inBufferGiven = inBuffer != nullptr;
  call.inBufferSize = inBufferSize;
  call.outBufferSize = outBufferSize;
  call.bytesReturnedGiven = bytesReturned != nullptr;
  call.overlappedGiven = overlapped != nullptr;
  const auto open = openDevices_.find(device);
  if (open == openDevices_.end()) {
    ADD_FAILURE() << "DeviceIoControl on a handle that is not open";
    return Fail(kErrorInvalidHandle);
  }
  TouchEveryByte(outBuffer, outBufferSize);
  const SimulatedInterface& interface = setup_.interfaces[open->second];
  if (interface.deviceNumberFails) return Fail(*interface.deviceNumberFails);
  if (!outBuffer || outBufferSize < sizeof(StorageDeviceNumber))
    return Fail(kErrorInsufficientBuffer);
  const StorageDeviceNumber answer{kFileDeviceDisk, interface.deviceNumber, 0};
  std::memcpy(outBuffer, &answer, sizeof answer);
  if (bytesReturned) *bytesReturned = sizeof answer;
  return Succeed();
}

int SimulatedDiskPlatform::CloseHandle(PlatformHandle object) {
  Record("CloseHandle");
  if (openDevices_.erase(object) == 0) {
    ADD_FAILURE() << (closedDevices_.count(object) ? "handle closed twice"
                                                   : "closing a handle that was never opened");
    return Fail(kErrorInvalidHandle);
  }
  closedDevices_.insert(object);
  return Succeed();
}

std::uint32_t SimulatedDiskPlatform::GetLastError() {
  Record("GetLastError").lastError = lastError_;
  return lastError_;
}

void* SimulatedDiskPlatform::malloc(std::size_t size) {
  Record("malloc").allocationSize = size;
  if (size > setup_.heapLimit) {
    if (setup_.mallocFailureError) lastError_ = *setup_.mallocFailureError;
    return nullptr;
  }
  void* block = std::malloc(size ? size : 1);
  // Fresh heap memory is not zero: show a walk that relies on it.
  std::memset(block, 0xCD, size);
  heapBlocks_[block] = size;
  Succeed();
  return block;
}

void SimulatedDiskPlatform::free(void* block) {
  Record("free");
  const auto found = heapBlocks_.find(block);
  if (found == heapBlocks_.end()) {
    ADD_FAILURE() << "free of a block that is not allocated";
    return;
  }
  heapBlocks_.erase(found);
  std::free(block);
  Succeed();
}
