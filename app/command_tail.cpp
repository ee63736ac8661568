#include "app/command_tail.h"

#include "support/platform.h"

namespace {

bool IsBlank(unsigned char byte) {
  return byte >= 0x01 && byte <= 0x20;
}

}  // namespace

const char* FindCommandTail(const char* commandLine) {
  if (!commandLine) return "";
  const char* at = commandLine;
  bool quoted = false;
  // The program name: quotes toggle, double-byte characters are stepped over whole.
  for (;;) {
    const unsigned char byte = static_cast<unsigned char>(*at);
    if (byte == '\0') break;
    if (byte == '"') {
      quoted = !quoted;
      ++at;
    } else if (IsDBCSLeadByte(byte)) {
      if (at[1] == '\0') {  // a lone lead byte ends the walk at the terminator
        ++at;
        break;
      }
      at += 2;
    } else if (!quoted && IsBlank(byte)) {
      break;
    } else {
      ++at;
    }
  }
  while (IsBlank(static_cast<unsigned char>(*at))) ++at;
  return at;
}
