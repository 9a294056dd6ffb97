#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "drive_platform.h"

// The serial-number text that physical drive `driveIndex` (0 to 9) reports about
// itself, exactly as stored; empty when the drive is absent, refuses a request or
// reports no serial. Opens the drive without read or write access and closes it
// before returning.
std::string QueryDriveSerial(DrivePlatform& platform, int driveIndex);

// The serial text of a STORAGE_DEVICE_DESCRIPTOR held in `descriptor[0, length)`:
// the bytes from SerialNumberOffset up to the first zero byte. Never reads outside
// the given bytes: a descriptor too short to hold SerialNumberOffset, or an offset
// that points at or past its end, gives the empty text; a serial with no zero byte
// before the end stops at the end.
std::string ParseSerialNumber(const std::uint8_t* descriptor, std::size_t length);

// "\\.\PhysicalDrive" followed by the single digit for `driveIndex`.
std::wstring DrivePath(int driveIndex);
