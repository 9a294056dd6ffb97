// libFuzzer target: the disk interface walk against a platform whose every answer comes
// from the input: booleans, last-error values, required sizes, device paths with or
// without a zero byte, device numbers, failed allocations. The platform aborts on a
// handle or set released twice or never, on a length larger than the buffer passed
// with it, and on a detail record other than the program's own heap block;
// AddressSanitizer watches every byte the walk reads or writes. The run's result must
// agree with its output: status 0 exactly when no failure line was written, otherwise
// the line's code (or 1 for code 0) with the line last.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>

#include "interface_walk.h"

namespace {

class FuzzedDiskPlatform final : public DiskPlatform {
 public:
  explicit FuzzedDiskPlatform(FuzzedDataProvider& input) : input_(input) {}
  ~FuzzedDiskPlatform() override {
    if (setOpen_ || !devices_.empty() || !blocks_.empty()) std::abort();
  }

  PlatformHandle SetupDiGetClassDevsA(const PlatformGuid*, const char*, void*,
                                      std::uint32_t) override {
    if (setObtained_) std::abort();
    if (!Succeeds()) return InvalidHandleValue();
    setObtained_ = setOpen_ = true;
    return &setOpen_;
  }
  int SetupDiEnumDeviceInterfaces(PlatformHandle set, void*, const PlatformGuid*, std::uint32_t,
                                  DeviceInterfaceData* data) override {
    CheckSet(set);
    if (!data || data->cbSize != sizeof(DeviceInterfaceData)) std::abort();
    if (input_.remaining_bytes() == 0) {  // no interface left
      lastError_ = kErrorNoMoreItems;
      return 0;
    }
    return Succeeds();
  }
  int SetupDiGetDeviceInterfaceDetailA(PlatformHandle set, DeviceInterfaceData* data,
                                       DeviceInterfaceDetailDataA* detail, std::uint32_t detailSize,
                                       std::uint32_t* requiredSize, void*) override {
    CheckSet(set);
    if (!data) std::abort();
    if (!detail) {
      if (detailSize != 0 || !requiredSize) std::abort();
      *requiredSize = RequiredSize();
      lastError_ = input_.ConsumeBool() ? kErrorInsufficientBuffer : LastError();
      return input_.ConsumeBool();
    }
    const auto block = blocks_.find(detail);
    if (block == blocks_.end() || detailSize > block->second) std::abort();
    if (!Succeeds()) return 0;
    // Fill what the platform may fill: a path, with or without a zero byte after it.
    // Its letters are kept plain so that no path can pass for a failure line.
    std::string path = input_.ConsumeRandomLengthString(detailSize);
    for (char& c : path) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    const std::size_t room = detailSize > 4 ? detailSize - 4 : 0;
    const std::size_t length = path.size() < room ? path.size() : room;
    std::memcpy(detail->DevicePath, path.data(), length);
    if (length < room && input_.ConsumeBool()) detail->DevicePath[length] = 0;
    return 1;
  }
  int SetupDiDestroyDeviceInfoList(PlatformHandle set) override {
    CheckSet(set);
    setOpen_ = false;
    Clobber();
    return 1;
  }
  PlatformHandle CreateFileA(const char* fileName, std::uint32_t, std::uint32_t, void*,
                             std::uint32_t, std::uint32_t, PlatformHandle) override {
    (void)std::strlen(fileName);  // the whole path must be readable
    if (!Succeeds()) return InvalidHandleValue();
    PlatformHandle handle = reinterpret_cast<PlatformHandle>(nextHandle_++ * 4);
    devices_[handle] = true;
    return handle;
  }
  int DeviceIoControl(PlatformHandle device, std::uint32_t, void*, std::uint32_t, void* out,
                      std::uint32_t outSize, std::uint32_t* returned, void*) override {
    if (!devices_.count(device) || outSize < sizeof(StorageDeviceNumber)) std::abort();
    if (!Succeeds()) return 0;
    const StorageDeviceNumber number{7, input_.ConsumeIntegral<std::uint32_t>(), 0};
    std::memcpy(out, &number, sizeof number);
    if (returned) *returned = sizeof number;
    return 1;
  }
  int CloseHandle(PlatformHandle object) override {
    if (devices_.erase(object) != 1) std::abort();
    Clobber();
    return 1;
  }
  std::uint32_t GetLastError() override { return lastError_; }
  void* malloc(std::size_t size) override {
    // Blocks beyond 1 MiB stand for memory the process does not have.
    if (size > (1u << 20) || input_.ConsumeBool()) {
      if (input_.ConsumeBool()) lastError_ = LastError();
      return nullptr;
    }
    void* block = std::malloc(size);
    std::memset(block, 0xCD, size);
    blocks_[block] = size;
    Clobber();
    return block;
  }
  void free(void* block) override {
    if (blocks_.erase(block) != 1) std::abort();
    std::free(block);
    Clobber();
  }

 private:
  void CheckSet(PlatformHandle set) {
    if (set != &setOpen_ || !setOpen_) std::abort();
  }
  void Clobber() { lastError_ = 0x5EED0000u + input_.ConsumeIntegral<std::uint8_t>(); }
  std::uint32_t LastError() {
    switch (input_.ConsumeIntegralInRange(0, 4)) {
      case 0:
        return 0;
      case 1:
        return kErrorInsufficientBuffer;
      case 2:
        return kErrorNoMoreItems;
      case 3:
        return 0x80000000u;
      default:
        return input_.ConsumeIntegral<std::uint32_t>();
    }
  }
  bool Succeeds() {
    if (input_.ConsumeBool()) {
      Clobber();
      return true;
    }
    lastError_ = LastError();
    return false;
  }
  std::uint32_t RequiredSize() {
    switch (input_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        return input_.ConsumeIntegralInRange<std::uint32_t>(0, 8);
      case 1:
        return input_.ConsumeIntegralInRange<std::uint32_t>(0, 300);
      case 2:
        return 0xFFFFFFFFu - input_.ConsumeIntegralInRange<std::uint32_t>(0, 2);
      default:
        return input_.ConsumeIntegral<std::uint32_t>();
    }
  }

  FuzzedDataProvider& input_;
  std::uint32_t lastError_ = 0;
  bool setObtained_ = false, setOpen_ = false;
  std::map<PlatformHandle, bool> devices_;
  std::uintptr_t nextHandle_ = 1;
  std::map<void*, std::size_t> blocks_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::ostringstream out;
  int status = 0;
  {
    FuzzedDiskPlatform platform(input);
    status = ListDiskInterfaces(platform, out);
  }
  const std::string text = out.str();
  const std::size_t failed = text.find(" failed at ");
  if ((status == 0) != (failed == std::string::npos)) std::abort();
  if (status != 0) {
    const std::size_t lineStart =
        text.rfind('\n', failed) == std::string::npos ? 0 : text.rfind('\n', failed) + 1;
    const std::string line = text.substr(lineStart);
    const std::size_t codeAt = line.find(" : Error Code - ");
    if (codeAt == std::string::npos || line.back() != '\n') std::abort();
    const std::uint32_t code =
        static_cast<std::uint32_t>(std::strtoul(line.c_str() + codeAt + 16, nullptr, 10));
    if (static_cast<std::uint32_t>(status) != (code == 0 ? 1u : code)) std::abort();
    if (line.find('\n') != line.size() - 1) std::abort();  // the failure line is the last
  }
  return 0;
}
