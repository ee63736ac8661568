// CcString and CcStringPath: block sharing, capacity classes, writes, buffers, FindLast and the
// state a string is left in when the heap refuses a block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "support/cc_exception_base.h"
#include "support/cc_exception_memory.h"
#include "support/cc_string.h"
#include "support/cc_string_path.h"
#include "tests/support/test_code_page.h"
#include "tests/support/test_heap.h"

namespace {

// The text (embedded NULs included, then a NUL at the length), count and capacity of the block.
::testing::AssertionResult Holds(const CcString& s, const std::string& text, LONG refs,
                                 LONG capacity) {
  const CcStringData* h = CcStringData::Of(s.Text());
  const std::string actual(s.Text(), static_cast<size_t>(h->length));
  const bool terminated = s.Text()[h->length] == '\0';
  if (actual == text && terminated && h->refs == refs && h->capacity == capacity)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "holds \"" << actual << (terminated ? "\"" : "\" unterminated") << ", refs " << h->refs
         << ", capacity " << h->capacity;
}

bool OnSharedEmptyBlock(const CcString& s) {
  return s.Text() == CcString().Text() && Holds(s, "", -1, 0);
}

// Every test ends with each block it was handed back on the heap.
class CcStringTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(probe.Releases(), probe.Requests() - probe.Refused()); }
  ScopedHeapProbe probe;
};

}  // namespace

TEST_F(CcStringTest, EmptyFormsCopiesAndWritesThatFitNeverAllocate) {
  {
    CcString byDefault, fromNull(nullptr), fromEmpty(""), copyOfDefault(byDefault);
    CcStringPath path(fromEmpty);
    const CcString* all[] = {&byDefault, &fromNull, &fromEmpty, &copyOfDefault, &path};
    for (const CcString* s : all) EXPECT_TRUE(OnSharedEmptyBlock(*s));
  }
  EXPECT_TRUE(OnSharedEmptyBlock(CcString()));  // destruction left the count alone
  EXPECT_EQ(probe.Requests(), 0u);
  EXPECT_EQ(probe.Releases(), 0u);

  CcString original("C:\\Tools"), emptied("abc"), empty;
  emptied.Assign("");    // an empty text on a block of its own: shared, not moved
  probe.Refuse(1, 100);  // a request now would throw
  {
    CcString copy(original), copyOfEmptied(emptied);
    CcStringPath path(original), pathCopy(path), pathOfEmpty(empty);
    CcString back(pathCopy);
    const CcString* all[] = {&copy, &path, &pathCopy, &back};
    for (const CcString* s : all) EXPECT_EQ(s->Text(), original.Text());
    EXPECT_TRUE(Holds(original, "C:\\Tools", 5, 64));
    EXPECT_EQ(copyOfEmptied.Text(), emptied.Text());
    EXPECT_TRUE(Holds(emptied, "", 2, 64));
    EXPECT_TRUE(OnSharedEmptyBlock(pathOfEmpty));
  }
  EXPECT_EQ(CcStringData::Of(original.Text())->refs, 1);
  EXPECT_EQ(CcStringData::Of(emptied.Text())->refs, 1);
  EXPECT_EQ(probe.Releases(), 0u);  // the other owners kept the blocks

  // Writes that fit an unshared block need none either.
  original.Append("def").Append(original).Assign("xyz");
  std::memcpy(original.OpenBuffer(64), "0123", 5);
  original.CloseBuffer(-1);
  original.CloseBuffer(2);
  EXPECT_TRUE(Holds(original, "01", 1, 64));
  original.Assign("").Append("");
  empty.Assign("").Append(nullptr);
  EXPECT_TRUE(Holds(original, "", 1, 64));
  EXPECT_TRUE(OnSharedEmptyBlock(empty));
  EXPECT_EQ(probe.Requests(), 2u);
  EXPECT_EQ(probe.Refused(), 0u);
}

