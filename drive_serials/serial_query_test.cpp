#include "serial_query.h"

#include <gtest/gtest.h>

#include <memory>

#include "simulated_drive_platform.h"

namespace {

using Trace = std::vector<std::string>;

TEST(QueryDriveSerial, PassesThePlatformExactlyTheDocumentedArguments) {
  for (int index : {0, 9}) {
    SCOPED_TRACE(index);
    SimulatedDrivePlatform platform;
    const std::vector<std::uint8_t> descriptor = DeviceDescriptor("SN-1");
    platform.AddDrive(DrivePath(index), {true, descriptor});

    EXPECT_EQ(QueryDriveSerial(platform, index), "SN-1");

    const auto& calls = platform.Calls();
    ASSERT_EQ(calls.size(), 4u);
    const SimulatedDriveCall& open = calls[0];
    EXPECT_EQ(open.kind, SimulatedDriveCall::kOpen);
    const std::wstring expectedPath =
        std::wstring(L"\\\\.\\PhysicalDrive") + static_cast<wchar_t>(L'0' + index);
    EXPECT_EQ(open.fileName, expectedPath);
    EXPECT_EQ(open.fileName.size(), 18u);
    EXPECT_EQ(open.desiredAccess, 0u);
    EXPECT_EQ(open.shareMode, 3u);
    EXPECT_FALSE(open.securityAttributesGiven);
    EXPECT_EQ(open.creationDisposition, 3u);
    EXPECT_EQ(open.flagsAndAttributes, 0u);
    EXPECT_FALSE(open.templateFileGiven);

    const std::uint32_t expectedOutput[] = {8, static_cast<std::uint32_t>(descriptor.size())};
    for (int request = 0; request < 2; ++request) {
      const SimulatedDriveCall& call = calls[1 + request];
      EXPECT_EQ(call.kind, SimulatedDriveCall::kRequest);
      EXPECT_EQ(call.handle, open.handle);
      EXPECT_EQ(call.ioControlCode, 0x2D1400u);
      EXPECT_EQ(call.input, std::vector<std::uint8_t>(12, 0));
      EXPECT_EQ(call.outBufferSize, expectedOutput[request]);
      EXPECT_TRUE(call.bytesReturnedGiven);
      EXPECT_FALSE(call.overlappedGiven);
    }
    EXPECT_EQ(calls[3].kind, SimulatedDriveCall::kClose);
    EXPECT_EQ(calls[3].handle, open.handle);
  }
}

// Every way out of a query, with what it returns and which calls it made; the
// simulated platform fails the test on a handle closed twice or left open.
TEST(QueryDriveSerial, EndsEveryPathWithTheHandleClosedOnce) {
  struct Case {
    const char* name;
    bool present;
    SimulatedDrive drive;
    std::string serial;
    Trace trace;
  };
  SimulatedDrive refusesHeader;
  refusesHeader.answersHeaderRequest = false;
  refusesHeader.descriptor = DeviceDescriptor("X");
  SimulatedDrive refusesDescriptor;
  refusesDescriptor.answersDescriptorRequest = false;
  refusesDescriptor.descriptor = DeviceDescriptor("X");
  SimulatedDrive noSerial;
  noSerial.descriptor = DeviceDescriptorWithoutSerial();
  SimulatedDrive serial;
  serial.descriptor = DeviceDescriptor("WD-WCC4N1234567");
  const SimulatedDrive absent;

  const std::string path = "open \\\\.\\PhysicalDrive5";
  const Case cases[] = {
      {"absent drive", false, absent, "", {path}},
      {"refused first request", true, refusesHeader, "", {path, "request 8", "close"}},
      {"refused second request",
       true,
       refusesDescriptor,
       "",
       {path, "request 8", "request 38", "close"}},
      {"no serial reported", true, noSerial, "", {path, "request 8", "request 36", "close"}},
      {"serial found", true, serial, "WD-WCC4N1234567", {path, "request 8", "request 52", "close"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedDrivePlatform platform;
    if (c.present) platform.AddDrive(DrivePath(5), c.drive);
    EXPECT_EQ(QueryDriveSerial(platform, 5), c.serial);
    EXPECT_EQ(platform.Trace(), c.trace);
  }
}

TEST(QueryDriveSerial, ReturnsTheSerialBytesExactlyAsStored) {
  struct Case {
    const char* name;
    std::string stored;  // bytes after SerialNumberOffset, before the terminating zero
    std::string serial;
  };
  const Case cases[] = {
      {"leading and trailing spaces", "    S3Z9NB0K123456  ", "    S3Z9NB0K123456  "},
      {"bytes of 0x80 and above", "\x80\xA0\xFFz", "\x80\xA0\xFFz"},
      {"text ends at the first zero byte", std::string("AB\0CD", 5), "AB"},
      {"first byte zero", std::string("\0SERIAL", 7), ""},
      {"lower case kept", "abcDEF", "abcDEF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedDrivePlatform platform;
    platform.AddDrive(DrivePath(1), {true, DeviceDescriptor(c.stored)});
    EXPECT_EQ(QueryDriveSerial(platform, 1), c.serial);
  }
}

// Descriptors that a misbehaving driver might return: the query never reads past the
// buffer it sized from the header (AddressSanitizer watches the host build).
TEST(QueryDriveSerial, StaysInsideTheBufferThatTheHeaderSized) {
  struct Case {
    const char* name;
    std::uint32_t headerSize;
    std::vector<std::uint8_t> descriptor;
    std::string serial;
  };
  std::vector<std::uint8_t> offsetPastSize = DeviceDescriptor("SERIAL");
  PutLittleEndian32(offsetPastSize, kSerialNumberOffsetField, 1000);
  // The drive writes only the fixed part, but points past it, into bytes it never wrote.
  std::vector<std::uint8_t> offsetIntoUnwritten = DeviceDescriptorWithoutSerial();
  PutLittleEndian32(offsetIntoUnwritten, kSerialNumberOffsetField, 40);
  const Case cases[] = {
      {"header Size 0", 0, DeviceDescriptor("SERIAL"), ""},
      {"header Size too small for SerialNumberOffset", 27, DeviceDescriptor("SERIAL"), ""},
      {"SerialNumberOffset past the buffer", 43, offsetPastSize, ""},
      {"serial cut by the header Size, no zero byte inside", 39, DeviceDescriptor("SERIAL"), "SER"},
      {"header Size larger than what the drive writes", 100, DeviceDescriptor("SERIAL"), "SERIAL"},
      {"SerialNumberOffset into bytes the drive did not write", 64, offsetIntoUnwritten, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimulatedDrive drive;
    drive.descriptor = c.descriptor;
    drive.overrideHeaderSize = true;
    drive.headerSize = c.headerSize;
    SimulatedDrivePlatform platform;
    platform.AddDrive(DrivePath(2), drive);
    EXPECT_EQ(QueryDriveSerial(platform, 2), c.serial);
    std::vector<std::uint32_t> requestSizes;
    for (const SimulatedDriveCall& call : platform.Calls()) {
      if (call.kind == SimulatedDriveCall::kRequest) requestSizes.push_back(call.outBufferSize);
    }
    EXPECT_EQ(requestSizes, (std::vector<std::uint32_t>{8, c.headerSize}));
  }
}

// The parser alone, over heap blocks of exactly the given length.
TEST(ParseSerialNumber, ReadsOnlyTheBytesItIsGiven) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::string serial;
  };
  auto withOffset = [](std::size_t length, std::uint32_t offset, const std::string& tail) {
    std::vector<std::uint8_t> bytes(length);
    PutLittleEndian32(bytes, kSerialNumberOffsetField, offset);
    std::copy(tail.begin(), tail.end(), bytes.end() - tail.size());
    return bytes;
  };
  const Case cases[] = {
      {"empty", {}, ""},
      {"27 bytes", std::vector<std::uint8_t>(27, 0x41), ""},
      {"offset 0", withOffset(40, 0, "ABCD"), ""},
      {"offset at the end", withOffset(40, 40, ""), ""},
      {"offset past the end", withOffset(40, 0xFFFFFFFF, ""), ""},
      {"last byte is the serial, unterminated", withOffset(40, 39, "Z"), "Z"},
      {"unterminated run to the end", withOffset(40, 36, "WXYZ"), "WXYZ"},
      {"offset inside the fixed part", withOffset(28, 24, ""), std::string("\x18", 1)},
      {"terminated", withOffset(40, 36, std::string("AB\0\0", 4)), "AB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t length = c.bytes.size();
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[length ? length : 1]);
    std::copy(c.bytes.begin(), c.bytes.end(), exact.get());
    EXPECT_EQ(ParseSerialNumber(exact.get(), length), c.serial);
  }
}

}  // namespace
