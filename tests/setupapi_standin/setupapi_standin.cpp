// A stand-in for the device-setup DLL, for tests of the shipped disk_interfaces.exe
// only: it never ships. Placed beside a copy of the executable and loaded in place of
// the system's setupapi.dll (WINEDLLOVERRIDES=setupapi=n,b), it answers the four
// functions the executable imports from a scenario in the environment variable
// DISK_STANDIN, a list of items separated by ',':
//
//   path=P            one more disk interface, with device path P; the items below
//                     apply to the interface named last
//   size-error=N      the size query leaves N as last-error value instead of 122
//   size-result=1     the size query returns TRUE
//   required=N        the size query reports N bytes as the required size
//   detail-error=N    the detail query fails with N
//   unterminated      the detail query writes the path with no zero byte after it
//   classdevs-error=N the device information set is refused with N
//   end-error=N       the enumeration past the last interface fails with N, not 259
//
// The device paths are opened by the real kernel32. The stand-in itself serves one
// path: the named pipe \\.\pipe\disk-standin, which opens but refuses the
// device-number request. Each destruction of the device information set writes the
// line "[SetupDiDestroyDeviceInfoList]" straight to standard output, so a test sees
// when it happened relative to the program's own lines, and how often.
// This file defines the functions that setupapi.h declares as imported.
#define _SETUPAPI_
#include <windows.h>

#include <setupapi.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Interface {
  std::string path;
  DWORD sizeError = ERROR_INSUFFICIENT_BUFFER;
  BOOL sizeResult = FALSE;
  bool requiredGiven = false;
  DWORD required = 0;
  bool detailFails = false;
  DWORD detailError = 0;
  bool terminated = true;
};

struct Scenario {
  bool classDevsFails = false;
  DWORD classDevsError = 0;
  DWORD endError = ERROR_NO_MORE_ITEMS;
  std::vector<Interface> interfaces;
};

HDEVINFO const kSet = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5E7));
Scenario scenario;
bool setOpen = false;
HANDLE pipe = INVALID_HANDLE_VALUE;

DWORD Number(const std::string& text) {
  return static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 10));
}

Scenario ReadScenario() {
  Scenario result;
  char buffer[4096];
  const DWORD length = GetEnvironmentVariableA("DISK_STANDIN", buffer, sizeof buffer);
  const std::string text = length < sizeof buffer ? std::string(buffer, length) : std::string();
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    start = end + 1;
    const std::size_t equals = item.find('=');
    const std::string key = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : item.substr(equals + 1);
    Interface* last = result.interfaces.empty() ? nullptr : &result.interfaces.back();
    if (key == "path") {
      result.interfaces.push_back(Interface{value});
    } else if (key == "classdevs-error") {
      result.classDevsFails = true;
      result.classDevsError = Number(value);
    } else if (key == "end-error") {
      result.endError = Number(value);
    } else if (last && key == "size-error") {
      last->sizeError = Number(value);
    } else if (last && key == "size-result") {
      last->sizeResult = static_cast<BOOL>(Number(value));
    } else if (last && key == "required") {
      last->requiredGiven = true;
      last->required = Number(value);
    } else if (last && key == "detail-error") {
      last->detailFails = true;
      last->detailError = Number(value);
    } else if (last && key == "unterminated") {
      last->terminated = false;
    }
  }
  return result;
}

void WriteMarker() {
  static const char kMarker[] = "[SetupDiDestroyDeviceInfoList]\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kMarker, sizeof kMarker - 1, &written, nullptr);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

extern "C" {

// The clang-format of Debian 12 and that of Debian 13 break these exported signatures
// differently, so they are kept as they are.
// clang-format off
__declspec(dllexport) HDEVINFO WINAPI
    SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent, DWORD flags) {
  // clang-format on
  (void)classGuid;
  (void)enumerator;
  (void)parent;
  (void)flags;
  scenario = ReadScenario();
  if (scenario.classDevsFails) {
    SetLastError(scenario.classDevsError);
    return INVALID_HANDLE_VALUE;
  }
  pipe = CreateNamedPipeA("\\\\.\\pipe\\disk-standin", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                          PIPE_UNLIMITED_INSTANCES, 512, 512, 0, nullptr);
  setOpen = true;
  SetLastError(ERROR_SUCCESS);
  return kSet;
}

// clang-format off
__declspec(dllexport) BOOL WINAPI
    SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA devInfo, const GUID* classGuid,
                                DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
  // clang-format on
  (void)devInfo;
  (void)classGuid;
  if (set != kSet || !setOpen) return Fail(ERROR_INVALID_HANDLE);
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
    return Fail(ERROR_INVALID_USER_BUFFER);
  if (index >= scenario.interfaces.size()) return Fail(scenario.endError);
  data->Flags = SPINT_ACTIVE;
  data->Reserved = index + 1;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// clang-format off
__declspec(dllexport) BOOL WINAPI
    SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                     PDWORD requiredSize, PSP_DEVINFO_DATA devInfo) {
  // clang-format on
  (void)devInfo;
  if (set != kSet || !setOpen) return Fail(ERROR_INVALID_HANDLE);
  if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
      data->Reserved > scenario.interfaces.size()) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const Interface& entry = scenario.interfaces[data->Reserved - 1];
  const DWORD pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  const DWORD pathBytes = static_cast<DWORD>(entry.path.size()) + (entry.terminated ? 1 : 0);
  const DWORD required = entry.requiredGiven ? entry.required : pathOffset + pathBytes;

  if (!detail) {
    if (requiredSize) *requiredSize = required;
    SetLastError(entry.sizeError);
    return entry.sizeResult;
  }
  if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) || detailSize < pathOffset + 1) {
    return Fail(ERROR_INVALID_USER_BUFFER);
  }
  if (entry.detailFails) return Fail(entry.detailError);
  if (detailSize < pathOffset + pathBytes) {
    if (requiredSize) *requiredSize = required;
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(detail->DevicePath, entry.path.data(), entry.path.size());
  if (entry.terminated) detail->DevicePath[entry.path.size()] = 0;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  WriteMarker();
  if (set != kSet || !setOpen) return Fail(ERROR_INVALID_HANDLE);
  setOpen = false;
  if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  pipe = INVALID_HANDLE_VALUE;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

}  // extern "C"