TEST_F(CcStringTest, CapacityClassBorders) {
  const struct {
    LONG length, capacity;
    size_t bytes;
  } cases[] = {{1, 64, 77},     {64, 64, 77},      {65, 128, 141},  {128, 128, 141},
               {129, 256, 269}, {256, 256, 269},   {257, 512, 525}, {512, 512, 525},
               {513, 513, 526}, {1000, 1000, 1013}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string text(static_cast<size_t>(c.length), 'q');
    const uint32_t before = probe.Requests();
    CcString s(text.c_str());
    EXPECT_EQ(probe.Requests(), before + 1);
    EXPECT_EQ(probe.LastBytes(), c.bytes);
    EXPECT_TRUE(Holds(s, text, 1, c.capacity));
  }
}

TEST_F(CcStringTest, AppendStaysInPlaceUntilTheCapacityIsFull) {
  CcString s("abc");
  const char* block = s.Text();
  const std::string more(61, 'x');
  s.Append(more.c_str());
  EXPECT_EQ(s.Text(), block);
  EXPECT_TRUE(Holds(s, "abc" + more, 1, 64));
  s.Append("y");
  EXPECT_TRUE(Holds(s, "abc" + more + "y", 1, 128));
  EXPECT_EQ(probe.LastBytes(), 141u);

  // Beyond 512 the capacity is exact: every growing append builds a new block.
  const std::string bs(513, 'b');
  CcString big(bs.c_str());
  big.Append("c");
  EXPECT_TRUE(Holds(big, bs + "c", 1, 514));
}

TEST_F(CcStringTest, AppendUnsharesOnlyTheWriterAndNothingChangesNothing) {
  CcString first("shared"), empty;
  const char* block = first.Text();
  const CcString tail("?");
  for (bool stringForm : {false, true}) {  // a short tail that the shared block could hold
    SCOPED_TRACE(stringForm);
    CcString second(first);
    stringForm ? second.Append(tail) : second.Append("?");
    EXPECT_EQ(first.Text(), block);
    EXPECT_TRUE(Holds(first, "shared", 1, 64));
    EXPECT_TRUE(Holds(second, "shared?", 1, 64));
  }

  // Appending nothing leaves even a shared string shared.
  CcString second(first);
  const uint32_t before = probe.Requests();
  first.Append("").Append(nullptr).Append(empty).Append(CcString(""));
  EXPECT_EQ(first.Text(), block);
  EXPECT_TRUE(Holds(first, "shared", 2, 64));
  empty.Append("").Append(nullptr).Append(empty);
  EXPECT_TRUE(OnSharedEmptyBlock(empty));
  EXPECT_EQ(probe.Requests(), before);
}

TEST_F(CcStringTest, AppendStringToItself) {
  CcString s("abc");  // in place: the doubled text still fits
  const char* block = s.Text();
  s.Append(s);
  EXPECT_EQ(s.Text(), block);
  EXPECT_TRUE(Holds(s, "abcabc", 1, 64));

  const std::string forty(40, 'k');  // across a new block: the source is the one replaced
  CcString grown(forty.c_str());
  grown.Append(grown);
  EXPECT_TRUE(Holds(grown, forty + forty, 1, 128));
  grown.Append(grown.Text());  // the text form, pointing into the string itself
  EXPECT_TRUE(Holds(grown, forty + forty + forty + forty, 1, 256));

  CcString other(s);  // on a shared string
  s.Append(s);
  EXPECT_TRUE(Holds(s, "abcabcabcabc", 1, 64));
  EXPECT_TRUE(Holds(other, "abcabc", 1, 64));

  CcString nuls;  // the string form takes embedded NULs along
  std::memcpy(nuls.OpenBuffer(3), "a\0b", 3);
  nuls.CloseBuffer(3);
  nuls.Append(nuls);
  EXPECT_TRUE(Holds(nuls, std::string("a\0ba\0b", 6), 1, 64));
}

