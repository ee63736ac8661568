#include "support/owned_text.h"

#include <cstring>

#include "support/heap.h"
#include "support/platform.h"

int PathHasAttributes(const char* path, uint32_t mask) {
  if (!path) return 0;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
  return (attributes & mask) != 0 ? 1 : 0;
}

char* CopyTextBounded(char* destination, const char* source, uint32_t bound) {
  uint32_t count = 0;
  if (bound != 0) {
    while (count < bound) {
      const char byte = source[count];
      if (byte == '\0') break;
      if (IsDBCSLeadByte(static_cast<BYTE>(byte))) {
        // A lone lead byte before the terminator is left out: its "trail" is the NUL.
        if (count + 2 > bound || source[count + 1] == '\0') break;
        destination[count] = byte;
        destination[count + 1] = source[count + 1];
        count += 2;
      } else {
        destination[count] = byte;
        count += 1;
      }
    }
  }
  destination[count] = '\0';
  return destination;
}

int SetOwnedText(char** slot, const char* text, int32_t bound) {
  if (!slot) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (*slot) {
    HeapRelease(*slot);
    *slot = nullptr;
  }
  if (!text) return 1;

  const size_t size = static_cast<size_t>(lstrlenA(text)) + 1;
  char* block = static_cast<char*>(HeapRequest(size));
  if (!block) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  *slot = block;
  if (bound == -1) {
    std::memcpy(block, text, size);  // the whole text with its NUL, into a block of its size
    return 1;
  }
  return CopyTextBounded(block, text, static_cast<uint32_t>(bound)) ? 1 : 0;
}

int FreeOwnedText(char** slot) {
  if (!slot) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (*slot) {
    HeapRelease(*slot);
    *slot = nullptr;
  }
  return 1;
}
