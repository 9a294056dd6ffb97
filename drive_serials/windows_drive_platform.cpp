#include "windows_drive_platform.h"

#include <windows.h>
#include <winioctl.h>

#include <cstddef>

// The program's own constants and record layouts must be the platform's.
static_assert(kFileShareRead == FILE_SHARE_READ);
static_assert(kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kOpenExisting == OPEN_EXISTING);
static_assert(kIoctlStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(StorageDeviceProperty == 0 && PropertyStandardQuery == 0);
static_assert(kStoragePropertyQuerySize == sizeof(STORAGE_PROPERTY_QUERY));
static_assert(kStorageDescriptorHeaderSize == sizeof(STORAGE_DESCRIPTOR_HEADER));
static_assert(kDescriptorHeaderSizeOffset == offsetof(STORAGE_DESCRIPTOR_HEADER, Size));
static_assert(kSerialNumberOffsetField == offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset));
static_assert(sizeof(wchar_t) == sizeof(WCHAR));
static_assert(sizeof(std::uint32_t) == sizeof(DWORD));

PlatformHandle WindowsDrivePlatform::CreateFileW(const wchar_t* fileName,
                                                 std::uint32_t desiredAccess,
                                                 std::uint32_t shareMode, void* securityAttributes,
                                                 std::uint32_t creationDisposition,
                                                 std::uint32_t flagsAndAttributes,
                                                 PlatformHandle templateFile) {
  return ::CreateFileW(fileName, desiredAccess, shareMode,
                       static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), creationDisposition,
                       flagsAndAttributes, templateFile);
}

int WindowsDrivePlatform::DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode,
                                          void* inBuffer, std::uint32_t inBufferSize,
                                          void* outBuffer, std::uint32_t outBufferSize,
                                          std::uint32_t* bytesReturned, void* overlapped) {
  // DWORD is unsigned long here, uint32_t unsigned int: same width, distinct types.
  DWORD returned = bytesReturned ? *bytesReturned : 0;
  const BOOL result =
      ::DeviceIoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                        bytesReturned ? &returned : nullptr, static_cast<LPOVERLAPPED>(overlapped));
  if (bytesReturned) *bytesReturned = returned;
  return result;
}

int WindowsDrivePlatform::CloseHandle(PlatformHandle object) { return ::CloseHandle(object); }
