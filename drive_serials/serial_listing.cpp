#include "serial_listing.h"

#include <string>

#include "serial_query.h"

int ListDriveSerials(DrivePlatform& platform, std::ostream& out) {
  for (int driveIndex = 0; driveIndex <= 9; ++driveIndex) {
    const std::string serial = QueryDriveSerial(platform, driveIndex);
    if (!serial.empty()) {
      out << "\\\\.\\PhysicalDrive" << driveIndex << ": " << serial << std::endl;
    }
  }
  return 0;
}