TEST_F(CcStringTest, AssignKeepsAnUnsharedBlockAndLeavesASharedOne) {
  CcString alone("hello");
  const char* block = alone.Text();
  alone.Assign("");
  EXPECT_TRUE(Holds(alone, "", 1, 64));
  alone.Assign("fits in place");
  alone.Assign(alone.Text() + 5);  // overlapping source inside the string itself
  EXPECT_TRUE(Holds(alone, "in place", 1, 64));
  alone.Assign(nullptr);
  EXPECT_TRUE(Holds(alone, "", 1, 64));
  const std::string filling(64, 'F');  // exactly the capacity
  alone.Assign(filling.c_str());
  EXPECT_EQ(alone.Text(), block);
  EXPECT_TRUE(Holds(alone, filling, 1, 64));
  EXPECT_EQ(probe.Requests(), 1u);

  // The old block goes before the new one is asked for, so the heap may hand out the same
  // address again: the request and the release show the move.
  const std::string longer(65, 'L');
  alone.Assign(longer.c_str());
  EXPECT_EQ(probe.Requests(), 2u);
  EXPECT_EQ(probe.Releases(), 1u);
  EXPECT_TRUE(Holds(alone, longer, 1, 128));

  CcString first("shared");
  CcString second(first);
  first.Assign("");
  EXPECT_TRUE(OnSharedEmptyBlock(first));
  EXPECT_TRUE(Holds(second, "shared", 1, 64));
  CcString third(second);
  third.Assign("x");
  EXPECT_TRUE(Holds(third, "x", 1, 64));
  EXPECT_TRUE(Holds(second, "shared", 1, 64));
  CcString copyOfEmpty(first);
  copyOfEmpty.Assign(second.Text());
  EXPECT_TRUE(Holds(copyOfEmpty, "shared", 1, 64));
  EXPECT_TRUE(OnSharedEmptyBlock(first));
}

TEST_F(CcStringTest, OpenBufferKeepsTheTextAndCopiesOnlyWhenNeeded) {
  CcString s("abc");
  const char* block = s.Text();
  EXPECT_EQ(s.OpenBuffer(10), block);
  EXPECT_EQ(s.OpenBuffer(64), block);
  char* grown = s.OpenBuffer(65);
  EXPECT_EQ(s.Text(), grown);
  EXPECT_TRUE(Holds(s, "abc", 1, 128));
  EXPECT_EQ(grown[65], '\0');

  // A shared string gets a block of its own, even for a count that the old one holds.
  CcString other(s);
  s.OpenBuffer(2)[0] = 'X';
  s.CloseBuffer(-1);
  EXPECT_TRUE(Holds(s, "Xbc", 1, 64));
  EXPECT_TRUE(Holds(other, "abc", 1, 128));

  // A count below the length: the new block is sized for the text that it keeps.
  const std::string hundred(100, 'h');
  CcString long1(hundred.c_str()), long2(long1);
  long1.OpenBuffer(1);
  EXPECT_TRUE(Holds(long1, hundred, 1, 128));
  EXPECT_TRUE(Holds(long2, hundred, 1, 128));

  CcString empty;
  char* fresh = empty.OpenBuffer(10);
  EXPECT_TRUE(Holds(empty, "", 1, 64));
  EXPECT_EQ(fresh[10], '\0');
  std::memcpy(fresh, "0123456789", 10);  // exactly the count, no NUL of its own
  empty.CloseBuffer(-1);
  EXPECT_TRUE(Holds(empty, "0123456789", 1, 64));

  CcString unopened;
  const uint32_t before = probe.Requests();
  EXPECT_EQ(unopened.OpenBuffer(0), CcString().Text());
  unopened.CloseBuffer(-1);
  unopened.CloseBuffer(0);
  EXPECT_TRUE(OnSharedEmptyBlock(unopened));
  EXPECT_EQ(probe.Requests(), before);
}

