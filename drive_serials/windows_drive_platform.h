#pragma once

#include "drive_platform.h"

// The real platform: forwards every call to kernel32 unchanged.
class WindowsDrivePlatform final : public DrivePlatform {
 public:
  PlatformHandle CreateFileW(const wchar_t* fileName, std::uint32_t desiredAccess,
                             std::uint32_t shareMode, void* securityAttributes,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                             PlatformHandle templateFile) override;
  int DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode, void* inBuffer,
                      std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                      std::uint32_t* bytesReturned, void* overlapped) override;
  int CloseHandle(PlatformHandle object) override;
};
