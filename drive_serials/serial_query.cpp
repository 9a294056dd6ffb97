#include "serial_query.h"

#include <memory>
#include <new>

namespace {

const wchar_t kDrivePathPrefix[] = L"\\\\.\\PhysicalDrive";

std::uint32_t ReadLittleEndian32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

// Release routine of a DriveHandle: the result of CloseHandle is of no use here.
struct CloseDriveHandle {
  DrivePlatform* platform;
  void operator()(PlatformHandle handle) const { platform->CloseHandle(handle); }
};

// Sole owner of an open drive handle; closes it exactly once when it goes out of scope.
using DriveHandle = std::unique_ptr<void, CloseDriveHandle>;

}  // namespace

std::wstring DrivePath(int driveIndex) {
  std::wstring path = kDrivePathPrefix;
  path += static_cast<wchar_t>(L'0' + driveIndex);
  return path;
}

std::string ParseSerialNumber(const std::uint8_t* descriptor, std::size_t length) {
  if (length < kSerialNumberOffsetField + 4) return {};
  const std::uint32_t serialOffset = ReadLittleEndian32(descriptor + kSerialNumberOffsetField);
  if (serialOffset == 0 || serialOffset >= length) return {};
  const std::uint8_t* first = descriptor + serialOffset;
  const std::uint8_t* end = descriptor + length;
  const std::uint8_t* last = first;
  while (last != end && *last != 0) ++last;
  return std::string(first, last);
}

std::string QueryDriveSerial(DrivePlatform& platform, int driveIndex) {
  // Declared first so that it is released last.
  const std::wstring path = DrivePath(driveIndex);

  PlatformHandle opened = platform.CreateFileW(path.c_str(), 0, kFileShareRead | kFileShareWrite,
                                               nullptr, kOpenExisting, 0, nullptr);
  if (opened == InvalidHandleValue()) return {};
  const DriveHandle drive(opened, CloseDriveHandle{&platform});

  // All zero: PropertyId StorageDeviceProperty, QueryType PropertyStandardQuery.
  std::uint8_t query[kStoragePropertyQuerySize] = {};
  std::uint8_t header[kStorageDescriptorHeaderSize] = {};
  std::uint32_t bytesReturned = 0;
  if (!platform.DeviceIoControl(drive.get(), kIoctlStorageQueryProperty, query, sizeof query,
                                header, sizeof header, &bytesReturned, nullptr)) {
    return {};
  }

  const std::uint32_t descriptorSize = ReadLittleEndian32(header + kDescriptorHeaderSizeOffset);
  // The size comes from the drive: a block that cannot be had (a drive that claims a
  // descriptor of gigabytes) means no serial from this drive, not the end of the run.
  const std::unique_ptr<std::uint8_t[]> descriptorBuffer(new (std::nothrow)
                                                             std::uint8_t[descriptorSize]());
  if (!descriptorBuffer) return {};
  if (!platform.DeviceIoControl(drive.get(), kIoctlStorageQueryProperty, query, sizeof query,
                                descriptorBuffer.get(), descriptorSize, &bytesReturned, nullptr)) {
    return {};
  }
  return ParseSerialNumber(descriptorBuffer.get(), descriptorSize);
}
