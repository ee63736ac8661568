// CcString and CcStringPath: block sharing, capacity classes, writes, buffers, FindLast and the
// state a string is left in when the heap refuses a block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "support/cc_exception_base.h"
#include "support/cc_exception_memory.h"
#include "support/cc_string.h"
#include "support/cc_string_path.h"
#include "tests/support/test_code_page.h"
#include "tests/support/test_heap.h"

namespace {

const CcStringData* Header(const CcString& s) {
  return reinterpret_cast<const CcStringData*>(s.Text()) - 1;
}

// The shared empty block's characters, as any string constructed empty sees them.
const char* SharedEmptyText() {
  return CcString().Text();
}

bool OnSharedEmptyBlock(const CcString& s) {
  return s.Text() == SharedEmptyText() && Header(s)->refs == -1 && Header(s)->length == 0 &&
         Header(s)->capacity == 0 && s.Text()[0] == '\0';
}

// The whole content, embedded NULs included, and the terminator at Length.
std::string Content(const CcString& s) {
  EXPECT_EQ(s.Text()[s.Length()], '\0');
  return std::string(s.Text(), static_cast<size_t>(s.Length()));
}

template <typename Operation>
bool ThrowsMemory(Operation operation) {
  try {
    operation();
  } catch (const CcExceptionMemory&) {
    return true;
  }
  return false;
}

template <typename Operation>
bool ThrowsBase(Operation operation) {
  try {
    operation();
  } catch (const CcExceptionBase&) {
    return true;
  }
  return false;
}

// Every block handed out has gone back to the heap.
void ExpectBalanced(const ScopedHeapProbe& probe) {
  EXPECT_EQ(probe.Releases(), probe.Requests() - probe.Refused());
}

}  // namespace

TEST(CcStringEmpty, EveryEmptyFormSharesTheEmptyBlockAndAllocatesNothing) {
  ScopedHeapProbe probe;
  {
    CcString byDefault;
    CcString fromNull(nullptr);
    CcString fromEmpty("");
    CcString copyOfDefault(byDefault);
    CcStringPath path(fromEmpty);
    const CcString* all[] = {&byDefault, &fromNull, &fromEmpty, &copyOfDefault, &path};
    for (const CcString* s : all) {
      EXPECT_EQ(s->Length(), 0);
      EXPECT_STREQ(s->Text(), "");
      EXPECT_TRUE(OnSharedEmptyBlock(*s));
    }
    EXPECT_EQ(byDefault.Text(), fromNull.Text());
    EXPECT_EQ(byDefault.Text(), fromEmpty.Text());
  }
  EXPECT_TRUE(OnSharedEmptyBlock(CcString()));  // destruction left the count alone
  EXPECT_EQ(probe.Requests(), 0u);
  EXPECT_EQ(probe.Releases(), 0u);
}

TEST(CcStringCopy, SharesTheBlockWithoutAllocating) {
  ScopedHeapProbe probe;
  {
    CcString original("C:\\Tools");
    ASSERT_EQ(probe.Requests(), 1u);
    EXPECT_EQ(Header(original)->refs, 1);
    {
      CcString copy(original);
      CcStringPath path(original);
      CcStringPath pathCopy(path);
      EXPECT_EQ(copy.Text(), original.Text());
      EXPECT_EQ(path.Text(), original.Text());
      EXPECT_EQ(pathCopy.Text(), original.Text());
      EXPECT_EQ(Header(original)->refs, 4);
      EXPECT_STREQ(path.Text(), "C:\\Tools");
      EXPECT_EQ(path.Length(), 8);
    }
    EXPECT_EQ(Header(original)->refs, 1);
    EXPECT_EQ(probe.Releases(), 0u);  // the other owners kept the block
    EXPECT_EQ(probe.Requests(), 1u);
  }
  EXPECT_EQ(probe.Releases(), 1u);

  // An empty text on a block of its own is still shared, not moved to the empty block.
  CcString emptied("abc");
  emptied.Assign("");
  const uint32_t before = probe.Requests();
  CcString copy(emptied);
  EXPECT_EQ(copy.Text(), emptied.Text());
  EXPECT_NE(copy.Text(), SharedEmptyText());
  EXPECT_EQ(Header(copy)->refs, 2);
  EXPECT_EQ(copy.Length(), 0);
  EXPECT_EQ(probe.Requests(), before);
}

