// ResolveLibraryPath against the real registry: the fixture writes the control library's key
// under HKEY_LOCAL_MACHINE before each case and deletes it afterwards.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "bridge/czkt05b9.h"
#include "support/cc_exception_memory.h"
#include "support/owned_text.h"
#include "tests/support/test_code_page.h"
#include "tests/support/test_heap.h"

namespace {

constexpr char kKeyPath[] = "SOFTWARE\\Vantrel\\ZKT05B9";

// Reads and seeds the path slot that ResolveLibraryPath fills.
class InspectableBridge : public CZKT05B9 {
 public:
  const char* LibraryPath() const { return libraryPath; }
  void HoldPath(const char* text) { SetOwnedText(&libraryPath, text, -1); }
};

// A value to store: `size` bytes of `bytes`, or the text with its terminator for size 0;
// type 0 leaves it out.
struct Value {
  DWORD type;
  const char* bytes;
  DWORD size;
};

Value Sz(const char* text) {
  return {REG_SZ, text, 0};
}
Value Sz(const std::string& text) {
  return Sz(text.c_str());
}
constexpr Value kMissing = {0, "", 0};

std::string PathOf(const InspectableBridge& bridge) {
  return bridge.LibraryPath() ? bridge.LibraryPath() : "(null)";
}

class LibraryPathTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath); }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath); }

  // Replaces the key with one holding the given values.
  void WriteKey(const Value& instPath, const Value& dllName) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const struct {
      const char* name;
      const Value& value;
    } values[] = {{"InstPath", instPath}, {"DllName", dllName}};
    for (const auto& v : values) {
      if (v.value.type == 0) continue;
      const DWORD size =
          v.value.size ? v.value.size : static_cast<DWORD>(std::strlen(v.value.bytes) + 1);
      EXPECT_EQ(RegSetValueExA(key, v.name, 0, v.value.type,
                               reinterpret_cast<const BYTE*>(v.value.bytes), size),
                ERROR_SUCCESS);
    }
    RegCloseKey(key);
  }

  InspectableBridge bridge;
};

TEST_F(LibraryPathTest, JoinsDirectoryAndFileName) {
  const DWORD dword = 5;
  const Value dwordValue = {REG_DWORD, reinterpret_cast<const char*>(&dword), sizeof(dword)};
  const struct {
    const char* label;
    Value instPath;
    Value dllName;
    const char* expected;
  } cases[] = {
      {"plain join", Sz("C:\\Tools\\Ctl"), Sz("ctl.dll"), "C:\\Tools\\Ctl\\ctl.dll"},
      {"directory ends in a separator", Sz("C:\\Tools\\Ctl\\"), Sz("ctl.dll"),
       "C:\\Tools\\Ctl\\ctl.dll"},
      {"directory missing", kMissing, Sz("ctl.dll"), "ctl.dll"},
      {"directory empty", Sz(""), Sz("ctl.dll"), "ctl.dll"},
      {"directory of type REG_DWORD", dwordValue, Sz("ctl.dll"), "ctl.dll"},
      {"file name missing", Sz("C:\\Tools\\Ctl"), kMissing, "C:\\Tools\\Ctl\\"},
      {"file name of type REG_DWORD", Sz("C:\\Tools\\Ctl"), dwordValue, "C:\\Tools\\Ctl\\"},
      {"REG_MULTI_SZ file name",
       Sz("C:\\Tools\\Ctl"),
       {REG_MULTI_SZ, "a.dll\0b.dll\0", 13},
       "C:\\Tools\\Ctl\\a.dll"},
      {"REG_EXPAND_SZ directory",
       {REG_EXPAND_SZ, "%QB_DIR%\\Ctl", 0},
       Sz("ctl.dll"),
       "%QB_DIR%\\Ctl\\ctl.dll"},
      {"separator earlier in the directory only", Sz("C:\\Tools"), Sz("Ctl\\ctl.dll"),
       "C:\\Tools\\Ctl\\ctl.dll"},
  };
  ASSERT_TRUE(SetEnvironmentVariableA("QB_DIR", "D:\\Expanded"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteKey(c.instPath, c.dllName);
    EXPECT_EQ(bridge.ResolveLibraryPath(), 1);
    EXPECT_EQ(PathOf(bridge), c.expected);
  }
}

TEST_F(LibraryPathTest, NoPathWhenNothingCanBeComposed) {
  const struct {
    const char* label;
    bool writeKey;
    Value instPath;
    Value dllName;
  } cases[] = {
      {"key missing", false, kMissing, kMissing},
      {"both values missing", true, kMissing, kMissing},
      {"both values empty", true, Sz(""), Sz("")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKeyPath);
    if (c.writeKey) WriteKey(c.instPath, c.dllName);
    bridge.HoldPath("C:\\earlier.dll");  // a path from an earlier call goes as well
    EXPECT_EQ(bridge.ResolveLibraryPath(), 0);
    EXPECT_EQ(bridge.LibraryPath(), nullptr);
  }
}

TEST_F(LibraryPathTest, PathLengthLimit) {
  // The directory, the separator added after it, then "ctl.dll".
  const struct {
    size_t totalLength;
    int expectedResult;
  } cases[] = {{12, 1}, {520, 1}, {521, 0}, {4000, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.totalLength);
    const std::string directory = "C:\\" + std::string(c.totalLength - 3 - 1 - 7, 'd');
    const std::string expected = directory + "\\ctl.dll";
    ASSERT_EQ(expected.size(), c.totalLength);
    WriteKey(Sz(directory), Sz("ctl.dll"));
    EXPECT_EQ(bridge.ResolveLibraryPath(), c.expectedResult);
    EXPECT_EQ(PathOf(bridge), c.expectedResult ? expected : "(null)");
  }
  // A one-byte path is accepted too.
  WriteKey(kMissing, Sz("x"));
  EXPECT_EQ(bridge.ResolveLibraryPath(), 1);
  EXPECT_EQ(PathOf(bridge), "x");
}

TEST_F(LibraryPathTest, TrailByteBackslashIsNoSeparator) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";

  // Written through the ANSI call in this process, so the bytes pass code page 932 both ways.
  const std::string directory = std::string("C:\\Tools\\") + kDbcsBackslashTrail;
  WriteKey(Sz(directory), Sz("ctl.dll"));

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key), ERROR_SUCCESS);
  char ansi[64] = {};
  DWORD ansiSize = sizeof(ansi);
  EXPECT_EQ(
      RegQueryValueExA(key, "InstPath", nullptr, nullptr, reinterpret_cast<BYTE*>(ansi), &ansiSize),
      ERROR_SUCCESS);
  wchar_t wide[64] = {};
  DWORD wideSize = sizeof(wide);
  EXPECT_EQ(RegQueryValueExW(key, L"InstPath", nullptr, nullptr, reinterpret_cast<BYTE*>(wide),
                             &wideSize),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(std::string(ansi, ansiSize), directory + '\0');
  EXPECT_EQ(std::wstring(wide), L"C:\\Tools\\\u8868");  // one character, not a separator

  EXPECT_EQ(bridge.ResolveLibraryPath(), 1);
  EXPECT_EQ(PathOf(bridge), directory + "\\ctl.dll");
}

