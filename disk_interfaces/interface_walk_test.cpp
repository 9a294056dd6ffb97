#include "interface_walk.h"

#include <gtest/gtest.h>

#include "flushed_output.h"
#include "simulated_disk_platform.h"

namespace {

using Trace = std::vector<std::string>;

const char kPathA[] = "\\\\?\\ide#diskst3500418as#5vm1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const char kPathB[] = "\\\\?\\scsi#disk&ven_samsung#4&1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
const char kPathC[] = "\\\\?\\usbstor#disk&ven_sandisk#1&2#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

SimulatedInterface Interface(const char* path, std::uint32_t deviceNumber) {
  SimulatedInterface interface;
  interface.devicePath = path;
  interface.deviceNumber = deviceNumber;
  return interface;
}

std::string Block(const std::string& path, const std::string& number) {
  return path + "\n\\\\?\\PhysicalDrive" + number + "\n\n";
}

SimulatedSetup WithInterfaces(std::vector<SimulatedInterface> interfaces) {
  SimulatedSetup setup;
  setup.interfaces = std::move(interfaces);
  return setup;
}

struct WalkResult {
  int status;
  std::string flushed;
  std::string written;
};

WalkResult RunWalk(SimulatedDiskPlatform& platform, FlushedOutput& out) {
  const int status = ListDiskInterfaces(platform, out.Stream());
  return {status, out.Flushed(), out.Written()};
}

TEST(ListDiskInterfaces, PassesThePlatformExactlyTheDocumentedArguments) {
  FlushedOutput out;
  SimulatedDiskPlatform platform(WithInterfaces({Interface(kPathA, 0), Interface(kPathB, 1)}));
  ASSERT_EQ(RunWalk(platform, out).status, 0);

  std::vector<std::uint32_t> indexes, detailSizes;
  std::vector<std::string> opened;
  for (const SimulatedDiskCall& call : platform.Calls()) {
    SCOPED_TRACE(call.name);
    if (call.name == "SetupDiGetClassDevsA") {
      EXPECT_TRUE(call.guidIsDiskClass);
      EXPECT_FALSE(call.enumeratorGiven);
      EXPECT_FALSE(call.parentWindowGiven);
      EXPECT_EQ(call.flags, 0x12u);
    } else if (call.name == "SetupDiEnumDeviceInterfaces") {
      EXPECT_FALSE(call.deviceInfoDataGiven);
      EXPECT_TRUE(call.guidIsDiskClass);
      EXPECT_EQ(call.interfaceDataSize, sizeof(void*) == 4 ? 28u : 32u);
      indexes.push_back(call.memberIndex);
    } else if (call.name == "SetupDiGetDeviceInterfaceDetailA" && !call.detailGiven) {
      EXPECT_EQ(call.detailSize, 0u);
      EXPECT_TRUE(call.requiredSizeGiven);
      EXPECT_FALSE(call.deviceInfoDataGiven);
    } else if (call.name == "SetupDiGetDeviceInterfaceDetailA") {
      detailSizes.push_back(call.detailSize);
      EXPECT_EQ(call.detailCbSize, sizeof(void*) == 4 ? 5u : 8u);
      EXPECT_FALSE(call.requiredSizeGiven);
      EXPECT_FALSE(call.deviceInfoDataGiven);
    } else if (call.name == "CreateFileA") {
      opened.push_back(call.fileName);
      EXPECT_EQ(call.desiredAccess, 0x80000000u);
      EXPECT_EQ(call.shareMode, 3u);
      EXPECT_FALSE(call.securityAttributesGiven);
      EXPECT_EQ(call.creationDisposition, 3u);
      EXPECT_EQ(call.flagsAndAttributes, 0x80u);
      EXPECT_FALSE(call.templateFileGiven);
    } else if (call.name == "DeviceIoControl") {
      EXPECT_EQ(call.ioControlCode, 0x2D1080u);
      EXPECT_FALSE(call.inBufferGiven);
      EXPECT_EQ(call.inBufferSize, 0u);
      EXPECT_EQ(call.outBufferSize, 12u);
      EXPECT_TRUE(call.bytesReturnedGiven);
      EXPECT_FALSE(call.overlappedGiven);
    }
  }
  EXPECT_EQ(indexes, (std::vector<std::uint32_t>{0, 1, 2}));
  EXPECT_EQ(opened, (std::vector<std::string>{kPathA, kPathB}));
  // The size that the size query reported: the path, its zero byte and what precedes it.
  EXPECT_EQ(detailSizes, (std::vector<std::uint32_t>{kDevicePathOffset + sizeof kPathA,
                                                     kDevicePathOffset + sizeof kPathB}));
}

// The calls in order, leaving out the reads of the last-error value: how often the
// walk reads it is its own affair, what it reads is checked where it matters.
Trace WithoutLastErrorReads(const Trace& trace) {
  Trace calls;
  for (const std::string& call : trace) {
    if (call.rfind("GetLastError", 0) != 0) calls.push_back(call);
  }
  return calls;
}

// The last-error values read right after the call at `index`, before any other call.
std::vector<std::uint32_t> ReadsRightAfter(const std::vector<SimulatedDiskCall>& calls,
                                           std::size_t index) {
  std::vector<std::uint32_t> values;
  for (std::size_t i = index + 1; i < calls.size() && calls[i].name == "GetLastError"; ++i)
    values.push_back(calls[i].lastError);
  return values;
}

// One interface from start to end, call by call. The buffer has one byte more than
// the platform asked for: the zero byte that always ends DevicePath.
TEST(ListDiskInterfaces, MakesTheCallsOfOneInterfaceInOrder) {
  FlushedOutput out;
  SimulatedDiskPlatform platform(WithInterfaces({Interface(kPathA, 2)}));
  ASSERT_EQ(RunWalk(platform, out).status, 0);
  const std::uint32_t required = kDevicePathOffset + sizeof kPathA;
  const Trace expected = {
      "SetupDiGetClassDevsA",
      "SetupDiEnumDeviceInterfaces 0",
      "SetupDiGetDeviceInterfaceDetailA size query",
      "malloc " + std::to_string(required + 1),
      "SetupDiGetDeviceInterfaceDetailA " + std::to_string(required),
      std::string("CreateFileA ") + kPathA,
      "DeviceIoControl",
      "CloseHandle",
      "free",
      "SetupDiEnumDeviceInterfaces 1",
      "SetupDiDestroyDeviceInfoList",
  };
  EXPECT_EQ(WithoutLastErrorReads(platform.Trace()), expected);

  // The size query and the enumeration past the end are judged by the last-error
  // value alone, read before anything else is called.
  const auto& calls = platform.Calls();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].name == "SetupDiGetDeviceInterfaceDetailA" && !calls[i].detailGiven) {
      EXPECT_FALSE(ReadsRightAfter(calls, i).empty()) << "size query result not read";
      for (std::uint32_t value : ReadsRightAfter(calls, i)) EXPECT_EQ(value, 122u);
    }
    if (calls[i].name == "SetupDiEnumDeviceInterfaces" && calls[i].memberIndex == 1) {
      EXPECT_FALSE(ReadsRightAfter(calls, i).empty()) << "end of the enumeration not read";
      for (std::uint32_t value : ReadsRightAfter(calls, i)) EXPECT_EQ(value, 259u);
    }
  }
}

