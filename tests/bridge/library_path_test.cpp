// ResolveLibraryPath against the real registry: the cases write the control library's key
// under HKEY_LOCAL_MACHINE, and the fixture deletes it before and after each test.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <utility>

#include "bridge/czkt05b9.h"
#include "support/cc_exception_memory.h"
#include "support/owned_text.h"
#include "tests/support/test_code_page.h"
#include "tests/support/test_heap.h"

namespace {

constexpr char kKeyPath[] = "SOFTWARE\\Vantrel\\ZKT05B9";
constexpr char kNone[] = "(none)";

class InspectableBridge : public CZKT05B9 {
 public:
  // The path slot that ResolveLibraryPath fills, or kNone when empty.
  std::string Path() const { return libraryPath ? libraryPath : kNone; }
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
constexpr Value kMissing = {0, "", 0};

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
    const std::pair<const char*, Value> values[] = {{"InstPath", instPath}, {"DllName", dllName}};
    for (const auto& [name, value] : values) {
      if (value.type == 0) continue;
      const DWORD size = value.size ? value.size : static_cast<DWORD>(std::strlen(value.bytes) + 1);
      EXPECT_EQ(RegSetValueExA(key, name, 0, value.type, reinterpret_cast<const BYTE*>(value.bytes),
                               size),
                ERROR_SUCCESS);
    }
    RegCloseKey(key);
  }

  InspectableBridge bridge;
};

TEST_F(LibraryPathTest, JoinsDirectoryAndFileNameUpTo520Bytes) {
  const DWORD dword = 5;
  const Value dwordValue = {REG_DWORD, reinterpret_cast<const char*>(&dword), sizeof(dword)};
  const Value multi = {REG_MULTI_SZ, "a.dll\0b.dll\0", 13};
  const Value expand = {REG_EXPAND_SZ, "%QB_DIR%\\Ctl", 0};
  // Directories that give paths of 520, 521 and 4000 bytes with the separator and "ctl.dll".
  const std::string dir520 = "C:\\" + std::string(509, 'd'), dir521 = dir520 + 'd';
  const std::string dir4000 = "C:\\" + std::string(3989, 'd'), path520 = dir520 + "\\ctl.dll";
  ASSERT_EQ(path520.size(), 520u);
  const struct {
    const char* label;
    Value instPath;
    Value dllName;
    const char* expected;  // null: no path, the result 0
  } cases[] = {
      {"plain join", Sz("C:\\Tools\\Ctl"), Sz("ctl.dll"), "C:\\Tools\\Ctl\\ctl.dll"},
      {"directory with separator", Sz("C:\\Tools\\Ctl\\"), Sz("ctl.dll"),
       "C:\\Tools\\Ctl\\ctl.dll"},
      {"directory missing", kMissing, Sz("ctl.dll"), "ctl.dll"},
      {"directory empty", Sz(""), Sz("ctl.dll"), "ctl.dll"},
      {"directory REG_DWORD", dwordValue, Sz("ctl.dll"), "ctl.dll"},
      {"one-byte file name", kMissing, Sz("x"), "x"},
      {"file name missing", Sz("C:\\Tools\\Ctl"), kMissing, "C:\\Tools\\Ctl\\"},
      {"file name REG_DWORD", Sz("C:\\Tools\\Ctl"), dwordValue, "C:\\Tools\\Ctl\\"},
      {"file name REG_MULTI_SZ", Sz("C:\\Tools\\Ctl"), multi, "C:\\Tools\\Ctl\\a.dll"},
      {"directory REG_EXPAND_SZ", expand, Sz("ctl.dll"), "%QB_DIR%\\Ctl\\ctl.dll"},
      {"separator inside only", Sz("C:\\Tools"), Sz("Ctl\\ctl.dll"), "C:\\Tools\\Ctl\\ctl.dll"},
      {"520-byte path", Sz(dir520.c_str()), Sz("ctl.dll"), path520.c_str()},
      {"521-byte path", Sz(dir521.c_str()), Sz("ctl.dll"), nullptr},
      {"4000-byte path", Sz(dir4000.c_str()), Sz("ctl.dll"), nullptr},
      {"both values missing", kMissing, kMissing, nullptr},
      {"both values empty", Sz(""), Sz(""), nullptr},
  };
  ASSERT_TRUE(SetEnvironmentVariableA("QB_DIR", "D:\\Expanded"));
  // The key missing; then each case. A path from an earlier call never survives, and the call
  // leaves nothing on the heap but the new path.
  bridge.HoldPath("C:\\earlier.dll");
  EXPECT_EQ(bridge.ResolveLibraryPath(), 0);
  EXPECT_EQ(bridge.Path(), kNone);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteKey(c.instPath, c.dllName);
    bridge.HoldPath("C:\\earlier.dll");
    ScopedHeapProbe heap;
    EXPECT_EQ(bridge.ResolveLibraryPath(), c.expected ? 1 : 0);
    EXPECT_EQ(bridge.Path(), c.expected ? c.expected : kNone);
    EXPECT_EQ(heap.Requests() + 1, heap.Releases() + (c.expected ? 1u : 0u));
  }
}

TEST_F(LibraryPathTest, TrailByteBackslashIsNoSeparator) {
  ScopedDoubleByteCodePage dbcs;
  if (!dbcs.Active()) GTEST_SKIP() << "needs code page 932";
  const std::string directory = std::string("C:\\Tools\\") + kDbcsBackslashTrail;
  WriteKey(Sz(directory.c_str()), Sz("ctl.dll"));
  EXPECT_EQ(bridge.ResolveLibraryPath(), 1);
  EXPECT_EQ(bridge.Path(), directory + "\\ctl.dll");
}

TEST_F(LibraryPathTest, RefusedHeapRequests) {
  // Long enough that appending the file name needs a block of its own.
  const std::string directory = "C:\\" + std::string(57, 'd');
  const std::string joined = directory + "\\ctl.dll";
  WriteKey(Sz(directory.c_str()), Sz("ctl.dll"));
  uint32_t requests = 0;
  {
    ScopedHeapProbe heap;
    ASSERT_EQ(bridge.ResolveLibraryPath(), 1);
    requests = heap.Requests();
    EXPECT_EQ(heap.LastBytes(), joined.size() + 1);  // the last is the copy into the slot
  }
  ASSERT_EQ(requests, 4u);  // the two read buffers, the joined path and the copy

  for (uint32_t refused = 1; refused <= requests; ++refused) {
    SCOPED_TRACE(refused);  // the bridge holds the path of the call before
    {
      ScopedHeapProbe heap;
      heap.Refuse(refused);
      if (refused < requests) {
        EXPECT_THROW(bridge.ResolveLibraryPath(), CcExceptionMemory);
      } else {
        // The copy into the slot: the path still counts as found; Load's existence test then
        // fails on the empty slot.
        EXPECT_EQ(bridge.ResolveLibraryPath(), 1);
      }
      // The earlier path and every block made before the refusal are gone.
      EXPECT_EQ(heap.Requests() - heap.Refused() + 1, heap.Releases());
    }
    EXPECT_EQ(bridge.Path(), kNone);
    EXPECT_EQ(bridge.ResolveLibraryPath(), 1);
    EXPECT_EQ(bridge.Path(), joined);
  }
}

}  // namespace
