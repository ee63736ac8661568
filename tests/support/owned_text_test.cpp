// Owned text slots, the bounded copy and the attribute test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/owned_text.h"
#include "support/platform.h"
#include "tests/support/test_code_page.h"
#include "tests/support/test_heap.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#endif

namespace {

// A directory with one plain file in it, in the temporary folder, removed at the end.
class ScopedTempTree {
 public:
  ScopedTempTree() {
#ifdef _WIN32
    char folder[MAX_PATH];
    char unique[MAX_PATH];
    if (GetTempPathA(MAX_PATH, folder) == 0 || GetTempFileNameA(folder, "qbo", 0, unique) == 0)
      return;
    file_ = unique;  // GetTempFileNameA has created it, empty
    directory_ = file_ + ".d";
    if (!CreateDirectoryA(directory_.c_str(), nullptr)) directory_.clear();
#else
    char pattern[] = "/tmp/qb_owned_text_XXXXXX";
    if (!mkdtemp(pattern)) return;
    directory_ = pattern;
    file_ = directory_ + "/plain.txt";
    if (FILE* created = std::fopen(file_.c_str(), "w")) {
      std::fputs("x", created);
      std::fclose(created);
    } else {
      file_.clear();
    }
#endif
  }
  ~ScopedTempTree() {
#ifdef _WIN32
    if (!file_.empty()) DeleteFileA(file_.c_str());
    if (!directory_.empty()) RemoveDirectoryA(directory_.c_str());
#else
    if (!file_.empty()) unlink(file_.c_str());
    if (!directory_.empty()) rmdir(directory_.c_str());
#endif
  }
  ScopedTempTree(const ScopedTempTree&) = delete;
  ScopedTempTree& operator=(const ScopedTempTree&) = delete;

  bool Ready() const {
    return !file_.empty() && !directory_.empty();
  }
  const std::string& Directory() const {
    return directory_;
  }
  const std::string& File() const {
    return file_;
  }

 private:
  std::string directory_;
  std::string file_;
};

// One readable page followed by one that faults on any access: a text placed at the end of the
// readable page shows that nothing past its terminator is read.
class GuardedPage {
 public:
  GuardedPage() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_ = info.dwPageSize;
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    if (base_ && !VirtualProtect(base_ + size_, size_, PAGE_NOACCESS, &previous)) {
      VirtualFree(base_, 0, MEM_RELEASE);
      base_ = nullptr;
    }
#else
    size_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* mapped =
        mmap(nullptr, 2 * size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    base_ = static_cast<char*>(mapped);
    if (mprotect(base_ + size_, size_, PROT_NONE) != 0) {
      munmap(base_, 2 * size_);
      base_ = nullptr;
    }
#endif
  }
  ~GuardedPage() {
    if (!base_) return;
#ifdef _WIN32
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, 2 * size_);
#endif
  }
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;

  bool Ready() const {
    return base_ != nullptr;
  }
  // Copies `bytes` (terminator included) so that its last byte is the last readable one.
  const char* PlaceAtEnd(const char* bytes, size_t count) {
    char* at = base_ + size_ - count;
    std::memcpy(at, bytes, count);
    return at;
  }
  // The first byte that faults.
  const char* Forbidden() const {
    return base_ + size_;
  }

 private:
  char* base_ = nullptr;
  size_t size_ = 0;
};

constexpr char kCanary = '\x7E';
constexpr size_t kBufferBytes = 24;

// Runs CopyTextBounded into a canary-filled buffer and checks the text, its terminator and
// that nothing was written behind the room the caller has to provide.
void ExpectBoundedCopy(const char* source, uint32_t bound, const std::string& expected) {
  char destination[kBufferBytes];
  std::memset(destination, kCanary, sizeof(destination));
  EXPECT_EQ(CopyTextBounded(destination, source, bound), destination);

  const size_t room = std::min<size_t>(bound, std::strlen(source)) + 1;
  ASSERT_LE(room, sizeof(destination));
  EXPECT_EQ(std::string(destination, std::strlen(destination)), expected);
  for (size_t index = room; index < sizeof(destination); ++index)
    EXPECT_EQ(destination[index], kCanary) << "byte " << index << " written";
}

