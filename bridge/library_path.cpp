// The bridge's library path lookup: "InstPath" and "DllName" under the control library's key.
#include <cstring>

#include "bridge/czkt05b9.h"
#include "support/cc_registry.h"
#include "support/cc_string_path.h"
#include "support/owned_text.h"

int CZKT05B9::OpenControlKey(CcRegistry* key, REGSAM view) {
  return key->Open(kKeyPath, HKEY_LOCAL_MACHINE, KEY_READ | view);
}

bool CZKT05B9::NeedsSeparator(const CcString& directory) {
  return directory.Length() != 0 && directory.FindLast('\\') != directory.Length() - 1;
}

int CZKT05B9::ResolveLibraryPath() {
  FreeOwnedText(&libraryPath);

  char staging[kMaxPathBytes + 1];
  std::memset(staging, 0, sizeof(staging));
  {
    CcRegistry key;
    if (OpenControlKey(&key)) {
      CcStringPath path(key.ReadString(kDirectoryValue, "", 0));
      if (NeedsSeparator(path)) path.Append("\\");
      path.Append(key.ReadString(kFileValue, "", 0));
      key.Close(0);
      // The length is checked against the buffer, which is zero-filled: the copy ends in a NUL.
      if (path.Length() >= 1 && path.Length() <= kMaxPathBytes) {
        std::memcpy(staging, path.Text(), static_cast<size_t>(path.Length()));
      }
    }
  }
  if (lstrlenA(staging) == 0) return 0;
  SetOwnedText(&libraryPath, staging, -1);
  return 1;
}