TEST(ListDiskInterfaces, WritesABlockPerInterfaceInEnumerationOrder) {
  struct Case {
    const char* name;
    std::vector<SimulatedInterface> interfaces;
    std::string output;
  };
  const Case cases[] = {
      {"no interface", {}, ""},
      {"three interfaces",
       {Interface(kPathA, 0), Interface(kPathB, 3), Interface(kPathC, 1)},
       Block(kPathA, "0") + Block(kPathB, "3") + Block(kPathC, "1")},
      {"largest device number", {Interface(kPathA, 4294967295u)}, Block(kPathA, "4294967295")},
      {"two-digit device number", {Interface(kPathB, 10)}, Block(kPathB, "10")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlushedOutput out;
    SimulatedDiskPlatform platform(WithInterfaces(c.interfaces));
    const WalkResult run = RunWalk(platform, out);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.written, c.output);
    EXPECT_EQ(run.flushed, c.output);
    // Each device closed and each buffer freed once its block is written; the set last.
    Trace releases;
    for (std::size_t i = 0; i < c.interfaces.size(); ++i) {
      releases.push_back("CloseHandle");
      releases.push_back("free");
    }
    releases.push_back("SetupDiDestroyDeviceInfoList");
    EXPECT_EQ(platform.Releases(), releases);
  }
}

