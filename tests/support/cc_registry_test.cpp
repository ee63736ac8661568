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
constexpr DWORD kNotFixed = 0xFFFFFFFF;  // a size figure the test leaves to the platform
constexpr REGSAM kNoKeyAccess = 0xF003F;
constexpr char kTestRoot[] = "Software\\QuickBootTests";

// A value as the registry reports it through the ANSI query.
struct Stored {
  LONG status = -1;
  DWORD type = 0;
  std::string bytes;
};

Stored Query(HKEY key, const char* name) {
  Stored stored;
  char buffer[64];
  DWORD size = sizeof(buffer);
  stored.status =
      RegQueryValueExA(key, name, nullptr, &stored.type, reinterpret_cast<BYTE*>(buffer), &size);
  if (stored.status == ERROR_SUCCESS) stored.bytes.assign(buffer, size);
  return stored;
}

class RegistryKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    keyName = std::string(kTestRoot) + "\\" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    RegDeleteTreeA(HKEY_CURRENT_USER, keyName.c_str());
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    const DWORD dword = 7;  // a value of a type that ReadString does not take
    Put("dword", REG_DWORD, &dword, sizeof(dword));
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
  int Open(CcRegistry& key, REGSAM access) {
    return key.Open(keyName.c_str(), HKEY_CURRENT_USER, access);
  }

  std::string keyName;
  HKEY raw = nullptr;
};

TEST_F(RegistryKeyTest, StringTypedValuesReadUpToTheFirstNulStraightIntoTheBlock) {
  // `size` bytes of `data` are stored. RegSetValueExA counts a forgotten terminator when the
  // byte after the data is NUL, so the unterminated cases are followed by a non-NUL byte in
  // memory. `reported` is the size the ANSI query gives, which ReadString hands on as it is.
  const struct {
    const char *label, *data, *expected;
    DWORD type, size, reported;
  } cases[] = {
      {"REG_SZ with terminator", "abc", "abc", REG_SZ, 4, 4},
      {"REG_SZ without terminator", "abcX", "abc", REG_SZ, 3, kNotFixed},
      {"REG_SZ of 0 bytes", "abc", "", REG_SZ, 0, 0},
      {"REG_SZ with embedded NUL", "ab\0cdX", "ab", REG_SZ, 5, 5},
      {"REG_MULTI_SZ", "a.dll\0b.dll\0", "a.dll", REG_MULTI_SZ, 13, 13},
      {"REG_EXPAND_SZ unexpanded", "%A%\\b", "%A%\\b", REG_EXPAND_SZ, 6, kNotFixed},
  };
  ASSERT_TRUE(SetEnvironmentVariableA("A", "expanded"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Put("v", c.type, c.data, c.size);
    DWORD storedWide = 0;  // the stored UTF-16 form: exactly the bytes given, no terminator added
    ASSERT_EQ(RegQueryValueExW(raw, L"v", nullptr, nullptr, nullptr, &storedWide), ERROR_SUCCESS);
    ASSERT_EQ(storedWide, 2 * c.size);
    DWORD reported = kUnwritten;
    ASSERT_EQ(RegQueryValueExA(raw, "v", nullptr, nullptr, nullptr, &reported), ERROR_SUCCESS);
    EXPECT_TRUE(c.reported == kNotFixed || reported == c.reported) << reported;

    CcRegistry key;
    ASSERT_EQ(Open(key, KEY_READ), 1);
    DWORD type = kUnwritten, size = kUnwritten;
    CcString text = key.ReadString("v", "default", 0, &type, &size);
    EXPECT_STREQ(text.Text(), c.expected);
    EXPECT_EQ(text.Length(), static_cast<int32_t>(std::strlen(c.expected)));
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, reported);
    // Read straight into the returned block: not copied, sized by the first query (all small).
    EXPECT_EQ(CcStringData::Of(text.Text())->refs, size == 0 ? -1 : 1);
    EXPECT_EQ(CcStringData::Of(text.Text())->capacity, size == 0 ? 0 : 64);
  }
}

