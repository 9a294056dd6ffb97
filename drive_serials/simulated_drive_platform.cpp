#include "simulated_drive_platform.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
constexpr std::size_t kDescriptorFixedSize = 36;
}

void PutLittleEndian32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> DeviceDescriptorWithoutSerial() {
  std::vector<std::uint8_t> bytes(kDescriptorFixedSize);
  PutLittleEndian32(bytes, 0, kDescriptorFixedSize);  // Version
  PutLittleEndian32(bytes, 4, kDescriptorFixedSize);  // Size
  return bytes;
}

std::vector<std::uint8_t> DeviceDescriptor(const std::string& serial) {
  std::vector<std::uint8_t> bytes = DeviceDescriptorWithoutSerial();
  bytes.insert(bytes.end(), serial.begin(), serial.end());
  bytes.push_back(0);
  PutLittleEndian32(bytes, 0, static_cast<std::uint32_t>(bytes.size()));
  PutLittleEndian32(bytes, 4, static_cast<std::uint32_t>(bytes.size()));
  PutLittleEndian32(bytes, kSerialNumberOffsetField, kDescriptorFixedSize);
  return bytes;
}

SimulatedDrivePlatform::SimulatedDrivePlatform(std::function<std::string()> flushedOutput)
    : flushedOutput_(std::move(flushedOutput)) {}

SimulatedDrivePlatform::~SimulatedDrivePlatform() {
  for (const auto& [handle, path] : openHandles_) {
    ADD_FAILURE() << "handle of " << std::string(path.begin(), path.end()) << " never closed";
  }
}

void SimulatedDrivePlatform::AddDrive(const std::wstring& path, SimulatedDrive drive) {
  drives_[path] = std::move(drive);
}

std::vector<std::string> SimulatedDrivePlatform::Trace() const {
  std::vector<std::string> trace;
  for (const SimulatedDriveCall& call : calls_) {
    switch (call.kind) {
      case SimulatedDriveCall::kOpen:
        trace.push_back("open " + std::string(call.fileName.begin(), call.fileName.end()));
        break;
      case SimulatedDriveCall::kRequest:
        trace.push_back("request " + std::to_string(call.outBufferSize));
        break;
      case SimulatedDriveCall::kClose:
        trace.push_back("close");
        break;
    }
  }
  return trace;
}

PlatformHandle SimulatedDrivePlatform::CreateFileW(
    const wchar_t* fileName, std::uint32_t desiredAccess, std::uint32_t shareMode,
    void* securityAttributes, std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
    PlatformHandle templateFile) {
  SimulatedDriveCall call;
  call.kind = SimulatedDriveCall::kOpen;
  call.fileName = fileName;
  call.desiredAccess = desiredAccess;
  call.shareMode = shareMode;
  call.securityAttributesGiven = securityAttributes != nullptr;
  call.creationDisposition = creationDisposition;
  call.flagsAndAttributes = flagsAndAttributes;
  call.templateFileGiven = templateFile != nullptr;
  if (flushedOutput_) call.flushedOutput = flushedOutput_();

  PlatformHandle result = InvalidHandleValue();
  if (drives_.count(call.fileName)) {
    result = reinterpret_cast<PlatformHandle>(nextHandle_);
    nextHandle_ += 4;
    openHandles_[result] = call.fileName;
  }
  call.handle = result;
  calls_.push_back(std::move(call));
  return result;
}

int SimulatedDrivePlatform::DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode,
                                            void* inBuffer, std::uint32_t inBufferSize,
                                            void* outBuffer, std::uint32_t outBufferSize,
                                            std::uint32_t* bytesReturned, void* overlapped) {
  SimulatedDriveCall call;
  call.kind = SimulatedDriveCall::kRequest;
  call.handle = device;
  call.ioControlCode = ioControlCode;
  const auto* in = static_cast<const std::uint8_t*>(inBuffer);
  if (in) call.input.assign(in, in + inBufferSize);
  call.outBufferSize = outBufferSize;
  call.bytesReturnedGiven = bytesReturned != nullptr;
  call.overlappedGiven = overlapped != nullptr;
  if (flushedOutput_) call.flushedOutput = flushedOutput_();
  calls_.push_back(call);

  const auto open = openHandles_.find(device);
  if (open == openHandles_.end()) {
    ADD_FAILURE() << "request on a handle that is not open";
    return 0;
  }
  EXPECT_TRUE(outBuffer != nullptr || outBufferSize == 0) << "output length without a buffer";
  // Touch every byte that the caller says it owns, so that a length longer than the
  // buffer shows up under AddressSanitizer even where the answer is shorter.
  auto* out = static_cast<std::uint8_t*>(outBuffer);
  for (std::uint32_t i = 0; i < outBufferSize; ++i) {
    out[i] = static_cast<std::uint8_t>(*static_cast<volatile std::uint8_t*>(out + i));
  }

  const SimulatedDrive& drive = drives_.at(open->second);
  // The drive answers its first request on a handle with the header, later ones with
  // the descriptor.
  const bool headerRequest =
      std::count_if(calls_.begin(), calls_.end(), [device](const SimulatedDriveCall& c) {
        return c.kind == SimulatedDriveCall::kRequest && c.handle == device;
      }) == 1;
  if (headerRequest ? !drive.answersHeaderRequest : !drive.answersDescriptorRequest) return 0;

  std::vector<std::uint8_t> answer = drive.descriptor;
  if (drive.overrideHeaderSize) {
    answer.resize(std::max<std::size_t>(answer.size(), kStorageDescriptorHeaderSize));
    PutLittleEndian32(answer, kDescriptorHeaderSizeOffset, drive.headerSize);
  }
  const std::uint32_t written =
      static_cast<std::uint32_t>(std::min<std::size_t>(answer.size(), outBufferSize));
  std::copy(answer.begin(), answer.begin() + written, out);
  if (bytesReturned) *bytesReturned = written;
  return 1;
}

int SimulatedDrivePlatform::CloseHandle(PlatformHandle object) {
  SimulatedDriveCall call;
  call.kind = SimulatedDriveCall::kClose;
  call.handle = object;
  if (flushedOutput_) call.flushedOutput = flushedOutput_();
  calls_.push_back(call);
  if (openHandles_.erase(object) == 0) {
    ADD_FAILURE() << (closedHandles_.count(object) ? "handle closed twice"
                                                   : "closing a handle that was never opened");
    return 0;
  }
  closedHandles_.insert(object);
  return 1;
}