TEST(CcStringCopy, StringPathBuiltFromStringAllocatesNothing) {
  ScopedHeapProbe probe;
  CcString directory("C:\\Tools\\Ctl");
  CcString empty;
  probe.Refuse(1, 100);  // a request now would throw
  const uint32_t before = probe.Requests();
  {
    CcStringPath path(directory);
    CcStringPath pathOfEmpty(empty);
    CcStringPath again(path);
    CcString back(again);
    EXPECT_EQ(path.Text(), directory.Text());
    EXPECT_EQ(back.Text(), directory.Text());
    EXPECT_EQ(Header(directory)->refs, 4);
    EXPECT_TRUE(OnSharedEmptyBlock(pathOfEmpty));
  }
  EXPECT_EQ(probe.Requests(), before);
  EXPECT_EQ(probe.Refused(), 0u);
  EXPECT_EQ(Header(directory)->refs, 1);
}

TEST(CcStringCapacity, ClassBorders) {
  struct Case {
    int32_t length;
    int32_t capacity;
    size_t bytes;
  };
  const Case cases[] = {{1, 64, 77},     {64, 64, 77},      {65, 128, 141},  {128, 128, 141},
                        {129, 256, 269}, {256, 256, 269},   {257, 512, 525}, {512, 512, 525},
                        {513, 513, 526}, {1000, 1000, 1013}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string text(static_cast<size_t>(c.length), 'q');
    ScopedHeapProbe probe;
    {
      CcString s(text.c_str());
      EXPECT_EQ(probe.Requests(), 1u);
      EXPECT_EQ(probe.LastBytes(), c.bytes);
      EXPECT_EQ(Header(s)->capacity, c.capacity);
      EXPECT_EQ(Header(s)->refs, 1);
      EXPECT_EQ(Content(s), text);
    }
    EXPECT_EQ(probe.Releases(), 1u);
  }
}

TEST(CcStringAppend, StaysInPlaceUntilTheCapacityIsFull) {
  ScopedHeapProbe probe;
  {
    CcString s("abc");
    const char* block = s.Text();
    const std::string more(61, 'x');
    s.Append(more.c_str());
    EXPECT_EQ(s.Text(), block);
    EXPECT_EQ(s.Length(), 64);
    EXPECT_EQ(Header(s)->capacity, 64);
    EXPECT_EQ(Content(s), "abc" + more);
    EXPECT_EQ(probe.Requests(), 1u);

    s.Append("y");
    EXPECT_NE(s.Text(), block);
    EXPECT_EQ(s.Length(), 65);
    EXPECT_EQ(Header(s)->capacity, 128);
    EXPECT_EQ(Header(s)->refs, 1);
    EXPECT_EQ(Content(s), "abc" + more + "y");
    EXPECT_EQ(probe.Requests(), 2u);
    EXPECT_EQ(probe.LastBytes(), 141u);
    EXPECT_EQ(probe.Releases(), 1u);  // the old block went back

    // Beyond 512 the capacity is exact: every growing append builds a new block.
    CcString big(std::string(513, 'b').c_str());
    const char* bigBlock = big.Text();
    big.Append("c");
    EXPECT_NE(big.Text(), bigBlock);
    EXPECT_EQ(Header(big)->capacity, 514);
    EXPECT_EQ(Content(big), std::string(513, 'b') + "c");
  }
  ExpectBalanced(probe);
}

TEST(CcStringAppend, OnASharedStringUnsharesOnlyTheWriter) {
  ScopedHeapProbe probe;
  {
    CcString first("shared");
    CcString second(first);
    const char* block = first.Text();
    second.Append("!");
    EXPECT_EQ(first.Text(), block);
    EXPECT_STREQ(first.Text(), "shared");
    EXPECT_EQ(Header(first)->refs, 1);
    EXPECT_NE(second.Text(), block);
    EXPECT_STREQ(second.Text(), "shared!");
    EXPECT_EQ(Header(second)->refs, 1);

    // The string form, with a short text that would fit the shared block's capacity.
    CcString third(first);
    const CcString tail("?");
    third.Append(tail);
    EXPECT_STREQ(third.Text(), "shared?");
    EXPECT_NE(third.Text(), block);
    EXPECT_STREQ(first.Text(), "shared");
    EXPECT_EQ(Header(first)->refs, 1);
  }
  ExpectBalanced(probe);
}

