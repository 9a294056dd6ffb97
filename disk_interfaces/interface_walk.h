#pragma once

#include <ostream>

#include "disk_platform.h"

// The run of disk_interfaces: for each present disk device interface, in the
// platform's order, writes its device path, "\\?\PhysicalDrive<N>" with the number
// the storage stack reports for it, and an empty line, flushing after every line.
// Stops at the first step that fails, writes its failure line and only then releases
// what it still holds. Returns the exit status: 0 after a complete walk, otherwise the
// failing step's code (1 when that code is 0).
int ListDiskInterfaces(DiskPlatform& platform, std::ostream& out);
