// The operating-system calls that disk_interfaces makes, one method per call and one
// parameter per platform argument, so that a test can see every value passed and
// script every answer, the calling thread's last-error value included.
// WindowsDiskPlatform forwards them to setupapi, kernel32 and the C runtime unchanged;
// SimulatedDiskPlatform answers them in memory.
#pragma once

#include <cstddef>
#include <cstdint>

using PlatformHandle = void*;

// The platform's INVALID_HANDLE_VALUE: all bits set.
inline PlatformHandle InvalidHandleValue() {
  return reinterpret_cast<PlatformHandle>(~std::uintptr_t{0});
}

struct PlatformGuid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};

// {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
constexpr PlatformGuid kGuidDevinterfaceDisk = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// Platform constants that the walk passes or compares with; the Windows build checks
// each against the toolchain's own headers.
constexpr std::uint32_t kDigcfPresent = 0x2;
constexpr std::uint32_t kDigcfDeviceInterface = 0x10;
constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kFileShareRead = 0x1;
constexpr std::uint32_t kFileShareWrite = 0x2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kFileAttributeNormal = 0x80;
constexpr std::uint32_t kIoctlStorageGetDeviceNumber = 0x2D1080;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorNoMoreItems = 259;

// The device-setup records, laid out as the platform lays them out for this word
// size: packed to 1 byte in a 32-bit process (SP_DEVICE_INTERFACE_DATA is 28 bytes,
// the detail record's fixed size 5), to 8 in a 64-bit one (32 and 8).
#if UINTPTR_MAX == 0xFFFFFFFFu
#pragma pack(push, 1)
#else
#pragma pack(push, 8)
#endif
struct DeviceInterfaceData {
  std::uint32_t cbSize;
  PlatformGuid InterfaceClassGuid;
  std::uint32_t Flags;
  std::uintptr_t Reserved;
};

struct DeviceInterfaceDetailDataA {
  std::uint32_t cbSize;
  char DevicePath[1];
};
#pragma pack(pop)

struct StorageDeviceNumber {
  std::uint32_t DeviceType;
  std::uint32_t DeviceNumber;
  std::uint32_t PartitionNumber;
};

class DiskPlatform {
 public:
  virtual ~DiskPlatform() = default;

  // Booleans are the platform's BOOL: non-zero on success.
  virtual PlatformHandle SetupDiGetClassDevsA(const PlatformGuid* classGuid, const char* enumerator,
                                              void* parentWindow, std::uint32_t flags) = 0;
  virtual int SetupDiEnumDeviceInterfaces(PlatformHandle deviceInfoSet, void* deviceInfoData,
                                          const PlatformGuid* interfaceClassGuid,
                                          std::uint32_t memberIndex,
                                          DeviceInterfaceData* deviceInterfaceData) = 0;
  virtual int SetupDiGetDeviceInterfaceDetailA(
      PlatformHandle deviceInfoSet, DeviceInterfaceData* deviceInterfaceData,
      DeviceInterfaceDetailDataA* deviceInterfaceDetailData,
      std::uint32_t deviceInterfaceDetailDataSize, std::uint32_t* requiredSize,
      void* deviceInfoData) = 0;
  virtual int SetupDiDestroyDeviceInfoList(PlatformHandle deviceInfoSet) = 0;

  virtual PlatformHandle CreateFileA(const char* fileName, std::uint32_t desiredAccess,
                                     std::uint32_t shareMode, void* securityAttributes,
                                     std::uint32_t creationDisposition,
                                     std::uint32_t flagsAndAttributes,
                                     PlatformHandle templateFile) = 0;
  virtual int DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode, void* inBuffer,
                              std::uint32_t inBufferSize, void* outBuffer,
                              std::uint32_t outBufferSize, std::uint32_t* bytesReturned,
                              void* overlapped) = 0;
  virtual int CloseHandle(PlatformHandle object) = 0;
  virtual std::uint32_t GetLastError() = 0;

  // The C runtime's heap.
  virtual void* malloc(std::size_t size) = 0;
  virtual void free(void* block) = 0;
};