TEST_F(CcStringTest, CloseBufferMeasuresOrTakesTheCount) {
  const std::string written("ab\0cd", 5);
  CcString measured, counted, cut("abcdef"), full("abc");
  std::memcpy(measured.OpenBuffer(5), written.data(), 5);
  measured.CloseBuffer(-1);
  EXPECT_TRUE(Holds(measured, "ab", 1, 64));
  std::memcpy(counted.OpenBuffer(5), written.data(), 5);
  counted.CloseBuffer(5);
  EXPECT_TRUE(Holds(counted, written, 1, 64));
  cut.OpenBuffer(6);
  cut.CloseBuffer(3);  // shorter than the text: cut, and terminated at the count
  EXPECT_TRUE(Holds(cut, "abc", 1, 64));
  std::memset(full.OpenBuffer(64), 'z', 64);  // the whole capacity: the measure stops there
  full.CloseBuffer(-1);
  EXPECT_TRUE(Holds(full, std::string(64, 'z'), 1, 64));

  CcString other(counted);  // closing a shared block makes a copy of its own first
  other.CloseBuffer(-1);
  EXPECT_TRUE(Holds(other, "ab", 1, 64));
  EXPECT_TRUE(Holds(counted, written, 1, 64));
}

struct FindLastCase {
  std::string text;  // may hold NULs
  char ch;
  int32_t expected;
};

void ExpectFindLast(const FindLastCase& c) {
  SCOPED_TRACE(c.text);
  CcString s;
  const int32_t n = static_cast<int32_t>(c.text.size());
  std::memcpy(s.OpenBuffer(n), c.text.data(), c.text.size());
  s.CloseBuffer(n);
  EXPECT_EQ(s.FindLast(c.ch), c.expected);
}

TEST_F(CcStringTest, FindLastInSingleByteText) {
  // ASCII only, so that the cases hold in a double-byte code page too. Embedded NULs take part
  // like any other byte; the terminator is the last one.
  const std::string nuls("a\0b\\c", 5);
  const FindLastCase cases[] = {
      {"C:\\abc\\", '\\', 6}, {"C:\\ab\\d", '\\', 5}, {"\\abc", '\\', 0}, {"abc", '\\', -1},
      {"abc", '\0', 3},       {"", '\\', -1},         {"", '\0', 0},      {"a/b/c", '/', 3},
      {nuls, '\\', 3},        {nuls, '\0', 5},        {nuls, 'a', 0},
  };
  for (const FindLastCase& c : cases) ExpectFindLast(c);
}

TEST_F(CcStringTest, FindLastInDoubleByteCodePage) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  const std::string pair = kDbcsBackslashTrail;  // lead 0x95, trail '\'
  const FindLastCase cases[] = {
      {"C:\\" + pair + "d", '\\', 2},  // the trail byte is not found, the real one is
      {pair, '\\', -1},                // nothing but a trail byte
      {pair + "\\", '\\', 2},          // a real one after the pair
      {"\x95\x95\\", '\\', 2},         // a trail byte that is a lead byte value
      {"\x95\x95\x95\\", '\\', -1},    // ... so the third byte leads the backslash
      {"\xB1\\", '\\', 1},             // single-byte katakana is not a lead byte
      {"ab\\\x95", '\\', 2},           // a lone lead byte at the end, a match before it
      {"ab\x95", '\\', -1},            // a lone lead byte at the end, no match
      {"ab\x95", '\0', 3},             // ... the terminator still counts for NUL
      {"\x95", '\0', 1},
      {pair + "x", '\0', 3},
      {"\x95\x41" + std::string("A"), 'A', 2},  // an ASCII trail byte is not compared either
      {"\x95\x41", '\x95', -1},                 // nor is the lead byte
  };
  for (const FindLastCase& c : cases) ExpectFindLast(c);
}