TEST(CcStringAppend, EmptyOrNullTextChangesNothing) {
  ScopedHeapProbe probe;
  CcString first("abc");
  CcString second(first);
  CcString empty;
  const uint32_t before = probe.Requests();
  first.Append("").Append(nullptr).Append(empty).Append(CcString(""));
  EXPECT_EQ(first.Text(), second.Text());
  EXPECT_EQ(Header(first)->refs, 2);
  EXPECT_STREQ(first.Text(), "abc");
  empty.Append("").Append(nullptr).Append(empty);
  EXPECT_TRUE(OnSharedEmptyBlock(empty));
  EXPECT_EQ(probe.Requests(), before);
}

TEST(CcStringAppend, StringToItself) {
  ScopedHeapProbe probe;
  {
    // In place: the doubled text still fits.
    CcString s("abc");
    const char* block = s.Text();
    s.Append(s);
    EXPECT_EQ(s.Text(), block);
    EXPECT_EQ(Content(s), "abcabc");

    // Across a new block: the source is the block being replaced.
    const std::string forty(40, 'k');
    CcString grown(forty.c_str());
    grown.Append(grown);
    EXPECT_EQ(Content(grown), forty + forty);
    EXPECT_EQ(Header(grown)->capacity, 128);
    grown.Append(grown.Text());  // the text form, pointing into the string itself
    EXPECT_EQ(Content(grown), forty + forty + forty + forty);

    // On a shared string.
    CcString other(s);
    s.Append(s);
    EXPECT_EQ(Content(s), "abcabcabcabc");
    EXPECT_EQ(Content(other), "abcabc");

    // The string form takes embedded NULs along.
    CcString nuls;
    std::memcpy(nuls.OpenBuffer(3), "a\0b", 3);
    nuls.CloseBuffer(3);
    nuls.Append(nuls);
    EXPECT_EQ(Content(nuls), std::string("a\0ba\0b", 6));
  }
  ExpectBalanced(probe);
}

TEST(CcStringAssign, KeepsAnUnsharedBlockAndLeavesASharedOne) {
  ScopedHeapProbe probe;
  {
    CcString alone("hello");
    const char* block = alone.Text();
    alone.Assign("");
    EXPECT_EQ(alone.Text(), block);
    EXPECT_EQ(alone.Length(), 0);
    EXPECT_EQ(alone.Text()[0], '\0');
    EXPECT_EQ(Header(alone)->capacity, 64);
    alone.Assign("fits in place");
    EXPECT_EQ(alone.Text(), block);
    EXPECT_STREQ(alone.Text(), "fits in place");
    alone.Assign(alone.Text() + 5);  // overlapping source inside the string itself
    EXPECT_EQ(Content(alone), "in place");
    alone.Assign(nullptr);
    EXPECT_EQ(alone.Text(), block);
    EXPECT_EQ(alone.Length(), 0);
    const std::string filling(64, 'F');  // exactly the capacity
    alone.Assign(filling.c_str());
    EXPECT_EQ(alone.Text(), block);
    EXPECT_EQ(Content(alone), filling);
    EXPECT_EQ(probe.Requests(), 1u);

    // The old block goes before the new one is asked for, so the heap may hand out the same
    // address again: the request and the release show the move.
    const std::string longer(65, 'L');
    alone.Assign(longer.c_str());
    EXPECT_EQ(probe.Requests(), 2u);
    EXPECT_EQ(probe.Releases(), 1u);
    EXPECT_EQ(Header(alone)->capacity, 128);
    EXPECT_EQ(Content(alone), longer);

    CcString first("shared");
    CcString second(first);
    first.Assign("");
    EXPECT_TRUE(OnSharedEmptyBlock(first));
    EXPECT_STREQ(second.Text(), "shared");
    EXPECT_EQ(Header(second)->refs, 1);

    CcString third(second);
    third.Assign("x");
    EXPECT_NE(third.Text(), second.Text());
    EXPECT_STREQ(third.Text(), "x");
    EXPECT_STREQ(second.Text(), "shared");
    EXPECT_EQ(Header(second)->refs, 1);

    CcString copyOfEmpty(first);
    copyOfEmpty.Assign(second.Text());
    EXPECT_STREQ(copyOfEmpty.Text(), "shared");
    EXPECT_TRUE(OnSharedEmptyBlock(first));
  }
  ExpectBalanced(probe);
}

