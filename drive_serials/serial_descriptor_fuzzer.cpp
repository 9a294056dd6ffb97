// libFuzzer target: the serial query against a drive whose every answer comes from the
// input. Byte 0 picks which requests succeed, bytes 1 to 2 the header Size (kept below
// 64 KiB, as no drive's descriptor is larger), the rest is what the drive writes.
// AddressSanitizer watches every read of the descriptor; the drive aborts on a handle
// closed twice or left open, and the serial text must hold no zero byte and fit in
// the descriptor.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial_query.h"

namespace {

class FuzzedDrive final : public DrivePlatform {
 public:
  FuzzedDrive(const std::uint8_t* data, std::size_t size) {
    if (size > 0) flags_ = data[0];
    if (size > 2) headerSize_ = static_cast<std::uint32_t>(data[1] | data[2] << 8);
    if (size > 3) answer_.assign(data + 3, data + size);
  }
  ~FuzzedDrive() override {
    if (open_) std::abort();  // handle never closed
  }

  PlatformHandle CreateFileW(const wchar_t*, std::uint32_t, std::uint32_t, void*, std::uint32_t,
                             std::uint32_t, PlatformHandle) override {
    if (flags_ & 1) return InvalidHandleValue();
    if (open_) std::abort();
    open_ = true;
    return &open_;
  }
  int DeviceIoControl(PlatformHandle device, std::uint32_t, void*, std::uint32_t, void* out,
                      std::uint32_t outSize, std::uint32_t* returned, void*) override {
    if (device != &open_ || !open_) std::abort();
    ++requests_;
    if (requests_ > 2) std::abort();
    if (requests_ == 1) {
      if (flags_ & 2) return 0;
      std::uint8_t header[8] = {};
      header[4] = static_cast<std::uint8_t>(headerSize_);
      header[5] = static_cast<std::uint8_t>(headerSize_ >> 8);
      std::memcpy(out, header, outSize < 8 ? outSize : 8);
      if (returned) *returned = 8;
      return 1;
    }
    if (flags_ & 4) return 0;
    const std::size_t written = answer_.size() < outSize ? answer_.size() : outSize;
    if (written) std::memcpy(out, answer_.data(), written);
    if (returned) *returned = static_cast<std::uint32_t>(written);
    return 1;
  }
  int CloseHandle(PlatformHandle object) override {
    if (object != &open_ || !open_) std::abort();
    open_ = false;
    return 1;
  }

  std::uint32_t HeaderSize() const { return headerSize_; }

 private:
  std::uint8_t flags_ = 0;
  std::uint32_t headerSize_ = 0;
  std::vector<std::uint8_t> answer_;
  bool open_ = false;
  int requests_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The parser alone, over a block of exactly the input's length.
  std::vector<std::uint8_t> exact(data, data + size);
  const std::string parsed = ParseSerialNumber(exact.data(), exact.size());
  if (parsed.find('\0') != std::string::npos || parsed.size() > size) std::abort();

  FuzzedDrive drive(data, size);
  const std::string serial = QueryDriveSerial(drive, static_cast<int>(size % 10));
  // The serial starts at an offset of at least 1 inside the descriptor.
  if (serial.find('\0') != std::string::npos) std::abort();
  if (!serial.empty() && serial.size() >= drive.HeaderSize()) std::abort();
  return 0;
}
