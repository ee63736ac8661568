// The command-tail walk over the process command line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/command_tail.h"
#include "support/platform.h"
#include "tests/support/test_code_page.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

struct TailCase {
  const char* commandLine;
  const char* tail;  // a suffix of commandLine
};

// The tail must be the expected suffix of the line itself, not a copy.
void ExpectTails(const TailCase* cases, size_t count) {
  for (size_t index = 0; index < count; ++index) {
    const TailCase& c = cases[index];
    SCOPED_TRACE("command line [" + std::string(c.commandLine) + "]");
    const char* tail = FindCommandTail(c.commandLine);
    ASSERT_NE(tail, nullptr);
    EXPECT_STREQ(tail, c.tail);
    EXPECT_EQ(tail, c.commandLine + std::strlen(c.commandLine) - std::strlen(c.tail));
  }
}

// One readable page followed by one that faults on any access.
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
  // Copies `count` bytes so that the last of them is the last readable byte.
  const char* PlaceAtEnd(const char* bytes, size_t count) {
    char* at = base_ + size_ - count;
    std::memcpy(at, bytes, count);
    return at;
  }

 private:
  char* base_ = nullptr;
  size_t size_ = 0;
};

}  // namespace

TEST(FindCommandTail, CutsTheProgramNameAndTheBlanksAfterIt) {
  const TailCase cases[] = {
      {"prog /g", "/g"},
      {"prog  /g", "/g"},
      {"prog\t/g", "/g"},
      {"prog\x01/g", "/g"},
      {"prog \x01\x02\x1F\t\n\r \x20/g", "/g"},
      {"C:\\Tools\\quickboot.exe /1", "/1"},
      {"prog /g ", "/g "},
      {"prog /g\t\t", "/g\t\t"},
      {"prog /g /1", "/g /1"},
      {"prog /g\x01/1", "/g\x01/1"},
      {"prog \x21", "\x21"},
      {" prog /g", "prog /g"},  // a leading blank ends an empty program name
      {"/g", ""},
  };
  ExpectTails(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(FindCommandTail, EndsAtTheTerminatorWhenThereIsNoTail) {
  const TailCase cases[] = {
      {"", ""},
      {"prog", ""},
      {"prog ", ""},
      {"prog \t \x01", ""},
      {"\"C:\\Program Files\\q.exe\"", ""},
  };
  ExpectTails(cases, sizeof(cases) / sizeof(cases[0]));

  const char* tail = FindCommandTail(nullptr);
  ASSERT_NE(tail, nullptr);
  EXPECT_STREQ(tail, "");
}

TEST(FindCommandTail, QuotesKeepBlanksInTheProgramName) {
  const TailCase cases[] = {
      {"\"C:\\Program Files\\q.exe\" /g", "/g"},
      {"\"C:\\Program Files\\q.exe\"  \t/0", "/0"},
      {"\"C:\\q.exe\"/g", ""},                // glued to the closing quote: part of the name
      {"\"C:\\q.exe\"/g /1", "/1"},           // ... up to the next blank
      {"\"C:\\Program Files\\q.exe /g", ""},  // unbalanced: the rest is the name
      {"C:\\Pro\"gram Fi\"les\\q.exe /g", "/g"},
      {"C:\\Pro\"gram\" Files\\q.exe /g", "Files\\q.exe /g"},
      {"\"\" /g", "/g"},
      {"\"a\"\"b c\" /g", "/g"},
      {"\"a\tb\x01\" /g", "/g"},
  };
  ExpectTails(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(FindCommandTail, TakesHighBytesSinglyOnASingleByteCodePage) {
  if (IsDBCSLeadByte(0x81)) GTEST_SKIP() << "needs a single-byte code page";
  const TailCase cases[] = {
      {"pr\x81 /g", "/g"},
      {"\"pr\x81\" /g", "/g"},
      {"pr\xE9g /g", "/g"},
  };
  ExpectTails(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(FindCommandTail, StepsOverDoubleByteCharactersWhole) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  // Whatever follows a lead byte is its trail: a blank there does not end the name, a quote
  // there does not toggle the quoted state, a lead-byte value there is not a new lead byte.
  const TailCase cases[] = {
      {"\x82\xA0 /g", "/g"},
      {"pr\x81 og /g", "/g"},
      {"pr\x81\tog /g", "/g"},
      {"pr\x81\"og /g", "/g"},
      {"\"pr\x81\" og\" /g", "/g"},
      {"pr\x82\x82 /g", "/g"},
      {"C:\\\x95\x5C\\q.exe /1", "/1"},
  };
  ExpectTails(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(FindCommandTail, StopsAtTheTerminatorAfterALoneLeadByte) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  GuardedPage page;
  ASSERT_TRUE(page.Ready());

  struct Case {
    const char* bytes;  // terminator included
    size_t count;
  };
  const Case cases[] = {
      {"prog\x81", 6},
      {"\x81", 2},
      {"\"C:\\q\x82\xA0\x81", 9},
      {"\x82\xA0\x82", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("case " + std::to_string(&c - cases));
    // The terminator is the last readable byte: a read past it faults.
    const char* line = page.PlaceAtEnd(c.bytes, c.count);
    const char* tail = FindCommandTail(line);
    EXPECT_EQ(tail, line + c.count - 1);
  }
}