TEST(CcStringBuffer, OpenKeepsTheTextAndCopiesOnlyWhenNeeded) {
  ScopedHeapProbe probe;
  {
    CcString s("abc");
    const char* block = s.Text();
    EXPECT_EQ(s.OpenBuffer(10), block);
    EXPECT_EQ(s.OpenBuffer(64), block);
    EXPECT_EQ(probe.Requests(), 1u);
    EXPECT_EQ(Content(s), "abc");

    char* grown = s.OpenBuffer(65);
    EXPECT_NE(grown, block);
    EXPECT_EQ(s.Text(), grown);
    EXPECT_EQ(Header(s)->capacity, 128);
    EXPECT_EQ(Content(s), "abc");
    EXPECT_EQ(grown[65], '\0');
    EXPECT_EQ(probe.Releases(), 1u);

    // A shared string gets a block of its own, even for a count that the old one holds.
    CcString other(s);
    char* own = s.OpenBuffer(2);
    EXPECT_NE(own, other.Text());
    EXPECT_EQ(Header(s)->refs, 1);
    EXPECT_EQ(Header(other)->refs, 1);
    EXPECT_EQ(Content(s), "abc");
    own[0] = 'X';
    s.CloseBuffer(-1);
    EXPECT_STREQ(s.Text(), "Xbc");
    EXPECT_STREQ(other.Text(), "abc");

    // A count below the length: the new block is sized for the text that it keeps.
    const std::string hundred(100, 'h');
    CcString long1(hundred.c_str());
    CcString long2(long1);
    long1.OpenBuffer(1);
    EXPECT_EQ(Header(long1)->capacity, 128);
    EXPECT_EQ(Content(long1), hundred);
    EXPECT_EQ(long2.Text()[0], 'h');

    CcString empty;
    char* fresh = empty.OpenBuffer(10);
    EXPECT_EQ(Header(empty)->capacity, 64);
    EXPECT_EQ(Header(empty)->refs, 1);
    EXPECT_EQ(empty.Length(), 0);
    EXPECT_EQ(fresh[0], '\0');
    EXPECT_EQ(fresh[10], '\0');
    EXPECT_EQ(probe.LastBytes(), 77u);
    std::memcpy(fresh, "0123456789", 10);  // exactly the count, no NUL of its own
    empty.CloseBuffer(-1);
    EXPECT_EQ(Content(empty), "0123456789");

    CcString unopened;
    const uint32_t before = probe.Requests();
    EXPECT_EQ(unopened.OpenBuffer(0), SharedEmptyText());
    unopened.CloseBuffer(-1);
    unopened.CloseBuffer(0);
    EXPECT_TRUE(OnSharedEmptyBlock(unopened));
    EXPECT_EQ(probe.Requests(), before);
  }
  ExpectBalanced(probe);
}

TEST(CcStringBuffer, CloseMeasuresOrTakesTheCount) {
  ScopedHeapProbe probe;
  {
    const char written[5] = {'a', 'b', '\0', 'c', 'd'};
    CcString measured;
    std::memcpy(measured.OpenBuffer(5), written, 5);
    measured.CloseBuffer(-1);
    EXPECT_EQ(measured.Length(), 2);
    EXPECT_STREQ(measured.Text(), "ab");

    CcString counted;
    std::memcpy(counted.OpenBuffer(5), written, 5);
    counted.CloseBuffer(5);
    EXPECT_EQ(counted.Length(), 5);
    EXPECT_EQ(counted.Text()[5], '\0');
    EXPECT_EQ(Content(counted), std::string(written, 5));

    // Shorter than the text: cut, and terminated at the count.
    CcString cut("abcdef");
    cut.OpenBuffer(6);
    cut.CloseBuffer(3);
    EXPECT_EQ(Content(cut), "abc");

    // A producer that fills the whole capacity: the measure stops at the capacity.
    CcString full("abc");
    char* chars = full.OpenBuffer(64);
    ASSERT_EQ(chars, full.Text());
    std::memset(chars, 'z', 64);
    full.CloseBuffer(-1);
    EXPECT_EQ(Content(full), std::string(64, 'z'));

    // Closing a shared block gives the closing string a copy of its own first.
    CcString other(counted);
    other.CloseBuffer(-1);
    EXPECT_NE(other.Text(), counted.Text());
    EXPECT_EQ(Content(other), "ab");
    EXPECT_EQ(Content(counted), std::string(written, 5));
    EXPECT_EQ(Header(counted)->refs, 1);
    EXPECT_EQ(Header(other)->refs, 1);
  }
  ExpectBalanced(probe);
}