// A slot that is always emptied at the end of the test.
struct Slot {
  char* text = nullptr;
  ~Slot() { FreeOwnedText(&text); }
};

}  // namespace

TEST(PathHasAttributes, AnswersExistenceAndSharedBits) {
  ScopedTempTree tree;
  ASSERT_TRUE(tree.Ready());
  const char* directory = tree.Directory().c_str();
  const char* file = tree.File().c_str();
#ifdef _WIN32
  const std::string missing = tree.Directory() + "\\missing.dll";
#else
  const std::string missing = tree.Directory() + "/missing.dll";
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
  struct Case {
    const char* source;
    uint32_t bound;
    const char* expected;
  };
  const Case cases[] = {
      {"abcdef", 3, "abc"}, {"abcdef", 6, "abcdef"}, {"abcdef", 7, "abcdef"}, {"ab", 10, "ab"},
      {"", 5, ""},          {"abc", 1, "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " bound " + std::to_string(c.bound));
    ExpectBoundedCopy(c.source, c.bound, c.expected);
  }
}

TEST(CopyTextBounded, TakesHighBytesSinglyOnASingleByteCodePage) {
  if (IsDBCSLeadByte(0x82)) GTEST_SKIP() << "needs a single-byte code page";
  ExpectBoundedCopy(
      "a\x82\xA0"
      "b",
      2, "a\x82");
  ExpectBoundedCopy("a\x82", 5, "a\x82");
}

TEST(CopyTextBounded, BoundZeroWritesOnlyTheTerminatorAndReadsNothing) {
  GuardedPage page;
  ASSERT_TRUE(page.Ready());
  char destination[4];
  std::memset(destination, kCanary, sizeof(destination));
  // The source faults on the first read.
  EXPECT_EQ(CopyTextBounded(destination, page.Forbidden(), 0), destination);
  EXPECT_EQ(destination[0], '\0');
  EXPECT_EQ(destination[1], kCanary);
  EXPECT_EQ(destination[2], kCanary);
}

TEST(CopyTextBounded, NeverSplitsADoubleByteCharacter) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  // "\x82\xA0" is one double-byte character; "\x82\x82" is one whose trail byte is also a
  // lead-byte value, so it shows the trail is not examined again.
  struct Case {
    const char* source;
    uint32_t bound;
    const char* expected;
  };
  const Case cases[] = {
      {"a\x82\xA0"
       "b",
       1, "a"},
      {"a\x82\xA0"
       "b",
       2, "a"},
      {"a\x82\xA0"
       "b",
       3, "a\x82\xA0"},
      {"a\x82\xA0"
       "b",
       4,
       "a\x82\xA0"
       "b"},
      {"a\x82\xA0"
       "b",
       0xFFFFFFFF,
       "a\x82\xA0"
       "b"},
      {"\x82\xA0"
       "b",
       1, ""},
      {"\x82\xA0"
       "b",
       2, "\x82\xA0"},
      {"\x82\x82"
       "b",
       2, "\x82\x82"},
      {"\x82\x82"
       "b",
       3,
       "\x82\x82"
       "b"},
      {"\x82\x82\x82\xA0", 3, "\x82\x82"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("bound " + std::to_string(c.bound) + " case " + std::to_string(&c - cases));
    ExpectBoundedCopy(c.source, c.bound, c.expected);
  }
}

TEST(CopyTextBounded, LeavesOutALoneLeadByteAndStopsAtTheTerminator) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  GuardedPage page;
  ASSERT_TRUE(page.Ready());

  struct Case {
    const char* bytes;  // terminator included
    size_t count;
    const char* expected;
  };
  const Case cases[] = {
      {"a\x82", 3, "a"},
      {"\x82", 2, ""},
      {"a\x82\xA0\x82", 5, "a\x82\xA0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    // The terminator is the last readable byte: a read past it faults.
    const char* source = page.PlaceAtEnd(c.bytes, c.count);
    char destination[kBufferBytes];
    std::memset(destination, kCanary, sizeof(destination));
    CopyTextBounded(destination, source, 100);
    EXPECT_STREQ(destination, c.expected);
    for (size_t index = c.count; index < sizeof(destination); ++index)
      EXPECT_EQ(destination[index], kCanary) << "byte " << index << " written";
  }
}

TEST(SetOwnedText, HoldsACopyInABlockOfTheWholeTextsSize) {
  ScopedHeapProbe heap;
  Slot slot;

  ASSERT_EQ(SetOwnedText(&slot.text, "abc", -1), 1);
  EXPECT_STREQ(slot.text, "abc");
  EXPECT_EQ(heap.Requests(), 1u);
  EXPECT_EQ(heap.LastBytes(), 4u);
  EXPECT_EQ(heap.Releases(), 0u);

  const char source[] = "xy";
  ASSERT_EQ(SetOwnedText(&slot.text, source, -1), 1);
  EXPECT_STREQ(slot.text, "xy");
  EXPECT_NE(slot.text, source);  // a copy, not the caller's text
  EXPECT_EQ(heap.Releases(), 1u);
  EXPECT_EQ(heap.LastBytes(), 3u);

  ASSERT_EQ(SetOwnedText(&slot.text, "abcdef", 3), 1);
  EXPECT_STREQ(slot.text, "abc");
  EXPECT_EQ(heap.LastBytes(), 7u);
  EXPECT_EQ(heap.Releases(), 2u);

  ASSERT_EQ(SetOwnedText(&slot.text, "abcdef", 0), 1);
  EXPECT_STREQ(slot.text, "");
  EXPECT_EQ(heap.LastBytes(), 7u);

  ASSERT_EQ(SetOwnedText(&slot.text, "", -1), 1);
  EXPECT_STREQ(slot.text, "");
  EXPECT_EQ(heap.LastBytes(), 1u);
}

TEST(SetOwnedText, TakesOtherNegativeBoundsAsUnbounded) {
  ScopedHeapProbe heap;
  for (const int32_t bound : {-2, -100, INT32_MIN}) {
    SCOPED_TRACE(bound);
    Slot slot;
    ASSERT_EQ(SetOwnedText(&slot.text, "abcdef", bound), 1);
    EXPECT_STREQ(slot.text, "abcdef");
    EXPECT_EQ(heap.LastBytes(), 7u);
  }
}

TEST(SetOwnedText, NullTextEmptiesTheSlot) {
  ScopedHeapProbe heap;
  Slot slot;
  ASSERT_EQ(SetOwnedText(&slot.text, "abc", -1), 1);

  EXPECT_EQ(SetOwnedText(&slot.text, nullptr, -1), 1);
  EXPECT_EQ(slot.text, nullptr);
  EXPECT_EQ(heap.Releases(), 1u);

  EXPECT_EQ(SetOwnedText(&slot.text, nullptr, 3), 1);
  EXPECT_EQ(slot.text, nullptr);
  EXPECT_EQ(heap.Requests(), 1u);
  EXPECT_EQ(heap.Releases(), 1u);
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
  EXPECT_EQ(heap.Refused(), 1u);
  EXPECT_EQ(heap.Releases(), 1u);

  // Success leaves an earlier value alone.
  const DWORD sentinel = 0x1234;
  SetLastError(sentinel);
  EXPECT_EQ(SetOwnedText(&slot.text, "abc", -1), 1);
  EXPECT_EQ(SetOwnedText(&slot.text, "abcdef", 2), 1);
  EXPECT_EQ(SetOwnedText(&slot.text, nullptr, -1), 1);
  EXPECT_EQ(GetLastError(), sentinel);
}

TEST(FreeOwnedText, EmptiesTheSlot) {
  ScopedHeapProbe heap;
  Slot slot;

  SetLastError(0);
  EXPECT_EQ(FreeOwnedText(nullptr), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  const DWORD sentinel = 0x4321;
  SetLastError(sentinel);
  EXPECT_EQ(FreeOwnedText(&slot.text), 1);
  EXPECT_EQ(heap.Releases(), 0u);

  ASSERT_EQ(SetOwnedText(&slot.text, "abc", -1), 1);
  EXPECT_EQ(FreeOwnedText(&slot.text), 1);
  EXPECT_EQ(slot.text, nullptr);
  EXPECT_EQ(heap.Releases(), 1u);

  EXPECT_EQ(FreeOwnedText(&slot.text), 1);
  EXPECT_EQ(heap.Releases(), 1u);
  EXPECT_EQ(GetLastError(), sentinel);
}