TEST(ListDiskInterfaces, FlushesEveryLineBeforeItsNextPlatformCall) {
  FlushedOutput out;
  SimulatedDiskPlatform platform(WithInterfaces({Interface(kPathA, 0), Interface(kPathB, 1)}),
                                 [&out] { return out.Flushed(); });
  RunWalk(platform, out);
  std::vector<std::string> flushedAtClose, flushedAtFree, flushedAtEnumeration;
  for (const SimulatedDiskCall& call : platform.Calls()) {
    if (call.name == "CloseHandle") flushedAtClose.push_back(call.flushedOutput);
    if (call.name == "free") flushedAtFree.push_back(call.flushedOutput);
    if (call.name == "SetupDiEnumDeviceInterfaces")
      flushedAtEnumeration.push_back(call.flushedOutput);
  }
  const std::string first = Block(kPathA, "0");
  const std::string both = first + Block(kPathB, "1");
  // The device is closed before its block is written; the buffer is released after.
  EXPECT_EQ(flushedAtClose, (std::vector<std::string>{"", first}));
  EXPECT_EQ(flushedAtFree, (std::vector<std::string>{first, both}));
  EXPECT_EQ(flushedAtEnumeration, (std::vector<std::string>{"", first, both}));
}

// Every step that can fail: its line after the blocks already written, its exit
// status, the code read right after the failing call with no other call in between,
// and the releases that follow, each made only once the line had been flushed.
TEST(ListDiskInterfaces, ReportsTheFirstFailingStepThenReleasesWhatItHolds) {
  struct Case {
    const char* name;
    SimulatedSetup setup;
    std::string output;
    std::uint32_t status;  // all 32 bits of the exit status
    std::string failingCall;
    Trace releases;
  };
  auto failing = [](SimulatedInterface interface, auto field, std::uint32_t code) {
    interface.*field = code;
    return interface;
  };
  SimulatedInterface sizeQueryWrong = Interface(kPathB, 1);
  sizeQueryWrong.sizeQueryError = 87;
  SimulatedInterface sizeQuerySucceeds = Interface(kPathB, 1);
  sizeQuerySucceeds.sizeQueryResult = 1;
  sizeQuerySucceeds.sizeQueryError = 1168;
  SimulatedSetup setRefused;
  setRefused.classDevsFails = 5;
  SimulatedSetup noMemory = WithInterfaces({Interface(kPathA, 0)});
  noMemory.heapLimit = 0;
  noMemory.mallocFailureError = 8;
  SimulatedSetup enumerationFails = WithInterfaces({Interface(kPathA, 0), Interface(kPathB, 1)});
  enumerationFails.enumerationEndError = 1167;
  SimulatedSetup firstEnumerationFails;
  firstEnumerationFails.enumerationEndError = 6;
  auto openFailsWith = [&](std::uint32_t code) {
    return WithInterfaces({Interface(kPathA, 0),
                           failing(Interface(kPathB, 1), &SimulatedInterface::openFails, code),
                           Interface(kPathC, 2)});
  };

  const std::string blockA = Block(kPathA, "0");
  const Trace setOnly = {"SetupDiDestroyDeviceInfoList"};
  const Trace setAndBuffer = {"SetupDiDestroyDeviceInfoList", "free"};
  const Case cases[] = {
      {"58 device information set refused",
       setRefused,
       "SetupDiGetClassDevs failed at 58 : Error Code - 5\n",
       5,
       "SetupDiGetClassDevsA",
       {}},
      {"79 size query leaves another error", WithInterfaces({Interface(kPathA, 0), sizeQueryWrong}),
       blockA + "SetupDiGetDeviceInterfaceDetail - 1 failed at 79 : Error Code - 87\n", 87,
       "SetupDiGetDeviceInterfaceDetailA", setOnly},
      {"79 size query reports success", WithInterfaces({sizeQuerySucceeds}),
       "SetupDiGetDeviceInterfaceDetail - 1 failed at 79 : Error Code - 1168\n", 1168,
       "SetupDiGetDeviceInterfaceDetailA", setOnly},
      {"83 no memory", noMemory, "malloc failed at 83 : Error Code - 8\n", 8, "malloc", setOnly},
      {"94 detail query refused",
       WithInterfaces({failing(Interface(kPathA, 0), &SimulatedInterface::detailQueryFails, 13)}),
       "SetupDiGetDeviceInterfaceDetail - 2 failed at 94 : Error Code - 13\n", 13,
       "SetupDiGetDeviceInterfaceDetailA", setAndBuffer},
      {"104 device cannot be opened", openFailsWith(5),
       blockA + "CreateFile failed at 104 : Error Code - 5\n", 5, "CreateFileA", setAndBuffer},
      {"104 code with the top bit set, all 32 bits returned", openFailsWith(0x80000000u),
       blockA + "CreateFile failed at 104 : Error Code - 2147483648\n", 0x80000000u, "CreateFileA",
       setAndBuffer},
      {"104 largest code", openFailsWith(0xFFFFFFFFu),
       blockA + "CreateFile failed at 104 : Error Code - 4294967295\n", 0xFFFFFFFFu, "CreateFileA",
       setAndBuffer},
      // No code from the platform: still a failure, never a success.
      {"104 code 0 gives status 1", openFailsWith(0),
       blockA + "CreateFile failed at 104 : Error Code - 0\n", 1, "CreateFileA", setAndBuffer},
      {"114 device number refused",
       WithInterfaces({failing(Interface(kPathA, 0), &SimulatedInterface::deviceNumberFails, 1)}),
       "IOCTL_STORAGE_GET_DEVICE_NUMBER failed at 114 : Error Code - 1\n",
       1,
       "DeviceIoControl",
       {"SetupDiDestroyDeviceInfoList", "CloseHandle", "free"}},
      {"124 enumeration fails after two blocks", enumerationFails,
       blockA + Block(kPathB, "1") +
           "SetupDiEnumDeviceInterfaces failed at 124 : Error Code - 1167\n",
       1167, "SetupDiEnumDeviceInterfaces", setOnly},
      {"124 first enumeration fails", firstEnumerationFails,
       "SetupDiEnumDeviceInterfaces failed at 124 : Error Code - 6\n", 6,
       "SetupDiEnumDeviceInterfaces", setOnly},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FlushedOutput out;
    SimulatedDiskPlatform platform(c.setup, [&out] { return out.Flushed(); });
    const WalkResult run = RunWalk(platform, out);
    EXPECT_EQ(run.written, c.output);
    EXPECT_EQ(run.flushed, c.output);
    EXPECT_EQ(static_cast<std::uint32_t>(run.status), c.status);

    // After the failing call: reads of the last-error value, then only the releases,
    // each made once the line had been flushed. Nothing else is visited.
    const auto& calls = platform.Calls();
    std::size_t failed = calls.size();
    while (failed > 0 && calls[failed - 1].name != c.failingCall) --failed;
    ASSERT_GT(failed, 0u) << c.failingCall << " never called";
    const std::size_t reads = ReadsRightAfter(calls, failed - 1).size();
    EXPECT_GE(reads, 1u) << "the code was not read right after " << c.failingCall;
    Trace releases;
    for (std::size_t i = failed + reads; i < calls.size(); ++i) {
      releases.push_back(calls[i].name);
      EXPECT_EQ(calls[i].flushedOutput, c.output) << "released before the line was flushed";
    }
    EXPECT_EQ(releases, c.releases);
  }
}