TEST_F(RegistryKeyTest, OtherTypesMissingValuesAndRefusedCreatesGiveTheDefault) {
  Put("binary", REG_BINARY, "xyz", 3);
  CcRegistry key;
  ASSERT_EQ(Open(key, KEY_READ), 1);  // so that a create fails
  const struct {
    const char* name;
    DWORD create, storedSize;
  } cases[] = {
      {"dword", 0, 4}, {"binary", 0, 3},          {"missing", 0, kNotFixed},
      {"dword", 1, 4}, {"missing", 1, kNotFixed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + (c.create ? " create" : ""));
    DWORD type = kUnwritten, size = kUnwritten;
    EXPECT_STREQ(key.ReadString(c.name, "dflt", c.create, &type, &size).Text(), "dflt");
    EXPECT_EQ(type, kUnwritten);
    EXPECT_TRUE(c.storedSize == kNotFixed || size == c.storedSize) << size;
    EXPECT_EQ(key.ReadString(c.name, nullptr, 0).Length(), 0);
  }
  EXPECT_EQ(Query(raw, "dword").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Query(raw, "missing").status, ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, CreateAndWriteValueOnAWritableKey) {
  CcRegistry key;
  ASSERT_EQ(Open(key, KEY_QUERY_VALUE | KEY_SET_VALUE), 1);
  // With create off, even a writable key is left exactly as it was.
  for (const char* defaultText : {"dflt", static_cast<const char*>(nullptr)}) {
    EXPECT_STREQ(key.ReadString("dword", defaultText, 0).Text(), defaultText ? defaultText : "");
    EXPECT_STREQ(key.ReadString("missing", defaultText, 0).Text(), defaultText ? defaultText : "");
  }
  EXPECT_EQ(Query(raw, "missing").status, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Query(raw, "dword").type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(Query(raw, "dword").bytes, std::string("\7\0\0\0", 4));
  const struct {
    const char *name, *defaultText;
  } cases[] = {{"dword", "dflt"}, {"missing", ""}, {"other missing", "a longer default"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DWORD type = kUnwritten, size = kUnwritten;
    EXPECT_STREQ(key.ReadString(c.name, c.defaultText, 1, &type, &size).Text(), c.defaultText);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, std::strlen(c.defaultText) + 1);
    const Stored stored = Query(raw, c.name);
    EXPECT_EQ(stored.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(stored.bytes, std::string(c.defaultText, std::strlen(c.defaultText) + 1));
  }
  // Once created, the value is an ordinary string value.
  DWORD type = kUnwritten;
  EXPECT_STREQ(key.ReadString("dword", "other", 1, &type).Text(), "dflt");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));

  // WriteValue stores the bytes given, or a text with its terminator for a size of 0.
  const DWORD dword = 0x01020304;
  const struct {
    const char* name;
    const void* data;
    DWORD type, size;
    std::string bytes;
  } writes[] = {
      {"whole", "abc", REG_SZ, 0, std::string("abc", 4)},
      // Not a string type, so the platform adds no terminator of its own.
      {"binary", "abc", REG_BINARY, 0, std::string("abc", 4)},
      {"part", "abc", REG_SZ, 2, "ab"},
      {"part", &dword, REG_DWORD, 4, std::string(reinterpret_cast<const char*>(&dword), 4)},
  };
  for (const auto& c : writes) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(key.WriteValue(c.name, c.data, c.type, c.size), 1);
    const Stored stored = Query(raw, c.name);
    EXPECT_EQ(stored.type, c.type);  // the last case replaces the type as well
    EXPECT_EQ(stored.bytes, c.bytes);
  }
}

