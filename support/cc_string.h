// Reference-counted, copy-on-write 8-bit string.
#pragma once

#include <cstdint>

#include "support/platform.h"

// One heap block per distinct text; the header lies directly before the characters:
//
//   +--------+----------+------------+----------------------------------+
//   |  refs  |  length  |  capacity  |  characters [capacity + 1]       |
//   +--------+----------+------------+----------------------------------+
//                                    ^ CcString::chars
//
// Invariants:
//   refs == -1  the shared empty block: never freed, its fields never change;
//   refs > 1    shared: never written, every writer first takes a block of its own;
//   0 <= length <= capacity, and chars[length] is NUL outside an open buffer;
//   a string always points at a valid block, the shared empty one when it has no other.
struct CcStringData {
  LONG refs;
  LONG length;
  LONG capacity;

  char* Chars() { return reinterpret_cast<char*>(this + 1); }
  // The header of the block whose characters start at `chars`.
  static CcStringData* Of(char* chars) { return reinterpret_cast<CcStringData*>(chars) - 1; }
  static const CcStringData* Of(const char* chars) {
    return reinterpret_cast<const CcStringData*>(chars) - 1;
  }
};
static_assert(sizeof(CcStringData) == 12, "the header is three 32-bit integers");

class CcString {
 public:
  CcString();
  explicit CcString(const char* text);  // null or empty text: the shared empty block
  CcString(const CcString& other);      // shares a heap block; never allocates
  CcString& operator=(const CcString&) = delete;
  virtual ~CcString();

  int32_t Length() const { return Data()->length; }
  const char* Text() const { return chars; }

  CcString& Assign(const char* text);
  CcString& Append(const char* text);
  CcString& Append(const CcString& other);

  // Index of the last single-byte character equal to `ch` (trail bytes never match), -1 when
  // none; the terminator takes part, so FindLast('\0') is Length().
  int32_t FindLast(char ch) const;

  // Writable characters with room for at least `n` bytes and a NUL; the text is kept.
  char* OpenBuffer(int32_t n);
  // Ends a write through OpenBuffer: the length becomes `n`, or the measured length for -1.
  void CloseBuffer(int32_t n);

 private:
  CcStringData* Data() const { return CcStringData::Of(chars); }

  void AllocateData(int32_t n);
  static void ReleaseBlock(CcStringData* block);
  void ReleaseData();
  void MakeUnique();
  void PrepareWrite(int32_t n);
  void JoinInto(int32_t n, const char* t, int32_t m, const char* u);
  void AppendText(int32_t n, const char* text);
  void AssignText(int32_t n, const char* text);

  char* chars;
};
