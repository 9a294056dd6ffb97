#pragma once

#include "disk_platform.h"

// The real platform: forwards every call to setupapi, kernel32 and the C runtime
// unchanged.
class WindowsDiskPlatform final : public DiskPlatform {
 public:
  PlatformHandle SetupDiGetClassDevsA(const PlatformGuid* classGuid, const char* enumerator,
                                      void* parentWindow, std::uint32_t flags) override;
  int SetupDiEnumDeviceInterfaces(PlatformHandle deviceInfoSet, void* deviceInfoData,
                                  const PlatformGuid* interfaceClassGuid, std::uint32_t memberIndex,
                                  DeviceInterfaceData* deviceInterfaceData) override;
  int SetupDiGetDeviceInterfaceDetailA(PlatformHandle deviceInfoSet,
                                       DeviceInterfaceData* deviceInterfaceData,
                                       DeviceInterfaceDetailDataA* deviceInterfaceDetailData,
                                       std::uint32_t deviceInterfaceDetailDataSize,
                                       std::uint32_t* requiredSize, void* deviceInfoData) override;
  int SetupDiDestroyDeviceInfoList(PlatformHandle deviceInfoSet) override;
  PlatformHandle CreateFileA(const char* fileName, std::uint32_t desiredAccess,
                             std::uint32_t shareMode, void* securityAttributes,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                             PlatformHandle templateFile) override;
  int DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode, void* inBuffer,
                      std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                      std::uint32_t* bytesReturned, void* overlapped) override;
  int CloseHandle(PlatformHandle object) override;
  std::uint32_t GetLastError() override;
  void* malloc(std::size_t size) override;
  void free(void* block) override;
};
