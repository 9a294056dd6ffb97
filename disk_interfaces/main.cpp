#include <iostream>

#include "interface_walk.h"
#include "windows_disk_platform.h"

int main() {
  WindowsDiskPlatform platform;
  return ListDiskInterfaces(platform, std::cout);
}
