#include "support/cc_registry.h"

#include <climits>

namespace {

// A value larger than this cannot become a string data block (a signed 32-bit length).
constexpr DWORD kMaxStringBytes = INT_MAX - 64;

}  // namespace

CcRegistry::~CcRegistry() {
  Close(0);
}

int CcRegistry::Open(const char* subkey, HKEY root, REGSAM access) {
  if (keyHandle) return 0;
  HKEY opened = nullptr;
  const LONG status = RegOpenKeyExA(root, subkey, 0, access, &opened);
  if (status != ERROR_SUCCESS) {
    keyHandle = nullptr;
    SetLastError(static_cast<DWORD>(status));
    return 0;
  }
  keyHandle = opened;
  accessMask = access;
  return 1;
}

int CcRegistry::Close(int flush) {
  if (!keyHandle) return 1;
  int result = 1;
  if (flush && RegFlushKey(keyHandle) != ERROR_SUCCESS) result = 0;
  if (RegCloseKey(keyHandle) != ERROR_SUCCESS) result = 0;
  keyHandle = nullptr;
  accessMask = kNoKeyAccess;
  return result;
}

int CcRegistry::WriteValue(const char* name, const void* data, DWORD type, DWORD size) {
  if (!keyHandle) return 0;
  if (size == 0) size = static_cast<DWORD>(lstrlenA(static_cast<const char*>(data))) + 1;
  return RegSetValueExA(keyHandle, name, 0, type, static_cast<const BYTE*>(data), size) ==
                 ERROR_SUCCESS
             ? 1
             : 0;
}

LONG CcRegistry::QueryValue(const char* name, DWORD* type, DWORD* size) const {
  if (!keyHandle) return ERROR_INVALID_HANDLE;
  return RegQueryValueExA(keyHandle, name, nullptr, type, nullptr, size);
}

CcString CcRegistry::ReadString(const char* name, const char* defaultText, int create, DWORD* type,
                                DWORD* size) {
  if (!keyHandle) return CcString(defaultText);

  CcString buffer;
  DWORD valueType = 0;
  DWORD valueSize = 0;
  const LONG status = RegQueryValueExA(keyHandle, name, nullptr, &valueType, nullptr, &valueSize);
  if (size) *size = valueSize;

  if (status == ERROR_SUCCESS && IsStringType(valueType) && valueSize <= kMaxStringBytes) {
    if (type) *type = valueType;
    const int32_t count = static_cast<int32_t>(valueSize);
    char* characters = buffer.OpenBuffer(count);
    DWORD readSize = valueSize;
    if (count > 0) {
      RegQueryValueExA(keyHandle, name, nullptr, &valueType, reinterpret_cast<BYTE*>(characters),
                       &readSize);
    }
    buffer.CloseBuffer(-1);
    CcString result(buffer);
    return result;
  }

  if (create && WriteValue(name, defaultText, REG_SZ, 0)) {
    if (type) *type = REG_SZ;
    if (size) {
      DWORD newSize = 0;
      if (RegQueryValueExA(keyHandle, name, nullptr, nullptr, nullptr, &newSize) == ERROR_SUCCESS) {
        *size = newSize;
      }
    }
  }
  return CcString(defaultText);
}
