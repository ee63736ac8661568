// The header reader on built images, and on every cut and corruption of one: it must answer
// from what lies in the bytes and never read past them (the host build runs it under ASan).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diag/pe_header.h"
#include "tests/diag/test_pe_image.h"

namespace {

using test_pe_image::Bytes;
using test_pe_image::kOptional;
using test_pe_image::kPe;
using test_pe_image::kSectionFile;
using test_pe_image::Library;
using test_pe_image::Put16;
using test_pe_image::Put32;

PeHeader Parse(const Bytes& bytes) {
  return ParsePeHeader(bytes.data(), bytes.size());
}

const std::vector<std::string> kImports = {"first.dll", "second.dll"};

TEST(PeHeaderTest, ReadsMachineAndImports) {
  for (const auto& [machine, pe32Plus] :
       {std::pair<uint16_t, bool>{kMachineX64, true}, std::pair<uint16_t, bool>{0x014C, false},
        std::pair<uint16_t, bool>{0xAA64, true}}) {
    const PeHeader header = Parse(Library(machine, pe32Plus));
    EXPECT_TRUE(header.isImage);
    EXPECT_EQ(header.machine, machine);
    EXPECT_EQ(header.imports, kImports);
  }
  EXPECT_STREQ(MachineName(0x014C), "32-bit x86");
  EXPECT_STREQ(MachineName(0x1234), "unknown machine");
  const Bytes text = {'n', 'o', 't', ' ', 'a', ' ', 'l', 'i', 'b', 'r', 'a', 'r', 'y'};
  EXPECT_FALSE(Parse(text).isImage);
}

TEST(PeHeaderTest, StaysInsideCutAndCorruptImages) {
  const Bytes whole = Library(kMachineX64, true);
  for (size_t size = 0; size <= whole.size(); ++size) {
    const PeHeader header = Parse(Bytes(whole.begin(), whole.begin() + size));
    EXPECT_EQ(header.isImage, size >= kPe + 24) << size;
    ASSERT_LE(header.imports.size(), kImports.size()) << size;
    for (size_t i = 0; i < header.imports.size(); ++i) {
      // A name cut by the end of the file reads as far as it goes.
      EXPECT_EQ(kImports[i].rfind(header.imports[i], 0), 0u) << size;
    }
  }
  const size_t section = kOptional + 112 + 16 * 8;
  struct Corruption {
    size_t at;
    uint32_t value;
    int width;  // bytes written
    bool isImage;
    size_t imports;
  };
  const Corruption corruptions[] = {
      {0x3C, 0xFFFFFFF0, 4, false, 0},          // PE header beyond the file
      {kPe + 20, 0xFFFF, 2, true, 0},           // optional header beyond the file
      {section + 20, 0xFFFFFFF0, 4, true, 0},   // section data beyond the file
      {kPe + 6, 0xFFFF, 2, true, 2},            // more section headers than the file holds
      {kSectionFile + 12, 0x2000, 4, true, 1},  // a name outside every section
  };
  for (const Corruption& corruption : corruptions) {
    Bytes bytes = whole;
    if (corruption.width == 2) {
      Put16(&bytes, corruption.at, static_cast<uint16_t>(corruption.value));
    } else {
      Put32(&bytes, corruption.at, corruption.value);
    }
    const PeHeader header = Parse(bytes);
    EXPECT_EQ(header.isImage, corruption.isImage) << corruption.at;
    EXPECT_EQ(header.imports.size(), corruption.imports) << corruption.at;
  }
  // A table without its closing entry ends with the file.
  Bytes unterminated = whole;
  for (size_t at = kSectionFile + 40; at < unterminated.size(); at += 20) {
    Put32(&unterminated, at + 12, 0x1050);
  }
  EXPECT_LE(Parse(unterminated).imports.size(), (whole.size() - kSectionFile) / 20);
}

}  // namespace
