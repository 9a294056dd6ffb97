#pragma once

#include <cstdint>
#include <ostream>

// The one step of a disk_interfaces run that failed.
struct StepFailure {
  const char* Label;       // the step's fixed label
  std::uint32_t Location;  // the step's fixed location number
  std::uint32_t Code;      // the calling thread's last-error value, untranslated
};

// Writes "<Label> failed at <Location> : Error Code - <Code>" and a line feed, then
// flushes. The line is written for every code, 0 included: a run that stopped early
// must never look like a complete listing.
void ReportStepFailure(const StepFailure& failure, std::ostream& out);

// The exit status of a run that ended with `failure`: its code, or 1 when the
// platform gave none, so that a failure never reads as success.
int FailureExitStatus(const StepFailure& failure);
