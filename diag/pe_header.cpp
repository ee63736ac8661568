#include "diag/pe_header.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kDosHeaderBytes = 64;
constexpr size_t kPeOffsetField = 0x3C;
constexpr size_t kFileHeaderBytes = 24;  // signature and COFF file header
constexpr size_t kSectionHeaderBytes = 40;
constexpr size_t kImportDescriptorBytes = 20;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr size_t kImportDirectory = 1;
// Far more than any real library; bounds the walk over a corrupt table.
constexpr size_t kMaxImports = 1024;
constexpr size_t kMaxNameBytes = 256;

bool Fits(size_t size, size_t offset, size_t length) {
  return offset <= size && length <= size - offset;
}

uint16_t Read16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}

uint32_t Read32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

class Image {
 public:
  Image(const uint8_t* data, size_t size, size_t sections, size_t sectionCount)
      : data_(data), size_(size), sections_(sections), sectionCount_(sectionCount) {}

  // The file offset of a relative virtual address, through the section that holds it.
  bool FileOffset(uint32_t rva, size_t* offset) const {
    for (size_t i = 0; i < sectionCount_; ++i) {
      const size_t header = sections_ + i * kSectionHeaderBytes;
      if (!Fits(size_, header, kSectionHeaderBytes)) return false;
      const uint32_t extent = std::max(Read32(data_ + header + 8), Read32(data_ + header + 16));
      const uint32_t start = Read32(data_ + header + 12);
      if (rva >= start && rva - start < extent) {
        *offset = static_cast<size_t>(Read32(data_ + header + 20)) + (rva - start);
        return true;
      }
    }
    return false;
  }

  // The NUL-terminated name at `rva`; empty when it does not lie in the file.
  std::string Name(uint32_t rva) const {
    size_t at = 0;
    std::string name;
    if (!FileOffset(rva, &at)) return name;
    for (; at < size_ && data_[at] != 0 && name.size() < kMaxNameBytes; ++at) {
      name += static_cast<char>(data_[at]);
    }
    return name;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t sections_;
  size_t sectionCount_;
};

}  // namespace

PeHeader ParsePeHeader(const uint8_t* data, size_t size) {
  PeHeader header;
  if (!Fits(size, 0, kDosHeaderBytes) || data[0] != 'M' || data[1] != 'Z') return header;
  const size_t pe = Read32(data + kPeOffsetField);
  if (!Fits(size, pe, kFileHeaderBytes) || std::memcmp(data + pe, "PE\0\0", 4) != 0) return header;
  header.isImage = true;
  header.machine = Read16(data + pe + 4);

  const size_t sectionCount = Read16(data + pe + 6);
  const size_t optional = pe + kFileHeaderBytes;
  const size_t optionalBytes = Read16(data + pe + 20);
  if (optionalBytes < 2 || !Fits(size, optional, optionalBytes)) return header;
  // The data directories follow the count of them, at a place that depends on the format.
  size_t directories = 0;
  switch (Read16(data + optional)) {
    case kPe32Magic:
      directories = 96;
      break;
    case kPe32PlusMagic:
      directories = 112;
      break;
    default:
      return header;
  }
  const size_t importEntry = directories + kImportDirectory * 8;
  if (optionalBytes < importEntry + 8) return header;
  if (Read32(data + optional + directories - 4) <= kImportDirectory) return header;
  const uint32_t importRva = Read32(data + optional + importEntry);
  if (importRva == 0) return header;

  const Image image(data, size, optional + optionalBytes, sectionCount);
  size_t descriptor = 0;
  if (!image.FileOffset(importRva, &descriptor)) return header;
  for (size_t i = 0; i < kMaxImports && Fits(size, descriptor, kImportDescriptorBytes); ++i) {
    const uint32_t nameRva = Read32(data + descriptor + 12);
    if (nameRva == 0) break;  // the table ends with an empty descriptor
    const std::string name = image.Name(nameRva);
    if (!name.empty()) header.imports.push_back(name);
    descriptor += kImportDescriptorBytes;
  }
  return header;
}

const char* MachineName(uint16_t machine) {
  switch (machine) {
    case 0x014C:
      return "32-bit x86";
    case kMachineX64:
      return "x86-64";
    case 0xAA64:
      return "ARM64";
    case 0xA641:
      return "ARM64EC";
    case 0x01C0:
    case 0x01C4:
      return "32-bit ARM";
    case 0x0200:
      return "Itanium";
    default:
      return "unknown machine";
  }
}
