#include "support/cc_string.h"

#include <cstddef>
#include <cstring>

#include "support/cc_exception_memory.h"
#include "support/heap.h"

namespace {

// Writable, so that stores of the length 0 and a NUL it already holds are harmless.
struct EmptyBlock {
  CcStringData header;
  char nul;
};
EmptyBlock g_emptyBlock = {{-1, 0, 0}, '\0'};
static_assert(offsetof(EmptyBlock, nul) == sizeof(CcStringData), "characters follow the header");

char* EmptyChars() {
  return &g_emptyBlock.nul;
}

int32_t CapacityFor(int32_t n) {
  if (n <= 64) return 64;
  if (n <= 128) return 128;
  if (n <= 256) return 256;
  if (n <= 512) return 512;
  return n;
}

// Largest length whose block size still fits the heap's request and the 32-bit fields.
constexpr int64_t kMaxLength = INT32_MAX - static_cast<int64_t>(sizeof(CcStringData)) - 1;

}  // namespace

CcString::CcString() : chars(EmptyChars()) {}

CcString::CcString(const char* text) : chars(EmptyChars()) {
  const int32_t n = lstrlenA(text);
  if (n == 0) return;
  AllocateData(n);
  std::memcpy(chars, text, static_cast<size_t>(n));
}

CcString::CcString(const CcString& other) : chars(EmptyChars()) {
  if (other.Data()->refs > 0) {
    chars = other.chars;
    InterlockedIncrement(&Data()->refs);
  } else {
    Assign(other.chars);
  }
}

CcString::~CcString() {
  ReleaseData();
}

CcString& CcString::Assign(const char* text) {
  AssignText(lstrlenA(text), text);
  return *this;
}

CcString& CcString::Append(const char* text) {
  AppendText(lstrlenA(text), text);
  return *this;
}

CcString& CcString::Append(const CcString& other) {
  AppendText(other.Length(), other.chars);
  return *this;
}

int32_t CcString::FindLast(char ch) const {
  const int32_t length = Length();
  int32_t found = -1;
  int32_t i = 0;
  while (i <= length) {
    if (i < length && IsDBCSLeadByte(static_cast<BYTE>(chars[i]))) {
      if (i + 1 >= length) break;  // a lone lead byte before the terminator ends the scan
      i += 2;                      // neither byte of the pair is compared
      continue;
    }
    if (chars[i] == ch) found = i;
    ++i;
  }
  // The terminator is a match for NUL even when a lone lead byte cut the scan short.
  if (found < 0 && ch == '\0') return length;
  return found;
}

char* CcString::OpenBuffer(int32_t n) {
  CcStringData* old = Data();
  if (old->refs <= 1 && n <= old->capacity) return chars;

  const char* oldChars = chars;
  const int32_t oldLength = old->length;
  AllocateData(n > oldLength ? n : oldLength);  // on failure the old text stays
  std::memcpy(chars, oldChars, static_cast<size_t>(oldLength) + 1);
  Data()->length = oldLength;
  ReleaseBlock(old);
  return chars;
}

void CcString::CloseBuffer(int32_t n) {
  MakeUnique();
  if (n == -1) {
    // Never measure past the block, whatever the producer left in it.
    const void* nul = std::memchr(chars, '\0', static_cast<size_t>(Data()->capacity));
    n = nul ? static_cast<int32_t>(static_cast<const char*>(nul) - chars) : Data()->capacity;
  }
  Data()->length = n;
  chars[n] = '\0';
}

void CcString::AllocateData(int32_t n) {
  if (n == 0) {
    chars = EmptyChars();
    return;
  }
  if (n > kMaxLength) throw CcExceptionMemory();
  const int32_t capacity = CapacityFor(n);
  auto* block = static_cast<CcStringData*>(
      HeapRequest(sizeof(CcStringData) + static_cast<size_t>(capacity) + 1));
  if (!block) throw CcExceptionMemory();
  block->refs = 1;
  block->length = n;
  block->capacity = capacity;
  block->Chars()[n] = '\0';
  chars = block->Chars();
}

void CcString::ReleaseBlock(CcStringData* block) {
  if (block == &g_emptyBlock.header) return;
  if (InterlockedDecrement(&block->refs) <= 0) HeapRelease(block);
}

void CcString::ReleaseData() {
  ReleaseBlock(Data());
  chars = EmptyChars();
}

void CcString::MakeUnique() {
  CcStringData* old = Data();
  if (old->refs < 2) return;
  const int32_t oldLength = old->length;
  ReleaseData();  // another owner keeps the old block alive
  AllocateData(oldLength);
  std::memcpy(chars, old->Chars(), static_cast<size_t>(oldLength) + 1);
}

void CcString::PrepareWrite(int32_t n) {
  CcStringData* data = Data();
  if (data->refs <= 1 && n <= data->capacity) return;
  ReleaseData();
  AllocateData(n);
}

void CcString::JoinInto(int32_t n, const char* t, int32_t m, const char* u) {
  const int64_t total = static_cast<int64_t>(n) + m;
  if (total == 0) return;
  if (total > kMaxLength) throw CcExceptionMemory();
  AllocateData(static_cast<int32_t>(total));
  std::memcpy(chars, t, static_cast<size_t>(n));
  std::memcpy(chars + n, u, static_cast<size_t>(m));
}

void CcString::AppendText(int32_t n, const char* text) {
  if (n == 0) return;
  CcStringData* old = Data();
  if (old->refs > 1 || static_cast<int64_t>(old->length) + n > old->capacity) {
    // The old block goes only after the copy: `text` may lie inside it.
    JoinInto(old->length, chars, n, text);
    ReleaseBlock(old);
    return;
  }
  std::memmove(chars + old->length, text, static_cast<size_t>(n));
  old->length += n;
  chars[old->length] = '\0';
}

void CcString::AssignText(int32_t n, const char* text) {
  PrepareWrite(n);
  if (n > 0) std::memmove(chars, text, static_cast<size_t>(n));  // `text` may be our own
  Data()->length = n;
  chars[n] = '\0';
}
