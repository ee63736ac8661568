// Owned text slots, the bounded copy and the attribute test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "support/owned_text.h"
#include "support/platform.h"
#include "tests/support/test_code_page.h"
#include "tests/support/test_guarded_page.h"
#include "tests/support/test_heap.h"

namespace {

constexpr char kCanary = '\x7E';
constexpr size_t kBufferBytes = 24;

struct CopyCase {
  const char* source;
  uint32_t bound;
  const char* expected;
};

// Each source ends the readable page, so a read past its terminator faults; with bound 0 the
// source is the faulting byte itself, as it must not be read at all. Nothing may be written
// behind the room the caller has to provide.
void ExpectBoundedCopies(std::initializer_list<CopyCase> cases) {
  GuardedPage page;
  ASSERT_TRUE(page.Ready());
  for (const CopyCase& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases.begin()));
    const size_t length = std::strlen(c.source);
    const char* source = c.bound == 0 ? page.Forbidden() : page.PlaceAtEnd(c.source, length + 1);
    char destination[kBufferBytes + 1] = {};  // the extra NUL keeps a failed copy readable
    std::memset(destination, kCanary, kBufferBytes);
    EXPECT_EQ(CopyTextBounded(destination, source, c.bound), destination);
    EXPECT_STREQ(destination, c.expected);
    const size_t room = std::min<size_t>(c.bound, length) + 1;
    for (size_t index = room; index < kBufferBytes; ++index)
      EXPECT_EQ(destination[index], kCanary) << "byte " << index << " written";
  }
}

// A slot that is always emptied at the end of the test.
struct Slot {
  char* text = nullptr;
  ~Slot() { FreeOwnedText(&text); }
};

}  // namespace

TEST(PathHasAttributes, AnswersExistenceAndSharedBits) {
#ifdef _WIN32
  char directory[MAX_PATH];
  char file[MAX_PATH];
  ASSERT_NE(GetTempPathA(MAX_PATH, directory), 0u);
  ASSERT_NE(GetModuleFileNameA(nullptr, file, MAX_PATH), 0u);  // the test binary itself
  const std::string missing = std::string(directory) + "qb_owned_text_missing\\none.dll";
#else
  const char* directory = "/tmp";
  const char* file = "/proc/self/exe";
  const std::string missing = "/tmp/qb_owned_text_missing/none.dll";
#endif
  EXPECT_EQ(PathHasAttributes(nullptr, 0xFFFFFFFF), 0);
  EXPECT_EQ(PathHasAttributes(missing.c_str(), 0xFFFFFFFF), 0);
  EXPECT_EQ(PathHasAttributes(directory, 0xFFFFFFFF), 1);
  EXPECT_EQ(PathHasAttributes(directory, FILE_ATTRIBUTE_DIRECTORY), 1);
  EXPECT_EQ(PathHasAttributes(directory, 0), 0);
  EXPECT_EQ(PathHasAttributes(file, 0xFFFFFFFF), 1);
  EXPECT_EQ(PathHasAttributes(file, FILE_ATTRIBUTE_DIRECTORY), 0);
  EXPECT_EQ(PathHasAttributes(file, 0), 0);
}

TEST(CopyTextBounded, CopiesSingleByteTextUpToTheBound) {
  ExpectBoundedCopies({{"abcdef", 3, "abc"},
                       {"abcdef", 6, "abcdef"},
                       {"abcdef", 7, "abcdef"},
                       {"ab", 10, "ab"},
                       {"", 5, ""},
                       {"abc", 1, "a"},
                       {"abc", 0, ""}});
}

TEST(CopyTextBounded, TakesHighBytesSinglyOnASingleByteCodePage) {
  if (IsDBCSLeadByte(0x82)) GTEST_SKIP() << "needs a single-byte code page";
  ExpectBoundedCopies({{"x\x82\xA0y", 2, "x\x82"}, {"x\x82", 5, "x\x82"}});
}

TEST(CopyTextBounded, NeverSplitsADoubleByteCharacter) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  // "\x82\xA0" is one character; in "\x82\x82" the trail byte is also a lead-byte value, so it
  // shows the trail is not examined again. A lone lead byte before the terminator is left out.
  ExpectBoundedCopies({{"x\x82\xA0y", 1, "x"},
                       {"x\x82\xA0y", 2, "x"},
                       {"x\x82\xA0y", 3, "x\x82\xA0"},
                       {"x\x82\xA0y", 4, "x\x82\xA0y"},
                       {"x\x82\xA0y", 0xFFFFFFFF, "x\x82\xA0y"},
                       {"\x82\xA0y", 1, ""},
                       {"\x82\xA0y", 2, "\x82\xA0"},
                       {"\x82\x82y", 2, "\x82\x82"},
                       {"\x82\x82y", 3, "\x82\x82y"},
                       {"\x82\x82\x82\xA0", 3, "\x82\x82"},
                       {"x\x82", 100, "x"},
                       {"\x82", 100, ""},
                       {"x\x82\xA0\x82", 100, "x\x82\xA0"}});
}

