// One open registry key, held for the length of a single operation.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/cc_string.h"

class CcRegistry {
 public:
  CcRegistry() = default;
  CcRegistry(const CcRegistry&) = delete;
  CcRegistry& operator=(const CcRegistry&) = delete;
  // Closes a held key without flushing.
  virtual ~CcRegistry();

  // Opens `subkey` below `root` with `access`; refused (0) while a key is held. A failed open
  // leaves the registry's status in the thread's last-error value.
  int Open(const char* subkey, HKEY root, REGSAM access);
  // Releases the held key, flushing it first when asked; 1 when nothing failed or none was held.
  int Close(int flush);
  // Stores a value; a `size` of 0 stores `data` as a NUL-terminated text with its terminator.
  int WriteValue(const char* name, const void* data, DWORD type, DWORD size);
  // A string value (REG_SZ, REG_EXPAND_SZ unexpanded, first string of REG_MULTI_SZ) read
  // straight into the returned string's block; `defaultText` otherwise, stored as REG_SZ first
  // when `create` is set.
  CcString ReadString(const char* name, const char* defaultText, int create, DWORD* type = nullptr,
                      DWORD* size = nullptr);

  // The value's type and stored size, without its data: the registry's status (0: present).
  LONG QueryValue(const char* name, DWORD* type, DWORD* size) const;
  // The types ReadString reads as text.
  static bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  }
  // The held key, for reads this class does not make itself; null while none is held.
  HKEY Handle() const { return keyHandle; }

  // The access the held key was opened with; KEY_ALL_ACCESS while none is held.
  REGSAM AccessMask() const { return accessMask; }
  // True while a key is held.
  bool HoldsKey() const { return keyHandle != nullptr; }

 private:
  static constexpr REGSAM kNoKeyAccess = KEY_ALL_ACCESS;

  HKEY keyHandle = nullptr;
  REGSAM accessMask = kNoKeyAccess;
};
