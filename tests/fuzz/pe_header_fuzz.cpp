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

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMaxNameBytes = 256;
constexpr size_t kMaxImports = 1024;

void Put16(Bytes* image, size_t at, uint16_t value) {
  (*image)[at] = static_cast<uint8_t>(value);
  (*image)[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(Bytes* image, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) (*image)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A PE32+ library: one section at file offset 0x200 and address 0x1000 holding the import
// table (first.dll, second.dll).
Bytes Library() {
  constexpr size_t kPe = 0x40, kOptional = kPe + 24, kSectionFile = 0x200, kDirectories = 112;
  Bytes image(0x300, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(&image, 0x3C, kPe);
  image[kPe] = 'P';
  image[kPe + 1] = 'E';
  Put16(&image, kPe + 4, 0x8664);
  Put16(&image, kPe + 6, 1);
  const uint16_t optionalBytes = kDirectories + 16 * 8;
  Put16(&image, kPe + 20, optionalBytes);
  Put16(&image, kOptional, 0x20B);
  Put32(&image, kOptional + kDirectories - 4, 16);
  Put32(&image, kOptional + kDirectories + 8, 0x1000);
  Put32(&image, kOptional + kDirectories + 12, 60);
  const size_t section = kOptional + optionalBytes;
  Put32(&image, section + 8, 0x100);
  Put32(&image, section + 12, 0x1000);
  Put32(&image, section + 16, 0x100);
  Put32(&image, section + 20, kSectionFile);
  Put32(&image, kSectionFile + 12, 0x1050);
  Put32(&image, kSectionFile + 20 + 12, 0x1060);
  const std::string names[] = {"first.dll", "second.dll"};
  for (size_t i = 0; i < 2; ++i) {
    std::memcpy(&image[kSectionFile + 0x50 + 0x10 * i], names[i].data(), names[i].size());
  }
  return image;
}

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
  Bytes image = Library();
  size_t at = 1;
  for (; at + 3 <= size; at += 3) {
    image[(data[at] | data[at + 1] << 8) % image.size()] = data[at + 2];
  }
  if (at + 2 == size) image.resize((data[at] | data[at + 1] << 8) % (image.size() + 1));
  image.shrink_to_fit();
  Check(image);
  return 0;
}
