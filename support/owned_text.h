// Owned text and file helpers. An owned text slot is a char* that is either null or owns a heap
// block holding a NUL-terminated text. The slot operations answer 1 or 0 and leave a reason in
// the thread's last-error value (87: null slot address, 122: no memory for the copy); they
// never clear it.
#pragma once

#include <cstdint>

// 1 when `path` exists and its attributes share a bit with `mask`; 0 for a null path.
int PathHasAttributes(const char* path, uint32_t mask);

// Copies whole characters of `source` while they fit in `bound` bytes, never splitting a
// double-byte character, then a NUL; answers `destination`. Needs min(bound, len) + 1 bytes.
char* CopyTextBounded(char* destination, const char* source, uint32_t bound);

// Frees the slot's text, then stores a copy of `text` (null leaves the slot empty); the block
// is always strlen(text) + 1 bytes. `bound` -1 copies the whole text; other values bound it.
int SetOwnedText(char** slot, const char* text, int32_t bound);

// Frees the slot's text and empties the slot.
int FreeOwnedText(char** slot);