TEST_F(RegistryKeyTest, OpenAndCloseFollowTheHeldKey) {
  Put("v", REG_SZ, "stored", 7);
  CcRegistry key;
  // Holding no key, every operation answers without the registry.
  auto expectNoKey = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_FALSE(key.HoldsKey());
    EXPECT_EQ(key.AccessMask(), kNoKeyAccess);
    DWORD type = kUnwritten, size = kUnwritten;
    EXPECT_STREQ(key.ReadString("v", "dflt", 1, &type, &size).Text(), "dflt");
    EXPECT_EQ(type, kUnwritten);
    EXPECT_EQ(size, kUnwritten);
    EXPECT_STREQ(key.ReadString("v", nullptr, 0).Text(), "");
    EXPECT_EQ(key.WriteValue("v", "abc", REG_SZ, 0), 0);
    EXPECT_EQ(key.Close(0), 1);
    EXPECT_EQ(key.Close(1), 1);
  };
  expectNoKey("new");
  EXPECT_EQ(key.Open((keyName + "\\missing").c_str(), HKEY_CURRENT_USER, KEY_ALL_ACCESS), 0);
  expectNoKey("after a failed open");
  for (REGSAM access : {REGSAM(KEY_READ), REGSAM(KEY_QUERY_VALUE),
                        REGSAM(KEY_QUERY_VALUE | KEY_SET_VALUE), REGSAM(KEY_ALL_ACCESS)}) {
    SCOPED_TRACE(access);
    ASSERT_EQ(Open(key, access), 1);
    EXPECT_TRUE(key.HoldsKey());
    EXPECT_EQ(key.AccessMask(), access);
    EXPECT_EQ(key.WriteValue("written", "abc", REG_SZ, 0), (access & KEY_SET_VALUE) ? 1 : 0);
    EXPECT_EQ(key.Close(access == KEY_ALL_ACCESS), 1);  // the last one flushes
    expectNoKey("after a close");
  }
  EXPECT_EQ(Query(raw, "written").bytes, std::string("abc", 4));
  EXPECT_EQ(Query(raw, "v").bytes, std::string("stored", 7));

  // A second open is refused and leaves the held key as it was.
  Put("here", REG_SZ, "first", 6);
  ASSERT_EQ(RegSetKeyValueA(raw, "child", "here", REG_SZ, "second", 7), ERROR_SUCCESS);
  ASSERT_EQ(Open(key, KEY_READ), 1);
  EXPECT_EQ(key.Open("child", raw, KEY_ALL_ACCESS), 0);
  EXPECT_EQ(Open(key, KEY_ALL_ACCESS), 0);
  EXPECT_EQ(key.AccessMask(), static_cast<REGSAM>(KEY_READ));
  EXPECT_STREQ(key.ReadString("here", "", 0).Text(), "first");
  EXPECT_EQ(key.Close(0), 1);
  ASSERT_EQ(key.Open("child", raw, KEY_READ), 1);  // below another open key's handle
  EXPECT_STREQ(key.ReadString("here", "", 0).Text(), "second");
}

TEST_F(RegistryKeyTest, LargeValueIsReadWholeIntoOneBlockAndARefusedBlockKeepsTheKey) {
  const size_t length = 1u << 20;
  std::string text(length, '\0');
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
  Put("big", REG_SZ, text.c_str(), static_cast<DWORD>(length + 1));

  CcRegistry key;
  ASSERT_EQ(Open(key, KEY_READ), 1);
  ScopedHeapProbe heap;
  DWORD size = kUnwritten;
  CcString value = key.ReadString("big", "", 0, nullptr, &size);
  EXPECT_EQ(size, length + 1);
  ASSERT_EQ(value.Length(), static_cast<int32_t>(length));
  EXPECT_EQ(std::memcmp(value.Text(), text.data(), length + 1), 0);
  // One block, sized by the first query (a copy of the text would have capacity `length`).
  EXPECT_EQ(heap.Requests(), 1u);
  EXPECT_EQ(heap.Releases(), 0u);
  EXPECT_EQ(CcStringData::Of(value.Text())->refs, 1);
  EXPECT_EQ(CcStringData::Of(value.Text())->capacity, static_cast<LONG>(length + 1));

  // A refused block leaves the key held: the read buffer, then the default.
  heap.Refuse(1);
  EXPECT_THROW(key.ReadString("big", "dflt", 0), CcExceptionMemory);
  heap.Refuse(1);
  EXPECT_THROW(key.ReadString("missing", "dflt", 0), CcExceptionMemory);
  EXPECT_EQ(heap.Refused(), 2u);
  EXPECT_EQ(heap.Releases(), 0u);
  EXPECT_TRUE(key.HoldsKey());
  EXPECT_EQ(key.AccessMask(), static_cast<REGSAM>(KEY_READ));
  EXPECT_EQ(key.ReadString("big", "dflt", 0).Length(), static_cast<int32_t>(length));
}

TEST(RegistryKeyMachineHive, ReadsBelowLocalMachine) {
  const char name[] = "SOFTWARE\\QuickBootTests\\ReadsBelowLocalMachine";
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, name, "v", REG_SZ, "C:\\Tools", 9), ERROR_SUCCESS);
  {
    CcRegistry key;
    ASSERT_EQ(key.Open(name, HKEY_LOCAL_MACHINE, KEY_READ), 1);
    DWORD type = kUnwritten, size = kUnwritten;
    EXPECT_STREQ(key.ReadString("v", "", 0, &type, &size).Text(), "C:\\Tools");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 9u);
  }
  EXPECT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, name), ERROR_SUCCESS);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\QuickBootTests");
}

}  // namespace