TEST_F(CcStringTest, RefusedConstructionThrowsAndLeaksNothing) {
  probe.Refuse(1);
  EXPECT_THROW(CcString("abc"), CcExceptionMemory);
  probe.Refuse(1);
  EXPECT_THROW(CcStringPath(CcString("abc")), CcExceptionBase);  // caught as the base too
  EXPECT_EQ(probe.Requests(), 2u);
  EXPECT_EQ(probe.Refused(), 2u);
}

TEST_F(CcStringTest, RefusedAppendOrOpenKeepsTheOldText) {
  const std::string full(64, 'f');
  CcString s(full.c_str()), shared("abc"), sharer(shared), empty;
  const char* block = s.Text();
  const char* sharedBlock = shared.Text();
  const CcString tail("t");
  auto expectUnchanged = [&] {
    EXPECT_EQ(s.Text(), block);
    EXPECT_TRUE(Holds(s, full, 1, 64));
    EXPECT_TRUE(shared.Text() == sharedBlock && sharer.Text() == sharedBlock);
    EXPECT_TRUE(Holds(shared, "abc", 2, 64));
    EXPECT_TRUE(OnSharedEmptyBlock(empty));
  };
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"append text", [&] { s.Append("x"); }},
      {"append string", [&] { s.Append(tail); }},
      {"append itself", [&] { s.Append(s); }},
      {"append to shared", [&] { shared.Append("x"); }},
      {"append string to shared", [&] { shared.Append(tail); }},
      {"append to empty", [&] { empty.Append("x"); }},
      {"append string to empty", [&] { empty.Append(tail); }},
      {"open beyond capacity", [&] { s.OpenBuffer(65); }},
      {"open shared", [&] { shared.OpenBuffer(1); }},
      {"open empty", [&] { empty.OpenBuffer(10); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    const uint32_t before = probe.Requests();
    probe.Refuse(1);
    EXPECT_THROW(c.second(), CcExceptionMemory);
    EXPECT_EQ(probe.Requests(), before + 1);
    expectUnchanged();
  }

  // Too long for the 32-bit fields: thrown without a block, the text stays.
  const uint32_t before = probe.Requests();
  EXPECT_THROW(s.OpenBuffer(INT32_MAX - 12), CcExceptionMemory);
  EXPECT_THROW(empty.OpenBuffer(INT32_MAX), CcExceptionMemory);
  EXPECT_EQ(probe.Requests(), before);
  // The longest length still asks the heap, for exactly INT32_MAX bytes.
  probe.Refuse(1);
  EXPECT_THROW(s.OpenBuffer(INT32_MAX - 13), CcExceptionMemory);
  EXPECT_EQ(probe.LastBytes(), static_cast<size_t>(INT32_MAX));
  expectUnchanged();
}

TEST_F(CcStringTest, RefusedAssignOrCloseLeavesTheStringEmpty) {
  CcString s("abc"), first("shared"), second(first), empty;
  const std::string longer(65, 'a');
  // Assign beyond the capacity of an unshared block (which goes as well), of a short text on
  // a shared block and on the empty block; CloseBuffer on a shared block, both count forms.
  const std::pair<CcString*, std::function<void(CcString&)>> cases[] = {
      {&s, [&](CcString& t) { t.Assign(longer.c_str()); }},
      {&first, [](CcString& t) { t.Assign("x"); }},
      {&empty, [](CcString& t) { t.Assign("x"); }},
      {nullptr, [](CcString& t) { t.CloseBuffer(-1); }},
      {nullptr, [](CcString& t) { t.CloseBuffer(1); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    CcString closing(second);
    CcString& target = c.first ? *c.first : closing;
    probe.Refuse(1);
    EXPECT_THROW(c.second(target), CcExceptionMemory);
    EXPECT_TRUE(OnSharedEmptyBlock(target));
    EXPECT_EQ(std::string(second.Text()), "shared");  // the other owner keeps its text
  }
  EXPECT_TRUE(Holds(second, "shared", 1, 64));
  EXPECT_EQ(probe.Releases(), 1u);
}