TEST(SetOwnedText, HoldsACopyInABlockOfTheWholeTextsSize) {
  struct Case {
    const char* text;
    int32_t bound;
    const char* expected;  // null: the slot stays empty
    size_t blockBytes;
  };
  const Case cases[] = {
      {"abc", -1, "abc", 4},
      {"xy", -1, "xy", 3},
      {"abcdef", 3, "abc", 7},
      {"abcdef", 0, "", 7},
      {"", -1, "", 1},
      {"abcdef", -2, "abcdef", 7},
      {"abcdef", -100, "abcdef", 7},
      {"abcdef", INT32_MIN, "abcdef", 7},
      {nullptr, -1, nullptr, 0},
      {nullptr, 3, nullptr, 0},
      {"abc", -1, "abc", 4},
  };
  ScopedHeapProbe heap;
  Slot slot;
  const DWORD sentinel = 0x1234;  // success leaves an earlier last-error value alone
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    const uint32_t requests = heap.Requests();
    const uint32_t releases = heap.Releases() + (slot.text ? 1 : 0);  // the old text goes first
    SetLastError(sentinel);
    ASSERT_EQ(SetOwnedText(&slot.text, c.text, c.bound), 1);
    EXPECT_EQ(GetLastError(), sentinel);
    EXPECT_EQ(heap.Releases(), releases);
    if (!c.expected) {
      EXPECT_EQ(slot.text, nullptr);
      EXPECT_EQ(heap.Requests(), requests);
      continue;
    }
    EXPECT_STREQ(slot.text, c.expected);
    EXPECT_NE(slot.text, c.text);  // a copy, not the caller's text
    EXPECT_EQ(heap.Requests(), requests + 1);
    EXPECT_EQ(heap.LastBytes(), c.blockBytes);
  }
}

// Only -1 selects the whole-text copy; any other negative bound is a very large unsigned bound
// for the double-byte-aware copy, which leaves out a lone lead byte before the terminator.
TEST(SetOwnedText, TakesABoundBelowMinusOneAsALargeUnsignedBound) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  const std::pair<int32_t, const char*> cases[] = {
      {-1, "x\x82"}, {-2, "x"}, {INT32_MIN, "x"}, {1, "x"}};
  Slot slot;
  for (const auto& [bound, expected] : cases) {
    SCOPED_TRACE(bound);
    ASSERT_EQ(SetOwnedText(&slot.text, "x\x82", bound), 1);
    EXPECT_STREQ(slot.text, expected);
  }
}

TEST(SetOwnedText, ReportsFailuresInTheLastErrorValue) {
  ScopedHeapProbe heap;
  SetLastError(0);
  EXPECT_EQ(SetOwnedText(nullptr, "abc", -1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(heap.Requests(), 0u);

  // Refused heap request: the old text is already gone, the slot stays empty.
  Slot slot;
  ASSERT_EQ(SetOwnedText(&slot.text, "old", -1), 1);
  heap.Refuse(1);
  SetLastError(0);
  EXPECT_EQ(SetOwnedText(&slot.text, "new", -1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(slot.text, nullptr);
  EXPECT_EQ(heap.Releases(), 1u);
}

TEST(FreeOwnedText, EmptiesTheSlot) {
  ScopedHeapProbe heap;
  HeapRelease(nullptr);  // a null block is no release
  EXPECT_EQ(heap.Releases(), 0u);
  SetLastError(0);
  EXPECT_EQ(FreeOwnedText(nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  Slot slot;
  const DWORD sentinel = 0x4321;
  SetLastError(sentinel);
  EXPECT_EQ(FreeOwnedText(&slot.text), 1);
  EXPECT_EQ(heap.Releases(), 0u);
  ASSERT_EQ(SetOwnedText(&slot.text, "abc", -1), 1);
  EXPECT_EQ(FreeOwnedText(&slot.text), 1);
  EXPECT_EQ(slot.text, nullptr);
  EXPECT_EQ(heap.Releases(), 1u);
  EXPECT_EQ(GetLastError(), sentinel);
}
