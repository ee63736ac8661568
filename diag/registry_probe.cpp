#include "diag/registry_probe.h"

#include <cstring>
#include <vector>

#include "bridge/czkt05b9.h"
#include "diag/text.h"
#include "support/cc_registry.h"

namespace {

constexpr DWORD kMaxUserHives = 256;

// The value as Unicode, to tell whether the ANSI text quickboot.exe reads lost characters.
void ReadUnicode(HKEY key, const char* name, ValueFacts* facts) {
  if (!CcRegistry::IsStringType(facts->type)) return;
  const std::wstring wideName(name, name + std::strlen(name));
  DWORD size = 0;
  if (RegQueryValueExW(key, wideName.c_str(), nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return;
  }
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, wideName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&text[0]),
                       &size) != ERROR_SUCCESS) {
    return;
  }
  text.resize(wcsnlen(text.c_str(), text.size()));
  facts->utf8 = WideToUtf8(text);
  if (text.empty()) return;
  BOOL lossy = FALSE;
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                      nullptr, 0, nullptr, &lossy);
  facts->ansiLossy = lossy != FALSE;
}

// Type and size, then the text through the class quickboot.exe reads with.
ValueFacts ObserveValue(CcRegistry& key, const char* name) {
  ValueFacts facts;
  facts.present = key.QueryValue(name, &facts.type, &facts.size) == ERROR_SUCCESS;
  const CcString text = key.ReadString(name, "", 0);
  facts.text.assign(text.Text(), static_cast<size_t>(text.Length()));
  if (facts.present) ReadUnicode(key.Handle(), name, &facts);
  return facts;
}

bool LookIn(CcRegistry& key, const char* where, ElsewhereFacts* facts) {
  if (!key.HoldsKey()) return false;
  facts->keyPresent = true;
  facts->where = where;
  const ValueFacts instPath = ObserveValue(key, CZKT05B9::kDirectoryValue);
  const ValueFacts dllName = ObserveValue(key, CZKT05B9::kFileValue);
  facts->instPath = instPath.text;
  facts->hasInstPath = instPath.present;
  facts->dllName = dllName.text;
  facts->hasDllName = dllName.present;
  return true;
}

// HKEY_CURRENT_USER, then every user's hive: a service running as SYSTEM has a
// HKEY_CURRENT_USER of its own, which an installer run by a person never wrote.
ElsewhereFacts LookInUsers() {
  ElsewhereFacts facts;
  {
    CcRegistry key;
    key.Open(CZKT05B9::kKeyPath, HKEY_CURRENT_USER, KEY_READ);
    if (LookIn(key, "HKEY_CURRENT_USER", &facts)) return facts;
  }
  for (DWORD index = 0; index < kMaxUserHives; ++index) {
    char sid[256];
    DWORD length = sizeof(sid);
    if (RegEnumKeyExA(HKEY_USERS, index, sid, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    const std::string hive(sid, length);
    CcRegistry key;
    key.Open((hive + "\\" + CZKT05B9::kKeyPath).c_str(), HKEY_USERS, KEY_READ);
    if (LookIn(key, ("HKEY_USERS\\" + hive).c_str(), &facts)) return facts;
  }
  return facts;
}

}  // namespace

void ObserveRegistry(RegistryFacts* facts) {
  {
    // As quickboot.exe opens it: a 64-bit process reads the 64-bit view.
    CcRegistry key;
    if (!CZKT05B9::OpenControlKey(&key)) {
      facts->openError = DescribeError(GetLastError());
    } else {
      facts->instPath = ObserveValue(key, CZKT05B9::kDirectoryValue);
      facts->dllName = ObserveValue(key, CZKT05B9::kFileValue);
    }
  }
  CcRegistry key32;
  CZKT05B9::OpenControlKey(&key32, KEY_WOW64_32KEY);
  LookIn(key32, "HKLM (32-bit view, WOW6432Node)", &facts->view32);
  facts->user = LookInUsers();
}
