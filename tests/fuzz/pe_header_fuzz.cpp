// Fuzz target: the companion's PE header reader over arbitrary bytes. It must stay inside them
// (AddressSanitizer watches every read) and answer only what lies in them: an image only with
// both signatures, import names no longer than the reader's bound and without NULs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "diag/pe_header.h"

namespace {

constexpr size_t kMaxNameBytes = 256;
constexpr size_t kMaxImports = 1024;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pe_header: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so that any read past them is caught.
  const std::vector<uint8_t> bytes(data, data + size);
  const PeHeader header = ParsePeHeader(bytes.data(), bytes.size());
  if (!header.isImage) {
    if (header.machine != 0 || !header.imports.empty()) Fail("facts without an image");
    return 0;
  }
  if (size < 64 || bytes[0] != 'M' || bytes[1] != 'Z') Fail("an image without MZ");
  uint32_t pe = 0;
  std::memcpy(&pe, bytes.data() + 0x3C, sizeof(pe));
  if (pe > size || size - pe < 24 || std::memcmp(bytes.data() + pe, "PE\0\0", 4) != 0) {
    Fail("an image without the PE signature");
  }
  if (header.imports.size() > kMaxImports) Fail("more imports than the bound");
  for (const std::string& name : header.imports) {
    if (name.empty() || name.size() > kMaxNameBytes) Fail("an import name out of bounds");
    if (name.find('\0') != std::string::npos) Fail("a NUL in an import name");
  }
  return 0;
}
