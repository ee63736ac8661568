// CcRegistry against the real registry: each test works in a private key below
// HKEY_CURRENT_USER\Software\QuickBootTests that the fixture creates and deletes.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

#include "support/cc_exception_memory.h"
#include "support/cc_registry.h"
#include "support/cc_string.h"
#include "tests/support/test_heap.h"

namespace {

constexpr DWORD kUnwritten = 0xDEADBEEF;
constexpr REGSAM kNoKeyAccess = 0xF003F;
constexpr char kTestRoot[] = "Software\\QuickBootTests";

const CcStringData* Header(const CcString& s) {
  return reinterpret_cast<const CcStringData*>(s.Text()) - 1;
}

// The capacity OpenBuffer gives a fresh string for `n` bytes.
LONG CapacityFor(DWORD n) {
  if (n <= 64) return 64;
  if (n <= 128) return 128;
  if (n <= 256) return 256;
  if (n <= 512) return 512;
  return static_cast<LONG>(n);
}

std::string TestKeyName() {
  return std::string(kTestRoot) + "\\" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A value as the registry reports it through the ANSI query.
struct Stored {
  LONG status = -1;
  DWORD type = 0;
  std::string bytes;
};

Stored Query(HKEY key, const char* name) {
  Stored stored;
  DWORD size = 0;
  stored.status = RegQueryValueExA(key, name, nullptr, &stored.type, nullptr, &size);
  if (stored.status != ERROR_SUCCESS) return stored;
  stored.bytes.assign(size, '\0');
  if (size != 0) {
    stored.status = RegQueryValueExA(key, name, nullptr, &stored.type,
                                     reinterpret_cast<BYTE*>(&stored.bytes[0]), &size);
    stored.bytes.resize(size);
  }
  return stored;
}

class RegistryKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    keyName = TestKeyName();
    RegDeleteTreeA(HKEY_CURRENT_USER, keyName.c_str());
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &raw, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    if (raw) RegCloseKey(raw);
    RegDeleteTreeA(HKEY_CURRENT_USER, keyName.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, kTestRoot);  // only goes once empty
  }

  void Put(const char* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExA(raw, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }
  // Size the ANSI query reports for a value without reading it.
  DWORD ReportedSize(const char* name) {
    DWORD size = kUnwritten;
    EXPECT_EQ(RegQueryValueExA(raw, name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    return size;
  }

  std::string keyName;
  HKEY raw = nullptr;
};

struct StringValueCase {
  const char* label;
  DWORD type;
  const char* data;  // stored through RegSetValueExA with `size` bytes
  DWORD size;
  const char* expected;
};

TEST_F(RegistryKeyTest, StringTypedValuesReadUpToTheFirstNul) {
  // RegSetValueExA counts a forgotten terminator when the byte after the data is NUL, so the
  // unterminated cases are followed by a non-NUL byte in memory.
  const StringValueCase cases[] = {
      {"REG_SZ with terminator", REG_SZ, "abc", 4, "abc"},
      {"REG_SZ without terminator", REG_SZ, "abcX", 3, "abc"},
      {"REG_SZ of 0 bytes", REG_SZ, "abc", 0, ""},
      {"REG_SZ with embedded NUL", REG_SZ, "ab\0cdX", 5, "ab"},
      {"REG_MULTI_SZ", REG_MULTI_SZ, "a.dll\0b.dll\0", 13, "a.dll"},
      {"REG_EXPAND_SZ unexpanded", REG_EXPAND_SZ, "%A%\\b", 6, "%A%\\b"},
  };
  ASSERT_TRUE(SetEnvironmentVariableA("A", "expanded"));
  for (const StringValueCase& c : cases) {
    SCOPED_TRACE(c.label);
    Put("v", c.type, c.data, c.size);
    DWORD storedWide = 0;  // the stored UTF-16 form: exactly the bytes given, no terminator added
    ASSERT_EQ(RegQueryValueExW(raw, L"v", nullptr, nullptr, nullptr, &storedWide), ERROR_SUCCESS);
    ASSERT_EQ(storedWide, 2 * c.size);
    const DWORD reported = ReportedSize("v");

    CcRegistry key;
    ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_READ), 1);
    DWORD type = kUnwritten;
    DWORD size = kUnwritten;
    CcString text = key.ReadString("v", "default", 0, &type, &size);

    EXPECT_STREQ(text.Text(), c.expected);
    EXPECT_EQ(text.Length(), static_cast<int32_t>(std::strlen(c.expected)));
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, reported);  // passed on as the platform reports it
    EXPECT_LE(static_cast<DWORD>(text.Length()), size);
    if (size == 0) {
      EXPECT_EQ(Header(text)->refs, -1);  // the shared empty block
    } else {
      // Read straight into the returned block: not copied, sized by the first query.
      EXPECT_EQ(Header(text)->refs, 1);
      EXPECT_EQ(Header(text)->capacity, CapacityFor(size));
    }
  }
}

