#pragma once

#include <ostream>

#include "drive_platform.h"

// The run of drive_serials: one line "\\.\PhysicalDriveN: <serial>" for each drive 0
// to 9 that reports a serial text, in ascending order, each line flushed before the
// next drive is queried. Always returns 0, the exit status.
int ListDriveSerials(DrivePlatform& platform, std::ostream& out);
