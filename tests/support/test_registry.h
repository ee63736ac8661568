// Registry keys as the Windows tests set them up: a key's values as stored (type and raw bytes),
// written whole over whatever was there and read back whole.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <utility>

// The key under HKEY_LOCAL_MACHINE (64-bit view) where quickboot.exe finds its control library.
constexpr char kControlKey[] = "SOFTWARE\\Vantrel\\ZKT05B9";

// A registry value as stored: type and raw bytes, terminating NULs included.
using RegistryValue = std::pair<DWORD, std::string>;
using Values = std::map<std::string, RegistryValue>;
using KeyContent = std::optional<Values>;  // empty: no key at all

inline RegistryValue Text(const std::string& text, DWORD type = REG_SZ) {
  return {type, text + '\0'};
}

struct OpenKey {
  HKEY handle = nullptr;
  OpenKey() = default;
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (handle) RegCloseKey(handle);
  }
};

// `view` is KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0 (for HKEY_CURRENT_USER).
inline KeyContent ReadKey(HKEY root, const char* path, REGSAM view) {
  OpenKey key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ | view, &key.handle) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  Values values;
  for (DWORD index = 0;; ++index) {
    char name[256];
    BYTE data[4096];
    DWORD nameLength = sizeof(name), type = REG_NONE, size = sizeof(data);
    if (RegEnumValueA(key.handle, index, name, &nameLength, nullptr, &type, data, &size) !=
        ERROR_SUCCESS) {
      return values;
    }
    values[name] = {type, std::string(reinterpret_cast<char*>(data), size)};
  }
}

// Deletes the key (a key with subkeys stays), then creates it with `content` unless that is
// empty. False when the key could not be written.
inline bool WriteKey(HKEY root, const char* path, REGSAM view, const KeyContent& content) {
  RegDeleteKeyExA(root, path, view, 0);
  if (!content) return true;
  OpenKey key;
  if (RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_WRITE | view, nullptr, &key.handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  for (const auto& [name, value] : *content) {
    if (RegSetValueExA(key.handle, name.c_str(), 0, value.first,
                       reinterpret_cast<const BYTE*>(value.second.data()),
                       static_cast<DWORD>(value.second.size())) != ERROR_SUCCESS) {
      return false;
    }
  }
  return true;
}