TEST_F(RegistryKeyTest, ReportedSizesOfStringValues) {
  // The byte counts the class hands on, as the platform's ANSI query gives them.
  const struct {
    const char* label;
    DWORD type;
    const char* data;
    DWORD size;
    DWORD reported;
  } cases[] = {
      {"REG_SZ with terminator", REG_SZ, "abc", 4, 4},
      {"REG_SZ of 0 bytes", REG_SZ, "", 0, 0},
      {"REG_SZ with embedded NUL", REG_SZ, "ab\0cdX", 5, 5},
      {"REG_MULTI_SZ", REG_MULTI_SZ, "a.dll\0b.dll\0", 13, 13},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Put("v", c.type, c.data, c.size);
    CcRegistry key;
    ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_READ), 1);
    DWORD size = kUnwritten;
    key.ReadString("v", "", 0, nullptr, &size);
    EXPECT_EQ(size, c.reported);
  }
}

TEST_F(RegistryKeyTest, OtherTypesAndMissingValuesGiveTheDefault) {
  const DWORD dword = 7;
  Put("dword", REG_DWORD, &dword, sizeof(dword));
  Put("binary", REG_BINARY, "xyz", 3);

  CcRegistry key;
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_READ), 1);
  const struct {
    const char* name;
    DWORD storedSize;  // 0: missing, the size out-value is not fixed
  } cases[] = {{"dword", 4}, {"binary", 3}, {"missing", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD type = kUnwritten;
    DWORD size = kUnwritten;
    CcString text = key.ReadString(c.name, "dflt", 0, &type, &size);
    EXPECT_STREQ(text.Text(), "dflt");
    EXPECT_EQ(text.Length(), 4);
    EXPECT_EQ(type, kUnwritten);
    if (c.storedSize != 0) {
      EXPECT_EQ(size, c.storedSize);
    }

    CcString fromNull = key.ReadString(c.name, nullptr, 0);
    EXPECT_STREQ(fromNull.Text(), "");
    EXPECT_EQ(fromNull.Length(), 0);
  }
  EXPECT_EQ(Query(raw, "dword").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Query(raw, "missing").status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, CreateOnWritableKeyStoresTheDefaultAsRegSz) {
  const DWORD dword = 7;
  Put("dword", REG_DWORD, &dword, sizeof(dword));

  CcRegistry key;
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_QUERY_VALUE | KEY_SET_VALUE), 1);
  const struct {
    const char* name;
    const char* defaultText;
  } cases[] = {{"dword", "dflt"}, {"missing", ""}, {"other missing", "a longer default"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD type = kUnwritten;
    DWORD size = kUnwritten;
    CcString text = key.ReadString(c.name, c.defaultText, 1, &type, &size);
    EXPECT_STREQ(text.Text(), c.defaultText);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, std::strlen(c.defaultText) + 1);

    const Stored stored = Query(raw, c.name);
    EXPECT_EQ(stored.status, ERROR_SUCCESS);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.bytes, std::string(c.defaultText, std::strlen(c.defaultText) + 1));
  }
  // Once created, the value is an ordinary string value.
  DWORD type = kUnwritten;
  EXPECT_STREQ(key.ReadString("dword", "other", 1, &type).Text(), "dflt");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(RegistryKeyTest, CreateOnReadOnlyKeyWritesNothing) {
  const DWORD dword = 7;
  Put("dword", REG_DWORD, &dword, sizeof(dword));

  CcRegistry key;
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_READ), 1);
  for (const char* name : {"dword", "missing"}) {
    SCOPED_TRACE(name);
    DWORD type = kUnwritten;
    DWORD size = kUnwritten;
    CcString text = key.ReadString(name, "dflt", 1, &type, &size);
    EXPECT_STREQ(text.Text(), "dflt");
    EXPECT_EQ(type, kUnwritten);
    if (std::strcmp(name, "dword") == 0) {
      EXPECT_EQ(size, 4u);  // as with create clear
    }
  }
  EXPECT_EQ(Query(raw, "dword").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Query(raw, "missing").status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, WriteValueStoresTheGivenBytes) {
  CcRegistry key;
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_ALL_ACCESS), 1);

  EXPECT_EQ(key.WriteValue("whole", "abc", REG_SZ, 0), 1);
  Stored stored = Query(raw, "whole");
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(stored.bytes, std::string("abc", 4));

  // Not a string type, so the platform adds no terminator of its own.
  EXPECT_EQ(key.WriteValue("binary", "abc", REG_BINARY, 0), 1);
  stored = Query(raw, "binary");
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(stored.bytes, std::string("abc", 4));

  EXPECT_EQ(key.WriteValue("part", "abc", REG_SZ, 2), 1);
  stored = Query(raw, "part");
  EXPECT_EQ(stored.bytes, "ab");

  const DWORD dword = 0x01020304;
  EXPECT_EQ(key.WriteValue("part", &dword, REG_DWORD, sizeof(dword)), 1);  // replaces the type
  stored = Query(raw, "part");
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(stored.bytes, std::string(reinterpret_cast<const char*>(&dword), sizeof(dword)));

  CcRegistry readOnly;
  ASSERT_EQ(readOnly.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_READ), 1);
  EXPECT_EQ(readOnly.WriteValue("refused", "abc", REG_SZ, 0), 0);
  EXPECT_EQ(Query(raw, "refused").status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, AccessMaskFollowsTheHeldKey) {
  CcRegistry key;
  EXPECT_FALSE(key.HoldsKey());
  EXPECT_EQ(key.AccessMask(), kNoKeyAccess);

  for (REGSAM access : {REGSAM(KEY_READ), REGSAM(KEY_QUERY_VALUE), REGSAM(KEY_ALL_ACCESS),
                        REGSAM(KEY_QUERY_VALUE | KEY_SET_VALUE)}) {
    SCOPED_TRACE(access);
    ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, access), 1);
    EXPECT_TRUE(key.HoldsKey());
    EXPECT_EQ(key.AccessMask(), access);
    EXPECT_EQ(key.Close(0), 1);
    EXPECT_FALSE(key.HoldsKey());
    EXPECT_EQ(key.AccessMask(), kNoKeyAccess);
  }

  EXPECT_EQ(key.Open((keyName + "\\missing").c_str(), HKEY_CURRENT_USER, KEY_READ), 0);
  EXPECT_FALSE(key.HoldsKey());
  EXPECT_EQ(key.AccessMask(), kNoKeyAccess);
}

