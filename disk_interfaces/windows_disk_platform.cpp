#include "windows_disk_platform.h"

// windows.h first: the other platform headers build on it.
#include <windows.h>

#include <setupapi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdlib>

// winioctl.h defines its interface classes again each time it is included: this time
// as constants that can be compared at compile time.
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  constexpr PlatformGuid kToolchain_##name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#include <winioctl.h>

namespace {
constexpr bool SameGuid(const PlatformGuid& a, const PlatformGuid& b) {
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3;
}
}  // namespace

// The program's own constants and record layouts must be the platform's.
static_assert(SameGuid(kGuidDevinterfaceDisk, kToolchain_GUID_DEVINTERFACE_DISK));
static_assert(sizeof(PlatformGuid) == sizeof(GUID));
static_assert(kDigcfPresent == DIGCF_PRESENT && kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert((kDigcfPresent | kDigcfDeviceInterface) == 0x12);
static_assert(kGenericRead == GENERIC_READ);
static_assert(kFileShareRead == FILE_SHARE_READ && kFileShareWrite == FILE_SHARE_WRITE);
static_assert(kOpenExisting == OPEN_EXISTING);
static_assert(kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL);
static_assert(kIoctlStorageGetDeviceNumber == IOCTL_STORAGE_GET_DEVICE_NUMBER);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);

static_assert(sizeof(DeviceInterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(offsetof(DeviceInterfaceData, InterfaceClassGuid) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid));
static_assert(offsetof(DeviceInterfaceData, Flags) == offsetof(SP_DEVICE_INTERFACE_DATA, Flags));
static_assert(offsetof(DeviceInterfaceData, Reserved) ==
              offsetof(SP_DEVICE_INTERFACE_DATA, Reserved));
static_assert(sizeof(DeviceInterfaceDetailDataA) == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
static_assert(offsetof(DeviceInterfaceDetailDataA, DevicePath) ==
              offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
static_assert(sizeof(StorageDeviceNumber) == sizeof(STORAGE_DEVICE_NUMBER));
static_assert(offsetof(StorageDeviceNumber, DeviceNumber) ==
              offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber));
#ifndef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == 12);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
static_assert(sizeof(std::uint32_t) == sizeof(DWORD));

PlatformHandle WindowsDiskPlatform::SetupDiGetClassDevsA(const PlatformGuid* classGuid,
                                                         const char* enumerator, void* parentWindow,
                                                         std::uint32_t flags) {
  return ::SetupDiGetClassDevsA(reinterpret_cast<const GUID*>(classGuid), enumerator,
                                static_cast<HWND>(parentWindow), flags);
}

int WindowsDiskPlatform::SetupDiEnumDeviceInterfaces(PlatformHandle deviceInfoSet,
                                                     void* deviceInfoData,
                                                     const PlatformGuid* interfaceClassGuid,
                                                     std::uint32_t memberIndex,
                                                     DeviceInterfaceData* deviceInterfaceData) {
  return ::SetupDiEnumDeviceInterfaces(
      deviceInfoSet, static_cast<PSP_DEVINFO_DATA>(deviceInfoData),
      reinterpret_cast<const GUID*>(interfaceClassGuid), memberIndex,
      reinterpret_cast<PSP_DEVICE_INTERFACE_DATA>(deviceInterfaceData));
}

int WindowsDiskPlatform::SetupDiGetDeviceInterfaceDetailA(
    PlatformHandle deviceInfoSet, DeviceInterfaceData* deviceInterfaceData,
    DeviceInterfaceDetailDataA* deviceInterfaceDetailData,
    std::uint32_t deviceInterfaceDetailDataSize, std::uint32_t* requiredSize,
    void* deviceInfoData) {
  // DWORD is unsigned long here, uint32_t unsigned int: same width, distinct types.
  DWORD required = requiredSize ? *requiredSize : 0;
  const BOOL result = ::SetupDiGetDeviceInterfaceDetailA(
      deviceInfoSet, reinterpret_cast<PSP_DEVICE_INTERFACE_DATA>(deviceInterfaceData),
      reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(deviceInterfaceDetailData),
      deviceInterfaceDetailDataSize, requiredSize ? &required : nullptr,
      static_cast<PSP_DEVINFO_DATA>(deviceInfoData));
  // Copying the size back calls nothing, so the last-error value stays as the call left it.
  if (requiredSize) *requiredSize = required;
  return result;
}

int WindowsDiskPlatform::SetupDiDestroyDeviceInfoList(PlatformHandle deviceInfoSet) {
  return ::SetupDiDestroyDeviceInfoList(deviceInfoSet);
}

PlatformHandle WindowsDiskPlatform::CreateFileA(const char* fileName, std::uint32_t desiredAccess,
                                                std::uint32_t shareMode, void* securityAttributes,
                                                std::uint32_t creationDisposition,
                                                std::uint32_t flagsAndAttributes,
                                                PlatformHandle templateFile) {
  return ::CreateFileA(fileName, desiredAccess, shareMode,
                       static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes), creationDisposition,
                       flagsAndAttributes, templateFile);
}

int WindowsDiskPlatform::DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode,
                                         void* inBuffer, std::uint32_t inBufferSize,
                                         void* outBuffer, std::uint32_t outBufferSize,
                                         std::uint32_t* bytesReturned, void* overlapped) {
  DWORD returned = bytesReturned ? *bytesReturned : 0;
  const BOOL result =
      ::DeviceIoControl(device, ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize,
                        bytesReturned ? &returned : nullptr, static_cast<LPOVERLAPPED>(overlapped));
  if (bytesReturned) *bytesReturned = returned;
  return result;
}

int WindowsDiskPlatform::CloseHandle(PlatformHandle object) { return ::CloseHandle(object); }

std::uint32_t WindowsDiskPlatform::GetLastError() { return ::GetLastError(); }

void* WindowsDiskPlatform::malloc(std::size_t size) { return std::malloc(size); }

void WindowsDiskPlatform::free(void* block) { std::free(block); }