TEST(CcStringFindLast, SingleByteText) {
  // ASCII only, so that the cases hold in a double-byte code page too.
  struct Case {
    const char* text;
    char ch;
    int32_t expected;
  };
  const Case cases[] = {
      {"C:\\abc\\", '\\', 6}, {"C:\\ab\\d", '\\', 5}, {"\\abc", '\\', 0}, {"abc", '\\', -1},
      {"abc", '\0', 3},       {"", '\\', -1},         {"", '\0', 0},      {"a/b/c", '/', 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CcString(c.text).FindLast(c.ch), c.expected);
  }

  // Embedded NULs take part like any other byte; the terminator is the last one.
  CcString nuls;
  std::memcpy(nuls.OpenBuffer(5), "a\0b\\c", 5);
  nuls.CloseBuffer(5);
  EXPECT_EQ(nuls.FindLast('\\'), 3);
  EXPECT_EQ(nuls.FindLast('\0'), 5);
  EXPECT_EQ(nuls.FindLast('a'), 0);
}

TEST(CcStringFindLast, DoubleByteCodePage) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  struct Case {
    std::string text;
    char ch;
    int32_t expected;
  };
  const std::string pair = kDbcsBackslashTrail;  // lead 0x95, trail '\'
  const Case cases[] = {
      {"C:\\" + pair + "d", '\\', 2},  // the trail byte is not found, the real one is
      {pair, '\\', -1},                // nothing but a trail byte
      {pair + "\\", '\\', 2},          // a real one after the pair
      {"\x95\x95\\", '\\', 2},         // a trail byte that is a lead byte value
      {"\x95\x95\x95\\", '\\', -1},    // ... so the third byte leads the backslash
      {"\xB1\\", '\\', 1},             // single-byte katakana is not a lead byte
      {"ab\\\x95", '\\', 2},           // a lone lead byte at the end, a match before it
      {"ab\x95", '\\', -1},            // a lone lead byte at the end, no match
      {"ab\x95", '\0', 3},             // ... the terminator still counts for NUL
      {"\x95", '\0', 1},               //
      {pair + "x", '\0', 3},           //
      {"\x95\x41"
       "A",
       'A', 2},                  // an ASCII trail byte is not compared either
      {"\x95\x41", '\x95', -1},  // nor is the lead byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(CcString(c.text.c_str()).FindLast(c.ch), c.expected);
  }
}

TEST(CcStringMemory, RefusedConstructionThrowsAndLeaksNothing) {
  ScopedHeapProbe probe;
  probe.Refuse(1);
  EXPECT_TRUE(ThrowsMemory([] { CcString s("abc"); }));
  probe.Refuse(1);
  EXPECT_TRUE(ThrowsBase([] { CcStringPath s(CcString("abc")); }));
  EXPECT_EQ(probe.Requests(), 2u);
  EXPECT_EQ(probe.Refused(), 2u);
  EXPECT_EQ(probe.Releases(), 0u);
}