TEST_F(RegistryKeyTest, OpenWhileHoldingKeepsTheHeldKey) {
  Put("here", REG_SZ, "first", 6);
  HKEY child = nullptr;
  ASSERT_EQ(RegCreateKeyExA(raw, "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(child, "here", 0, REG_SZ, reinterpret_cast<const BYTE*>("second"), 7);
  RegCloseKey(child);

  CcRegistry key;
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_READ), 1);
  EXPECT_EQ(key.Open("child", raw, KEY_ALL_ACCESS), 0);
  EXPECT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_ALL_ACCESS), 0);
  EXPECT_EQ(key.AccessMask(), static_cast<REGSAM>(KEY_READ));
  EXPECT_STREQ(key.ReadString("here", "", 0).Text(), "first");
  EXPECT_EQ(key.Close(0), 1);

  // A subkey below another open key's handle.
  ASSERT_EQ(key.Open("child", raw, KEY_READ), 1);
  EXPECT_STREQ(key.ReadString("here", "", 0).Text(), "second");
}

TEST_F(RegistryKeyTest, WithoutAKeyEveryOperationAnswersWithoutTheRegistry) {
  Put("v", REG_SZ, "stored", 7);
  CcRegistry key;
  ASSERT_EQ(key.Open((keyName + "\\missing").c_str(), HKEY_CURRENT_USER, KEY_ALL_ACCESS), 0);

  DWORD type = kUnwritten;
  DWORD size = kUnwritten;
  EXPECT_STREQ(key.ReadString("v", "dflt", 1, &type, &size).Text(), "dflt");
  EXPECT_EQ(type, kUnwritten);
  EXPECT_EQ(size, kUnwritten);
  EXPECT_STREQ(key.ReadString("v", nullptr, 0).Text(), "");
  EXPECT_EQ(key.WriteValue("v", "abc", REG_SZ, 0), 0);
  EXPECT_EQ(key.Close(0), 1);
  EXPECT_EQ(key.Close(1), 1);

  // Closed after a successful open: the same answers, and closing again answers 1.
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_ALL_ACCESS), 1);
  EXPECT_EQ(key.Close(0), 1);
  EXPECT_EQ(key.Close(0), 1);
  EXPECT_STREQ(key.ReadString("v", "dflt", 0, &type, &size).Text(), "dflt");
  EXPECT_EQ(type, kUnwritten);
  EXPECT_EQ(size, kUnwritten);
  EXPECT_EQ(key.WriteValue("v", "abc", REG_SZ, 0), 0);
  EXPECT_EQ(Query(raw, "v").bytes, std::string("stored", 7));
}

