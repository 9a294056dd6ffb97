#include "interface_walk.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "step_failure.h"

namespace {

// What the walk holds at any moment; whatever is still held when it stops is
// released by ListDiskInterfaces after the failure line has been written.
struct WalkResources {
  PlatformHandle deviceInfoSet = InvalidHandleValue();
  DeviceInterfaceDetailDataA* detailBuffer = nullptr;
  PlatformHandle device = InvalidHandleValue();
};

// Bytes to allocate for a detail record of `requiredSize` bytes: never less than the
// record's fixed size, so that cbSize always lies inside the buffer, and one zero byte
// more than the platform is allowed to fill, so that DevicePath always ends inside
// it. Empty when that does not fit in this process's address space.
std::optional<std::size_t> DetailBufferSize(std::uint32_t requiredSize) {
  const std::uint64_t size =
      std::max<std::uint64_t>(requiredSize, sizeof(DeviceInterfaceDetailDataA)) + 1;
  if (size > std::numeric_limits<std::size_t>::max()) return std::nullopt;
  return static_cast<std::size_t>(size);
}

void WriteLine(std::ostream& out, const char* text) { out << text << std::endl; }

// Walks the interfaces until the enumeration reports that none is left (no failure)
// or a step fails (that step's failure). Every last-error value is read right after
// the call that failed, with no other platform call in between.
std::optional<StepFailure> WalkInterfaces(DiskPlatform& platform, std::ostream& out,
                                          WalkResources& held) {
  held.deviceInfoSet = platform.SetupDiGetClassDevsA(&kGuidDevinterfaceDisk, nullptr, nullptr,
                                                     kDigcfPresent | kDigcfDeviceInterface);
  if (held.deviceInfoSet == InvalidHandleValue()) {
    return StepFailure{"SetupDiGetClassDevs", 58, platform.GetLastError()};
  }

  DeviceInterfaceData interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  for (std::uint32_t index = 0;;) {
    if (!platform.SetupDiEnumDeviceInterfaces(held.deviceInfoSet, nullptr, &kGuidDevinterfaceDisk,
                                              index, &interfaceData)) {
      if (platform.GetLastError() == kErrorNoMoreItems) return std::nullopt;
      return StepFailure{"SetupDiEnumDeviceInterfaces", 124, platform.GetLastError()};
    }
    ++index;

    // Only the last-error value tells whether the size query did what it should.
    std::uint32_t requiredSize = 0;
    platform.SetupDiGetDeviceInterfaceDetailA(held.deviceInfoSet, &interfaceData, nullptr, 0,
                                              &requiredSize, nullptr);
    if (platform.GetLastError() != kErrorInsufficientBuffer) {
      return StepFailure{"SetupDiGetDeviceInterfaceDetail - 1", 79, platform.GetLastError()};
    }

    const std::optional<std::size_t> bufferSize = DetailBufferSize(requiredSize);
    if (bufferSize) {
      held.detailBuffer = static_cast<DeviceInterfaceDetailDataA*>(platform.malloc(*bufferSize));
    }
    if (!held.detailBuffer) return StepFailure{"malloc", 83, platform.GetLastError()};
    std::memset(held.detailBuffer, 0, *bufferSize);
    held.detailBuffer->cbSize = sizeof(DeviceInterfaceDetailDataA);

    // The platform is given the size it asked for, never the spare zero byte.
    if (!platform.SetupDiGetDeviceInterfaceDetailA(held.deviceInfoSet, &interfaceData,
                                                   held.detailBuffer, requiredSize, nullptr,
                                                   nullptr)) {
      return StepFailure{"SetupDiGetDeviceInterfaceDetail - 2", 94, platform.GetLastError()};
    }

    held.device = platform.CreateFileA(held.detailBuffer->DevicePath, kGenericRead,
                                       kFileShareRead | kFileShareWrite, nullptr, kOpenExisting,
                                       kFileAttributeNormal, nullptr);
    if (held.device == InvalidHandleValue()) {
      return StepFailure{"CreateFile", 104, platform.GetLastError()};
    }

    StorageDeviceNumber number{};
    std::uint32_t returnedSize = 0;
    if (!platform.DeviceIoControl(held.device, kIoctlStorageGetDeviceNumber, nullptr, 0, &number,
                                  sizeof number, &returnedSize, nullptr)) {
      return StepFailure{"IOCTL_STORAGE_GET_DEVICE_NUMBER", 114, platform.GetLastError()};
    }
    platform.CloseHandle(held.device);
    held.device = InvalidHandleValue();

    WriteLine(out, held.detailBuffer->DevicePath);
    out << "\\\\?\\PhysicalDrive" << number.DeviceNumber << std::endl;
    WriteLine(out, "");

    platform.free(held.detailBuffer);
    held.detailBuffer = nullptr;
  }
}

}  // namespace

int ListDiskInterfaces(DiskPlatform& platform, std::ostream& out) {
  WalkResources held;
  const std::optional<StepFailure> failure = WalkInterfaces(platform, out, held);
  if (failure) ReportStepFailure(*failure, out);

  if (held.deviceInfoSet != InvalidHandleValue())
    platform.SetupDiDestroyDeviceInfoList(held.deviceInfoSet);
  if (held.device != InvalidHandleValue()) platform.CloseHandle(held.device);
  if (held.detailBuffer) platform.free(held.detailBuffer);
  return failure ? FailureExitStatus(*failure) : 0;
}