// A platform that fills the buffer with a path that has no zero byte: the path ends at
// the end of what the platform was allowed to fill, for the open and for the line.
TEST(ListDiskInterfaces, EndsAnUnterminatedDevicePathInsideTheBuffer) {
  SimulatedInterface unterminated = Interface(kPathA, 6);
  unterminated.pathTerminated = false;
  FlushedOutput out;
  SimulatedDiskPlatform platform(WithInterfaces({unterminated, Interface(kPathB, 7)}));
  const WalkResult run = RunWalk(platform, out);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.written, Block(kPathA, "6") + Block(kPathB, "7"));
}

// A required size too small for the record's fixed part: the walk still writes cbSize
// inside its own buffer and passes the platform the size it reported, which the
// platform refuses (ERROR_INVALID_USER_BUFFER).
TEST(ListDiskInterfaces, KeepsCbSizeInsideABufferTooSmallForTheRecord) {
  for (std::uint32_t required : {0u, 1u, kDevicePathOffset}) {
    SCOPED_TRACE(required);
    SimulatedInterface tiny = Interface(kPathA, 0);
    tiny.requiredSize = required;
    FlushedOutput out;
    SimulatedDiskPlatform platform(WithInterfaces({tiny}));
    const WalkResult run = RunWalk(platform, out);
    EXPECT_EQ(run.status, 1784);
    EXPECT_EQ(run.written,
              "SetupDiGetDeviceInterfaceDetail - 2 failed at 94 : Error Code - 1784\n");
    for (const SimulatedDiskCall& call : platform.Calls()) {
      if (call.name == "malloc") {
        EXPECT_EQ(call.allocationSize, kDetailFixedSize + 1);
      }
      if (call.name == "SetupDiGetDeviceInterfaceDetailA" && call.detailGiven) {
        EXPECT_EQ(call.detailSize, required);
      }
    }
  }
}

// A required size of 4 GiB - 1 needs a buffer of 4 GiB with the spare zero byte: more
// than a 32-bit process can address, and more than the heap gives a 64-bit one here.
// Either way the allocation yields nothing and is reported as such, with whatever the
// last-error value holds (the size query's 122); the size is never cut to 32 bits.
TEST(ListDiskInterfaces, ReportsARequiredSizeThatCannotBeAllocatedAsNoMemory) {
  SimulatedInterface huge = Interface(kPathA, 0);
  huge.requiredSize = 0xFFFFFFFFu;
  FlushedOutput out;
  SimulatedDiskPlatform platform(WithInterfaces({huge, Interface(kPathB, 1)}));
  const WalkResult run = RunWalk(platform, out);
  EXPECT_EQ(run.written, "malloc failed at 83 : Error Code - 122\n");
  EXPECT_EQ(run.status, 122);
  for (const SimulatedDiskCall& call : platform.Calls()) {
    EXPECT_FALSE(call.name == "SetupDiGetDeviceInterfaceDetailA" && call.detailGiven)
        << "detail query without a buffer of the size it was given";
    if (call.name == "malloc") {
      EXPECT_EQ(call.allocationSize, std::uint64_t{0x100000000});
    }
  }
}

}  // namespace
