#include "serial_listing.h"

#include <gtest/gtest.h>

#include <map>

#include "flushed_output.h"
#include "serial_query.h"
#include "simulated_drive_platform.h"

namespace {

using Trace = std::vector<std::string>;

// Drives by index, with the serial text each reports ("" for a drive that is present
// but reports no serial).
using Drives = std::map<int, std::string>;

void AddDrives(SimulatedDrivePlatform& platform, const Drives& drives) {
  for (const auto& [index, serial] : drives) {
    platform.AddDrive(DrivePath(index), {true, serial.empty() ? DeviceDescriptorWithoutSerial()
                                                              : DeviceDescriptor(serial)});
  }
}

TEST(ListDriveSerials, WritesOneLinePerDriveWithASerialInDriveOrder) {
  struct Case {
    const char* name;
    Drives drives;
    std::string output;
  };
  const Case cases[] = {
      {"no drive at all", {}, ""},
      {"drives without serials", {{0, ""}, {1, ""}}, ""},
      {"only drive 3", {{3, "Z1D2E3"}}, "\\\\.\\PhysicalDrive3: Z1D2E3\n"},
      {"drives 0 and 2, not 1",
       {{0, "AAA"}, {1, ""}, {2, "BBB"}},
       "\\\\.\\PhysicalDrive0: AAA\n\\\\.\\PhysicalDrive2: BBB\n"},
      {"serial beginning with spaces", {{4, "   S4"}}, "\\\\.\\PhysicalDrive4:    S4\n"},
      {"all ten drives",
       {{0, "s0"},
        {1, "s1"},
        {2, "s2"},
        {3, "s3"},
        {4, "s4"},
        {5, "s5"},
        {6, "s6"},
        {7, "s7"},
        {8, "s8"},
        {9, "s9"}},
       "\\\\.\\PhysicalDrive0: s0\n\\\\.\\PhysicalDrive1: s1\n\\\\.\\PhysicalDrive2: s2\n"
       "\\\\.\\PhysicalDrive3: s3\n\\\\.\\PhysicalDrive4: s4\n\\\\.\\PhysicalDrive5: s5\n"
       "\\\\.\\PhysicalDrive6: s6\n\\\\.\\PhysicalDrive7: s7\n\\\\.\\PhysicalDrive8: s8\n"
       "\\\\.\\PhysicalDrive9: s9\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlushedOutput out;
    SimulatedDrivePlatform platform;
    AddDrives(platform, c.drives);
    EXPECT_EQ(ListDriveSerials(platform, out.Stream()), 0);
    EXPECT_EQ(out.Flushed(), c.output);
    EXPECT_EQ(out.Written(), c.output);
  }
}

TEST(ListDriveSerials, OpensDrivesZeroToNineOnceEachAndNoOther) {
  SimulatedDrivePlatform platform;
  // The index after 9 would end the path in ':'; a drive there must never be asked.
  platform.AddDrive(L"\\\\.\\PhysicalDrive:", {true, DeviceDescriptor("TEN")});
  platform.AddDrive(L"\\\\.\\PhysicalDrive10", {true, DeviceDescriptor("TEN")});
  FlushedOutput out;
  EXPECT_EQ(ListDriveSerials(platform, out.Stream()), 0);

  std::vector<std::wstring> opened;
  for (const SimulatedDriveCall& call : platform.Calls()) {
    if (call.kind == SimulatedDriveCall::kOpen) opened.push_back(call.fileName);
  }
  std::vector<std::wstring> expected;
  for (int index = 0; index <= 9; ++index) expected.push_back(DrivePath(index));
  EXPECT_EQ(opened, expected);
  EXPECT_EQ(out.Written(), "");
}

TEST(ListDriveSerials, FlushesEachLineBeforeTheNextDriveIsOpened) {
  FlushedOutput out;
  SimulatedDrivePlatform platform([&out] { return out.Flushed(); });
  AddDrives(platform, {{1, "ONE"}, {2, ""}, {7, "SEVEN"}});
  ListDriveSerials(platform, out.Stream());

  const std::string lineOne = "\\\\.\\PhysicalDrive1: ONE\n";
  const std::string lineSeven = "\\\\.\\PhysicalDrive7: SEVEN\n";
  std::map<std::wstring, std::string> flushedAtOpen;
  for (const SimulatedDriveCall& call : platform.Calls()) {
    if (call.kind == SimulatedDriveCall::kOpen) flushedAtOpen[call.fileName] = call.flushedOutput;
  }
  EXPECT_EQ(flushedAtOpen.at(DrivePath(1)), "");
  EXPECT_EQ(flushedAtOpen.at(DrivePath(2)), lineOne);
  EXPECT_EQ(flushedAtOpen.at(DrivePath(7)), lineOne);
  EXPECT_EQ(flushedAtOpen.at(DrivePath(8)), lineOne + lineSeven);
  EXPECT_EQ(out.Flushed(), lineOne + lineSeven);
}

TEST(ListDriveSerials, ReturnsZeroWhateverTheDrivesAnswer) {
  SimulatedDrive refusesHeader;
  refusesHeader.answersHeaderRequest = false;
  SimulatedDrive refusesDescriptor;
  refusesDescriptor.answersDescriptorRequest = false;
  refusesDescriptor.descriptor = DeviceDescriptor("X");
  SimulatedDrive garbage;
  garbage.descriptor = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  garbage.overrideHeaderSize = true;
  garbage.headerSize = 6;

  SimulatedDrivePlatform platform;
  platform.AddDrive(DrivePath(0), refusesHeader);
  platform.AddDrive(DrivePath(1), refusesDescriptor);
  platform.AddDrive(DrivePath(2), garbage);
  AddDrives(platform, {{3, "OK"}});
  FlushedOutput out;
  EXPECT_EQ(ListDriveSerials(platform, out.Stream()), 0);
  EXPECT_EQ(out.Flushed(), "\\\\.\\PhysicalDrive3: OK\n");
}

// A drive that claims a descriptor larger than the process can have (4 GiB: beyond a
// 32-bit address space, and beyond what the host build's allocator gives) gives no
// serial; its handle is closed and the drives after it are still listed.
TEST(ListDriveSerials, GoesOnPastADescriptorTooLargeToAllocate) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr bool kAllocatorLimited = true;  // see the host test preset's ASAN_OPTIONS
#else
  constexpr bool kAllocatorLimited = false;
#endif
  if (sizeof(void*) != 4 && !kAllocatorLimited) {
    GTEST_SKIP() << "a 64-bit process without a limited allocator may get 4 GiB";
  }
  SimulatedDrive huge;
  huge.descriptor = DeviceDescriptor("HUGE");
  huge.overrideHeaderSize = true;
  huge.headerSize = 0xFFFFFFF0u;
  SimulatedDrivePlatform platform;
  platform.AddDrive(DrivePath(0), huge);
  AddDrives(platform, {{1, "NEXT"}});
  FlushedOutput out;
  EXPECT_EQ(ListDriveSerials(platform, out.Stream()), 0);
  EXPECT_EQ(out.Flushed(), "\\\\.\\PhysicalDrive1: NEXT\n");
  // Drive 0: its header asked for, no descriptor request, its handle closed.
  Trace driveZero;
  for (const std::string& call : platform.Trace()) {
    if (call == "open \\\\.\\PhysicalDrive1") break;
    driveZero.push_back(call);
  }
  EXPECT_EQ(driveZero, (Trace{"open \\\\.\\PhysicalDrive0", "request 8", "close"}));
}

// A stream that has failed stays failed; the run still ends with status 0.
TEST(ListDriveSerials, IgnoresAFailedOutputStream) {
  SimulatedDrivePlatform platform;
  AddDrives(platform, {{0, "A"}, {1, "B"}});
  FlushedOutput out;
  out.Stream().setstate(std::ios::badbit);
  EXPECT_EQ(ListDriveSerials(platform, out.Stream()), 0);
  EXPECT_EQ(out.Written(), "");
  std::vector<std::wstring> opened;
  for (const SimulatedDriveCall& call : platform.Calls()) {
    if (call.kind == SimulatedDriveCall::kOpen) opened.push_back(call.fileName);
  }
  EXPECT_EQ(opened.size(), 10u) << "the run stopped querying drives";
}

}  // namespace