TEST_F(LibraryPathTest, SecondCallReplacesTheFirstPath) {
  WriteKey(Sz("C:\\First"), Sz("one.dll"));
  {
    ScopedHeapProbe heap;
    ASSERT_EQ(bridge.ResolveLibraryPath(), 1);
    EXPECT_EQ(heap.Requests() - heap.Releases(), 1u);  // only the path block stays
  }
  WriteKey(Sz("C:\\Second"), Sz("two.dll"));
  {
    ScopedHeapProbe heap;
    ASSERT_EQ(bridge.ResolveLibraryPath(), 1);
    EXPECT_EQ(heap.Requests() - heap.Releases(), 0u);  // the first path went
  }
  EXPECT_EQ(PathOf(bridge), "C:\\Second\\two.dll");
}

TEST_F(LibraryPathTest, RefusedPathCopyLeavesTheSlotEmpty) {
  WriteKey(Sz("C:\\Tools\\Ctl"), Sz("ctl.dll"));
  uint32_t pathRequest = 0;
  {
    ScopedHeapProbe heap;
    InspectableBridge dryRun;
    ASSERT_EQ(dryRun.ResolveLibraryPath(), 1);
    pathRequest = heap.Requests();  // the copy into the slot is the last request
    EXPECT_EQ(heap.LastBytes(), std::strlen("C:\\Tools\\Ctl\\ctl.dll") + 1);
  }
  ScopedHeapProbe heap;
  heap.Refuse(pathRequest);
  EXPECT_EQ(bridge.ResolveLibraryPath(), 1);
  EXPECT_EQ(heap.Refused(), 1u);
  EXPECT_EQ(bridge.LibraryPath(), nullptr);
  EXPECT_EQ(heap.Requests() - heap.Refused(), heap.Releases());  // nothing left behind
}

TEST_F(LibraryPathTest, RefusedStringBlockLeavesTheCall) {
  // Long enough that appending the file name needs a block of its own.
  const std::string directory = "C:\\" + std::string(57, 'd');
  WriteKey(Sz(directory), Sz("ctl.dll"));
  uint32_t stringRequests = 0;
  {
    ScopedHeapProbe heap;
    InspectableBridge dryRun;
    ASSERT_EQ(dryRun.ResolveLibraryPath(), 1);
    stringRequests = heap.Requests() - 1;  // all but the copy into the slot
  }
  ASSERT_EQ(stringRequests, 3u);  // the two read buffers and the joined path

  for (uint32_t refused = 1; refused <= stringRequests; ++refused) {
    SCOPED_TRACE(refused);
    bridge.HoldPath("C:\\earlier.dll");
    {
      ScopedHeapProbe heap;
      heap.Refuse(refused);
      EXPECT_THROW(bridge.ResolveLibraryPath(), CcExceptionMemory);
      EXPECT_EQ(heap.Refused(), 1u);
      // The earlier path and every string block made before the refusal are gone.
      EXPECT_EQ(heap.Requests() - heap.Refused() + 1, heap.Releases());
    }
    EXPECT_EQ(bridge.LibraryPath(), nullptr);
    EXPECT_EQ(bridge.ResolveLibraryPath(), 1);
    EXPECT_EQ(PathOf(bridge), directory + "\\ctl.dll");
  }
}

}  // namespace
