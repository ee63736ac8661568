// Fuzz target: the companion's PE header reader over arbitrary bytes. It must stay inside them
// (AddressSanitizer watches every read) and answer only what lies in them: an image only with
// both signatures, import names within the reader's bound and without NULs.
//
// Input: the first byte chooses the form. Odd: the rest is the file as it stands. Even: the rest
// is a list of patches (offset low, offset high, byte) applied to a small valid library image
// with two imports, whose last patch-free pair of bytes, if any, cuts it; random bytes alone
// rarely reach the section and import tables.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "diag/pe_header.h"
#include "tests/diag/test_pe_image.h"

namespace {

using test_pe_image::Bytes;

constexpr size_t kMaxNameBytes = 256;
constexpr size_t kMaxImports = 1024;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pe_header: %s\n", what);
  std::abort();
}

void Check(const Bytes& bytes) {
  const size_t size = bytes.size();
  const PeHeader header = ParsePeHeader(bytes.data(), size);
  if (!header.isImage) {
    if (header.machine != 0 || !header.imports.empty()) Fail("facts without an image");
    return;
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    // A copy of exactly the file's bytes, so that any read past them is caught.
    Check(Bytes(data + 1, data + size));
    return 0;
  }
  Bytes image = test_pe_image::Library(kMachineX64, true);
  size_t at = 1;
  for (; at + 3 <= size; at += 3) {
    image[(data[at] | data[at + 1] << 8) % image.size()] = data[at + 2];
  }
  if (at + 2 == size) image.resize((data[at] | data[at + 1] << 8) % (image.size() + 1));
  image.shrink_to_fit();
  Check(image);
  return 0;
}
