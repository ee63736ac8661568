// A small library image for the PE header reader's tests and fuzz target: one section, at file
// offset 0x200 and address 0x1000, that holds the import table (first.dll, second.dll).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace test_pe_image {

using Bytes = std::vector<uint8_t>;

constexpr size_t kPe = 0x40;
constexpr size_t kOptional = kPe + 24;
constexpr size_t kSectionFile = 0x200;

inline void Put16(Bytes* image, size_t at, uint16_t value) {
  (*image)[at] = static_cast<uint8_t>(value);
  (*image)[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void Put32(Bytes* image, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) (*image)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline Bytes Library(uint16_t machine, bool pe32Plus) {
  Bytes image(0x300, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(&image, 0x3C, kPe);
  image[kPe] = 'P';
  image[kPe + 1] = 'E';
  Put16(&image, kPe + 4, machine);
  Put16(&image, kPe + 6, 1);
  const size_t directories = pe32Plus ? 112 : 96;
  const uint16_t optionalBytes = static_cast<uint16_t>(directories + 16 * 8);
  Put16(&image, kPe + 20, optionalBytes);
  Put16(&image, kOptional, pe32Plus ? 0x20B : 0x10B);
  Put32(&image, kOptional + directories - 4, 16);
  Put32(&image, kOptional + directories + 8, 0x1000);
  Put32(&image, kOptional + directories + 12, 60);
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

}  // namespace test_pe_image
