// An in-memory stand-in for the device-setup layer, the disks, kernel32 and the C
// runtime's heap, for tests. It records every call with its arguments and what the
// program had flushed by then, answers from a script, and keeps a last-error value
// the way the platform keeps one per thread: every call may change it, and the calls
// whose value the walk has no reason to read leave a fresh meaningless value behind,
// so a value read anywhere but right after the call that failed shows up in a test.
// It fails the running test at once on misuse the platform would not forgive: a
// handle, device information set or heap block released twice or never, a request on
// something not open, a length larger than the buffer passed with it, an interface
// record other than the one the enumeration filled.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "disk_platform.h"

struct SimulatedInterface {
  std::string devicePath;      // written into DevicePath by the detail query
  bool pathTerminated = true;  // false: no zero byte follows the path
  // Reported by the size query; by default exactly what the detail record needs.
  std::optional<std::uint32_t> requiredSize;
  int sizeQueryResult = 0;  // the size query's own boolean, which the walk must ignore
  std::uint32_t sizeQueryError = kErrorInsufficientBuffer;
  std::optional<std::uint32_t> detailQueryFails;   // with this last-error value
  std::optional<std::uint32_t> openFails;          // likewise
  std::optional<std::uint32_t> deviceNumberFails;  // likewise
  std::uint32_t deviceNumber = 0;
};

struct SimulatedSetup {
  std::optional<std::uint32_t> classDevsFails;  // with this last-error value
  std::vector<SimulatedInterface> interfaces;
  // The last-error value of the enumeration past the last interface.
  std::uint32_t enumerationEndError = kErrorNoMoreItems;
  // The largest heap block that an allocation gets; a larger one fails, leaving the
  // last-error value as it is unless mallocFailureError says otherwise. A block is
  // really allocated only within this limit, so a test can ask for gigabytes.
  std::size_t heapLimit = 1 << 20;
  std::optional<std::uint32_t> mallocFailureError;
};

struct SimulatedDiskCall {
  std::string name;           // the platform function's name
  std::string flushedOutput;  // what the program had flushed when it made the call
  // Arguments, as far as the call has them.
  bool guidIsDiskClass = false, enumeratorGiven = false, parentWindowGiven = false;
  bool deviceInfoDataGiven = false, requiredSizeGiven = false, detailGiven = false;
  std::uint32_t flags = 0, memberIndex = 0, interfaceDataSize = 0;
  std::uint32_t detailSize = 0, detailCbSize = 0;
  std::string fileName;
  std::uint32_t desiredAccess = 0, shareMode = 0, creationDisposition = 0, flagsAndAttributes = 0;
  bool securityAttributesGiven = false, templateFileGiven = false;
  std::uint32_t ioControlCode = 0, inBufferSize = 0, outBufferSize = 0;
  bool inBufferGiven = false, bytesReturnedGiven = false, overlappedGiven = false;
  std::size_t allocationSize = 0;
  std::uint32_t lastError = 0;  // GetLastError: the value returned
};

class SimulatedDiskPlatform final : public DiskPlatform {
 public:
  SimulatedDiskPlatform(SimulatedSetup setup, std::function<std::string()> flushedOutput = {});
  ~SimulatedDiskPlatform() override;

  const std::vector<SimulatedDiskCall>& Calls() const { return calls_; }
  // The calls in short form, e.g. "SetupDiEnumDeviceInterfaces 0", "GetLastError 259",
  // "SetupDiGetDeviceInterfaceDetailA size query", "malloc 42", "CreateFileA \\?\x".
  std::vector<std::string> Trace() const;
  // The calls that released something, in order.
  std::vector<std::string> Releases() const;

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

 private:
  SimulatedDiskCall& Record(const char* name);
  // A successful call that the walk does not read the last-error value after: leave
  // a value behind that no test expects.
  int Succeed();
  int Fail(std::uint32_t lastError);
  bool IsOpenSet(PlatformHandle set, const char* call);
  bool IsCurrentInterfaceRecord(const DeviceInterfaceData* record, const char* call);

  SimulatedSetup setup_;
  std::function<std::string()> flushedOutput_;
  std::vector<SimulatedDiskCall> calls_;
  std::uint32_t lastError_ = 0;
  bool setOpen_ = false, setDestroyed_ = false;
  std::optional<std::size_t> currentInterface_;
  std::map<PlatformHandle, std::size_t> openDevices_;  // handle -> interface
  std::set<PlatformHandle> closedDevices_;
  std::uintptr_t nextHandle_ = 0x200;
  std::map<void*, std::size_t> heapBlocks_;
};

// The fixed size of the detail record in this process and what it needs for a path.
constexpr std::uint32_t kDetailFixedSize = sizeof(DeviceInterfaceDetailDataA);
constexpr std::uint32_t kDevicePathOffset = offsetof(DeviceInterfaceDetailDataA, DevicePath);
