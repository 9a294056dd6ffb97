// Prints the version resource of an executable as Windows reads it for the file's
// properties, for tests only: the fixed file and product versions, then the strings
// of the first translation.
#include <windows.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  if (size == 0) {
    std::printf("no version resource\n");
    return 1;
  }
  std::vector<char> block(size);
  if (!GetFileVersionInfoA(argv[1], 0, size, block.data())) return 1;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length)) return 1;
  std::printf("fixed file version: %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
              LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
              LOWORD(fixed->dwFileVersionLS));
  std::printf("fixed product version: %u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS),
              LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
              LOWORD(fixed->dwProductVersionLS));
  std::printf("file type: %s\n", fixed->dwFileType == VFT_APP ? "application" : "other");

  WORD* translation = nullptr;
  if (!VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &length) ||
      length < 4) {
    return 1;
  }
  std::printf("translation: %04x %04x\n", translation[0], translation[1]);
  for (const char* name : {"FileDescription", "FileVersion", "InternalName", "OriginalFilename",
                           "ProductName", "ProductVersion"}) {
    char path[128];
    std::snprintf(path, sizeof path, "\\StringFileInfo\\%04x%04x\\%s", translation[0],
                  translation[1], name);
    char* value = nullptr;
    if (!VerQueryValueA(block.data(), path, reinterpret_cast<void**>(&value), &length)) {
      std::printf("%s: (missing)\n", name);
    } else {
      std::printf("%s: %s\n", name, value);
    }
  }
  return 0;
}
