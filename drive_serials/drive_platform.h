// The operating-system calls that drive_serials makes, one method per call and one
// parameter per platform argument, so that a test can see every value passed and
// script every answer. WindowsDrivePlatform forwards them to kernel32 unchanged;
// SimulatedDrivePlatform answers them in memory.
#pragma once

#include <cstdint>

using PlatformHandle = void*;

// The platform's INVALID_HANDLE_VALUE: all bits set.
inline PlatformHandle InvalidHandleValue() {
  return reinterpret_cast<PlatformHandle>(~std::uintptr_t{0});
}

// Platform constants that the serial query passes; the Windows build checks each
// against the toolchain's own headers.
constexpr std::uint32_t kFileShareRead = 0x1;
constexpr std::uint32_t kFileShareWrite = 0x2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kIoctlStorageQueryProperty = 0x2D1400;

// Record layouts (identical for 32-bit and 64-bit processes).
constexpr std::uint32_t kStoragePropertyQuerySize = 12;
constexpr std::uint32_t kStorageDescriptorHeaderSize = 8;
constexpr std::uint32_t kDescriptorHeaderSizeOffset = 4;
constexpr std::uint32_t kSerialNumberOffsetField = 24;

class DrivePlatform {
 public:
  virtual ~DrivePlatform() = default;

  virtual PlatformHandle CreateFileW(const wchar_t* fileName, std::uint32_t desiredAccess,
                                     std::uint32_t shareMode, void* securityAttributes,
                                     std::uint32_t creationDisposition,
                                     std::uint32_t flagsAndAttributes,
                                     PlatformHandle templateFile) = 0;

  // Returns the platform's BOOL: non-zero on success.
  virtual int DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode, void* inBuffer,
                              std::uint32_t inBufferSize, void* outBuffer,
                              std::uint32_t outBufferSize, std::uint32_t* bytesReturned,
                              void* overlapped) = 0;

  virtual int CloseHandle(PlatformHandle object) = 0;
};
