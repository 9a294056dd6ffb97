// An in-memory stand-in for the drives and kernel32, for tests. It records every
// call with every argument, answers from a script of drives, and fails the running
// test at once on a misuse the real platform would not forgive: a request on a
// handle that is not open, a handle closed twice, a handle left open, an output
// buffer shorter than the length passed with it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drive_platform.h"

struct SimulatedDrive {
  bool answersHeaderRequest = true;
  // The descriptor that the drive reports; the first request answers with its
  // STORAGE_DESCRIPTOR_HEADER unless headerSize overrides the Size reported there.
  std::vector<std::uint8_t> descriptor;
  bool overrideHeaderSize = false;
  std::uint32_t headerSize = 0;
  bool answersDescriptorRequest = true;
};

struct SimulatedDriveCall {
  enum Kind { kOpen, kRequest, kClose };
  Kind kind = kOpen;
  PlatformHandle handle = nullptr;  // returned by an open, passed to the others
  // CreateFileW
  std::wstring fileName;
  std::uint32_t desiredAccess = 0, shareMode = 0, creationDisposition = 0, flagsAndAttributes = 0;
  bool securityAttributesGiven = false, templateFileGiven = false;
  // DeviceIoControl
  std::uint32_t ioControlCode = 0;
  std::vector<std::uint8_t> input;
  std::uint32_t outBufferSize = 0;
  bool bytesReturnedGiven = false, overlappedGiven = false;
  // What the program had flushed to its output when the call was made.
  std::string flushedOutput;
};

class SimulatedDrivePlatform final : public DrivePlatform {
 public:
  // `flushedOutput` tells what the program under test has flushed so far; it is
  // recorded with every call.
  explicit SimulatedDrivePlatform(std::function<std::string()> flushedOutput = {});
  ~SimulatedDrivePlatform() override;

  // A drive behind `path`; paths without one fail to open.
  void AddDrive(const std::wstring& path, SimulatedDrive drive);

  const std::vector<SimulatedDriveCall>& Calls() const { return calls_; }
  // The calls in short form: "open \\.\PhysicalDrive3", "request 8", "close".
  std::vector<std::string> Trace() const;

  PlatformHandle CreateFileW(const wchar_t* fileName, std::uint32_t desiredAccess,
                             std::uint32_t shareMode, void* securityAttributes,
                             std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes,
                             PlatformHandle templateFile) override;
  int DeviceIoControl(PlatformHandle device, std::uint32_t ioControlCode, void* inBuffer,
                      std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                      std::uint32_t* bytesReturned, void* overlapped) override;
  int CloseHandle(PlatformHandle object) override;

 private:
  std::function<std::string()> flushedOutput_;
  std::map<std::wstring, SimulatedDrive> drives_;
  std::map<PlatformHandle, std::wstring> openHandles_;
  std::set<PlatformHandle> closedHandles_;
  std::uintptr_t nextHandle_ = 0x100;
  std::vector<SimulatedDriveCall> calls_;
};

// A STORAGE_DEVICE_DESCRIPTOR as a drive reports it: the 36-byte fixed part with
// Version and Size filled in, then `serial` (which may hold zero bytes of its own)
// and a terminating zero byte, with SerialNumberOffset pointing at the serial.
std::vector<std::uint8_t> DeviceDescriptor(const std::string& serial);
// The same fixed part with SerialNumberOffset 0: a drive that reports no serial.
std::vector<std::uint8_t> DeviceDescriptorWithoutSerial();
// Stores `value` little-endian at `offset`.
void PutLittleEndian32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);