TEST(CcStringMemory, RefusedAppendOrOpenKeepsTheOldText) {
  ScopedHeapProbe probe;
  {
    const std::string full(64, 'f');
    CcString s(full.c_str());
    CcString shared("abc");
    CcString sharer(shared);
    CcString empty;
    const char* block = s.Text();
    const char* sharedBlock = shared.Text();
    const CcString tail("t");

    auto expectUnchanged = [&] {
      EXPECT_EQ(s.Text(), block);
      EXPECT_EQ(Content(s), full);
      EXPECT_EQ(Header(s)->refs, 1);
      EXPECT_EQ(shared.Text(), sharedBlock);
      EXPECT_EQ(sharer.Text(), sharedBlock);
      EXPECT_EQ(Header(shared)->refs, 2);
      EXPECT_EQ(Content(shared), "abc");
      EXPECT_TRUE(OnSharedEmptyBlock(empty));
    };

    struct Case {
      const char* name;
      void (*operation)(CcString& s, CcString& shared, CcString& empty, const CcString& tail);
    };
    const Case cases[] = {
        {"append text", [](CcString& s, CcString&, CcString&, const CcString&) { s.Append("x"); }},
        {"append string",
         [](CcString& s, CcString&, CcString&, const CcString& tail) { s.Append(tail); }},
        {"append itself", [](CcString& s, CcString&, CcString&, const CcString&) { s.Append(s); }},
        {"append to shared",
         [](CcString&, CcString& shared, CcString&, const CcString&) { shared.Append("x"); }},
        {"append string to shared",
         [](CcString&, CcString& shared, CcString&, const CcString& tail) { shared.Append(tail); }},
        {"append to empty",
         [](CcString&, CcString&, CcString& empty, const CcString&) { empty.Append("x"); }},
        {"append string to empty",
         [](CcString&, CcString&, CcString& empty, const CcString& tail) { empty.Append(tail); }},
        {"open beyond capacity",
         [](CcString& s, CcString&, CcString&, const CcString&) { s.OpenBuffer(65); }},
        {"open shared",
         [](CcString&, CcString& shared, CcString&, const CcString&) { shared.OpenBuffer(1); }},
        {"open empty",
         [](CcString&, CcString&, CcString& empty, const CcString&) { empty.OpenBuffer(10); }},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const uint32_t before = probe.Requests();
      probe.Refuse(1);
      EXPECT_TRUE(ThrowsMemory([&] { c.operation(s, shared, empty, tail); }));
      EXPECT_EQ(probe.Requests(), before + 1);
      probe.Refuse(1, 0);
      expectUnchanged();
    }

    // Too long for the 32-bit fields: thrown without a block, the text stays.
    const uint32_t before = probe.Requests();
    EXPECT_TRUE(ThrowsMemory([&] { s.OpenBuffer(INT32_MAX - 12); }));
    EXPECT_TRUE(ThrowsMemory([&] { empty.OpenBuffer(INT32_MAX); }));
    EXPECT_EQ(probe.Requests(), before);
    // The longest length still asks the heap, for exactly INT32_MAX bytes.
    probe.Refuse(1);
    EXPECT_TRUE(ThrowsMemory([&] { s.OpenBuffer(INT32_MAX - 13); }));
    EXPECT_EQ(probe.LastBytes(), static_cast<size_t>(INT32_MAX));
    expectUnchanged();
  }
  ExpectBalanced(probe);
}

TEST(CcStringMemory, RefusedAssignOrCloseLeavesTheStringEmpty) {
  ScopedHeapProbe probe;
  {
    // Assign beyond the capacity of an unshared block: the old block is gone as well.
    CcString s("abc");
    probe.Refuse(1);
    EXPECT_TRUE(ThrowsMemory([&] { s.Assign(std::string(65, 'a').c_str()); }));
    EXPECT_TRUE(OnSharedEmptyBlock(s));
    EXPECT_EQ(probe.Releases(), 1u);

    // Assign on a shared block, even a short text: the other owner keeps its text.
    CcString first("shared");
    CcString second(first);
    probe.Refuse(1);
    EXPECT_TRUE(ThrowsBase([&] { first.Assign("x"); }));
    EXPECT_TRUE(OnSharedEmptyBlock(first));
    EXPECT_EQ(Content(second), "shared");
    EXPECT_EQ(Header(second)->refs, 1);

    // Assign on the empty block.
    CcString empty;
    probe.Refuse(1);
    EXPECT_TRUE(ThrowsMemory([&] { empty.Assign("x"); }));
    EXPECT_TRUE(OnSharedEmptyBlock(empty));

    // CloseBuffer on a shared block, both forms of the count.
    for (int32_t count : {-1, 1}) {
      SCOPED_TRACE(count);
      CcString closing(second);
      probe.Refuse(1);
      EXPECT_TRUE(ThrowsMemory([&] { closing.CloseBuffer(count); }));
      EXPECT_TRUE(OnSharedEmptyBlock(closing));
      EXPECT_EQ(Content(second), "shared");
      EXPECT_EQ(Header(second)->refs, 1);
    }
    probe.Refuse(1, 0);
  }
  ExpectBalanced(probe);
}

TEST(CcStringMemory, OperationsThatNeedNoBlockNeverAskForOne) {
  ScopedHeapProbe probe;
  {
    CcString s("abc");
    CcString empty;
    probe.Refuse(1, 1000);
    const uint32_t before = probe.Requests();
    {
      CcString copy(s);
      CcString copyOfEmpty(empty);
      CcStringPath path(s);
    }
    s.Append("def");
    s.Append(s);
    s.Assign("xyz");
    std::memcpy(s.OpenBuffer(64), "0123", 5);
    s.CloseBuffer(-1);
    s.CloseBuffer(2);
    s.Assign("");
    s.Append("");
    empty.Assign("");
    empty.Append(nullptr);
    EXPECT_EQ(Content(s), "");
    EXPECT_EQ(probe.Requests(), before);
    EXPECT_EQ(probe.Refused(), 0u);
    probe.Refuse(1, 0);
  }
  ExpectBalanced(probe);
}
