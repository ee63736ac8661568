// The command-tail walk over the process command line.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "app/command_tail.h"
#include "support/platform.h"
#include "tests/support/test_code_page.h"
#include "tests/support/test_guarded_page.h"

namespace {

struct TailCase {
  const char* commandLine;
  const char* tail;  // a suffix of commandLine
};

// The tail must be the expected suffix of the line itself, not a copy. Each line ends the
// readable page, so a walk past its terminator faults.
void ExpectTails(std::initializer_list<TailCase> cases) {
  GuardedPage page;
  ASSERT_TRUE(page.Ready());
  for (const TailCase& c : cases) {
    SCOPED_TRACE("command line [" + std::string(c.commandLine) + "]");
    const size_t length = std::strlen(c.commandLine);
    const char* line = page.PlaceAtEnd(c.commandLine, length + 1);
    const char* tail = FindCommandTail(line);
    EXPECT_STREQ(tail, c.tail);
    EXPECT_EQ(tail, line + length - std::strlen(c.tail));
  }
}

}  // namespace

TEST(FindCommandTail, CutsTheProgramNameAndTheBlanksAfterIt) {
  ExpectTails({
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
      {"", ""},
      {"prog", ""},
      {"prog ", ""},
      {"prog \t \x01", ""},
  });
  EXPECT_STREQ(FindCommandTail(nullptr), "");
}

TEST(FindCommandTail, QuotesKeepBlanksInTheProgramName) {
  ExpectTails({
      {"\"C:\\Program Files\\q.exe\" /g", "/g"},
      {"\"C:\\Program Files\\q.exe\"  \t/0", "/0"},
      {"\"C:\\Program Files\\q.exe\"", ""},
      {"\"C:\\q.exe\"/g", ""},                // glued to the closing quote: part of the name
      {"\"C:\\q.exe\"/g /1", "/1"},           // ... up to the next blank
      {"\"C:\\Program Files\\q.exe /g", ""},  // unbalanced: the rest is the name
      {"C:\\Pro\"gram Fi\"les\\q.exe /g", "/g"},
      {"C:\\Pro\"gram\" Files\\q.exe /g", "Files\\q.exe /g"},
      {"\"\" /g", "/g"},
      {"\"a\"\"b c\" /g", "/g"},
      {"\"a\tb\x01\" /g", "/g"},
  });
}

TEST(FindCommandTail, TakesHighBytesSinglyOnASingleByteCodePage) {
  if (IsDBCSLeadByte(0x81)) GTEST_SKIP() << "needs a single-byte code page";
  ExpectTails({{"pr\x81 /g", "/g"}, {"\"pr\x81\" /g", "/g"}, {"pr\xE9g /g", "/g"}});
}

TEST(FindCommandTail, StepsOverDoubleByteCharactersWhole) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  // Whatever follows a lead byte is its trail: a blank there does not end the name, a quote
  // there does not toggle the quoted state, a lead-byte value there is not a new lead byte.
  // A lone lead byte before the terminator ends the walk there.
  ExpectTails({
      {"\x82\xA0 /g", "/g"},
      {"pr\x81 og /g", "/g"},
      {"pr\x81\tog /g", "/g"},
      {"pr\x81\"og /g", "/g"},
      {"\"pr\x81\" og\" /g", "/g"},
      {"pr\x82\x82 /g", "/g"},
      {"C:\\\x95\x5C\\q.exe /1", "/1"},
      {"prog\x81", ""},
      {"\x81", ""},
      {"\"C:\\q\x82\xA0\x81", ""},
      {"\x82\xA0\x82", ""},
  });
}
