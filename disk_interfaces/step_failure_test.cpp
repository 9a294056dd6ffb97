#include "step_failure.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TEST(ReportStepFailure, WritesOneLineWithUnsignedDecimalNumbers) {
  struct Case {
    StepFailure failure;
    std::string line;
    std::uint32_t exitStatus;  // the 32 bits the process hands back
  };
  const Case cases[] = {
      {{"CreateFile", 104, 5}, "CreateFile failed at 104 : Error Code - 5\n", 5},
      {{"SetupDiGetClassDevs", 58, 0x80000000u},
       "SetupDiGetClassDevs failed at 58 : Error Code - 2147483648\n",
       0x80000000u},
      {{"SetupDiEnumDeviceInterfaces", 124, 0xFFFFFFFFu},
       "SetupDiEnumDeviceInterfaces failed at 124 : Error Code - 4294967295\n",
       0xFFFFFFFFu},
      // No code from the platform: the line is still written, and the status is 1.
      {{"malloc", 83, 0}, "malloc failed at 83 : Error Code - 0\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::ostringstream out;
    ReportStepFailure(c.failure, out);
    EXPECT_EQ(out.str(), c.line);
    EXPECT_EQ(static_cast<std::uint32_t>(FailureExitStatus(c.failure)), c.exitStatus);
  }
}

}  // namespace
