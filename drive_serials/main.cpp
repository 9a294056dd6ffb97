#include <iostream>

#include "serial_listing.h"
#include "windows_drive_platform.h"

int main() {
  WindowsDrivePlatform platform;
  return ListDriveSerials(platform, std::cout);
}
