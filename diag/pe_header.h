// What a library file's headers say: whether it is a Windows image at all, for which machine,
// and which DLLs it imports. Works on the file's bytes, any bytes: every read is bounds-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kMachineX64 = 0x8664;

struct PeHeader {
  bool isImage = false;  // "MZ" and the "PE\0\0" signature where the DOS header points
  uint16_t machine = 0;
  std::vector<std::string> imports;  // DLL names from the import directory, in order
};

PeHeader ParsePeHeader(const uint8_t* data, size_t size);

// "x86-64", "32-bit x86", "ARM64" and the like; "unknown machine" otherwise.
const char* MachineName(uint16_t machine);
