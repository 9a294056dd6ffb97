#include "step_failure.h"

void ReportStepFailure(const StepFailure& failure, std::ostream& out) {
  out << failure.Label << " failed at " << failure.Location << " : Error Code - " << failure.Code
      << std::endl;
}

int FailureExitStatus(const StepFailure& failure) {
  // The full 32 bits reach the parent as the process exit code.
  return failure.Code == 0 ? 1 : static_cast<int>(failure.Code);
}