TEST_F(RegistryKeyTest, CloseWithFlush) {
  CcRegistry key;
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_ALL_ACCESS), 1);
  ASSERT_EQ(key.WriteValue("v", "abc", REG_SZ, 0), 1);
  EXPECT_EQ(key.Close(1), 1);
  EXPECT_FALSE(key.HoldsKey());
  EXPECT_EQ(key.AccessMask(), kNoKeyAccess);
  EXPECT_EQ(Query(raw, "v").bytes, std::string("abc", 4));
}

TEST_F(RegistryKeyTest, LargeValueIsReadWholeIntoOneBlock) {
  const size_t length = 1u << 20;
  std::string text(length, '\0');
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
  Put("big", REG_SZ, text.c_str(), static_cast<DWORD>(length + 1));

  CcRegistry key;
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_READ), 1);
  ScopedHeapProbe heap;
  DWORD size = kUnwritten;
  CcString value = key.ReadString("big", "", 0, nullptr, &size);

  EXPECT_EQ(size, length + 1);
  ASSERT_EQ(value.Length(), static_cast<int32_t>(length));
  EXPECT_EQ(std::memcmp(value.Text(), text.data(), length), 0);
  EXPECT_EQ(value.Text()[length], '\0');
  // One block, sized by the first query (a copy of the text would have capacity `length`).
  EXPECT_EQ(heap.Requests(), 1u);
  EXPECT_EQ(heap.Releases(), 0u);
  EXPECT_EQ(Header(value)->refs, 1);
  EXPECT_EQ(Header(value)->capacity, static_cast<LONG>(length + 1));
}

TEST_F(RegistryKeyTest, HeapFailureLeavesTheKeyHeld) {
  Put("v", REG_SZ, "abc", 4);
  CcRegistry key;
  ASSERT_EQ(key.Open(keyName.c_str(), HKEY_CURRENT_USER, KEY_READ), 1);
  {
    ScopedHeapProbe heap;
    heap.Refuse(1);
    EXPECT_THROW(key.ReadString("v", "dflt", 0), CcExceptionMemory);  // the read buffer
    EXPECT_EQ(heap.Refused(), 1u);
    heap.Refuse(1);
    EXPECT_THROW(key.ReadString("missing", "dflt", 0), CcExceptionMemory);  // the default
    EXPECT_EQ(heap.Refused(), 2u);
    EXPECT_EQ(heap.Releases(), 0u);
  }
  EXPECT_TRUE(key.HoldsKey());
  EXPECT_EQ(key.AccessMask(), static_cast<REGSAM>(KEY_READ));
  EXPECT_STREQ(key.ReadString("v", "dflt", 0).Text(), "abc");
  EXPECT_EQ(key.Close(0), 1);
}

TEST(RegistryKeyMachineHive, ReadsBelowLocalMachine) {
  const std::string name = "SOFTWARE\\QuickBootTests\\ReadsBelowLocalMachine";
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(raw, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\Tools"), 9);
  RegCloseKey(raw);

  {
    CcRegistry key;
    ASSERT_EQ(key.Open(name.c_str(), HKEY_LOCAL_MACHINE, KEY_READ), 1);
    DWORD type = kUnwritten;
    DWORD size = kUnwritten;
    EXPECT_STREQ(key.ReadString("v", "", 0, &type, &size).Text(), "C:\\Tools");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 9u);
  }
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, name.c_str()), ERROR_SUCCESS);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QuickBootTests");
}

}  // namespace
