// Fuzz target: FindLast over arbitrary bytes (embedded NULs included) in code pages 1252 and
// 932, against a reference that marks character starts walking forward and then searches
// backward. Input: code page selector, the byte searched for, then the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/cc_string.h"
#include "support/platform.h"

namespace {

bool ShiftJisLeadByte(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

int32_t ReferenceFindLast(const unsigned char* text, int32_t length, char ch, bool shiftJis) {
  // comparable[i]: a single-byte character starts at i; index `length` is the terminator.
  std::vector<bool> comparable(static_cast<size_t>(length) + 1, false);
  bool terminatorHidden = false;  // a lone lead byte before it ends the scan
  int32_t i = 0;
  while (i < length) {
    if (shiftJis && ShiftJisLeadByte(text[i])) {
      if (i + 1 == length) terminatorHidden = true;
      i += 2;
    } else {
      comparable[static_cast<size_t>(i)] = true;
      ++i;
    }
  }
  if (!terminatorHidden) comparable[static_cast<size_t>(length)] = true;
  const unsigned char wanted = static_cast<unsigned char>(ch);
  for (int32_t j = length; j >= 0; --j) {
    const unsigned char byte = j < length ? text[j] : 0;
    if (comparable[static_cast<size_t>(j)] && byte == wanted) return j;
  }
  return wanted == 0 ? length : -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 100000) return 0;
  const bool shiftJis = (data[0] & 1) != 0;
  const char ch = static_cast<char>(data[1]);
  const unsigned char* text = data + 2;
  const int32_t length = static_cast<int32_t>(size - 2);

  StandinSetCodePage(shiftJis ? 932 : 1252);
  int32_t found = 0;
  {
    CcString s;
    if (length > 0) {
      std::memcpy(s.OpenBuffer(length), text, static_cast<size_t>(length));
      s.CloseBuffer(length);
    }
    found = s.FindLast(ch);
  }
  StandinSetCodePage(1252);

  const int32_t expected = ReferenceFindLast(text, length, ch, shiftJis);
  if (found != expected) {
    std::fprintf(stderr, "FindLast(0x%02X) in code page %d over %d bytes: %d, expected %d\n",
                 static_cast<unsigned char>(ch), shiftJis ? 932 : 1252, length, found, expected);
    std::abort();
  }
  return 0;
}
