// The control bridge: locates, loads, checks and calls the control library, and releases it
// when destroyed.
#pragma once

#include <windows.h>

#include <cstdint>

class CcRegistry;
class CcString;

// Takes the current directory out of this process's library search for the rest of the run.
void KeepCurrentDirectoryOutOfLibrarySearch();

class CZKT05B9 {
 public:
  // Where ResolveLibraryPath looks (HKEY_LOCAL_MACHINE, KEY_READ) and the longest path it keeps.
  static constexpr char kKeyPath[] = "SOFTWARE\\Vantrel\\ZKT05B9";
  static constexpr char kDirectoryValue[] = "InstPath";
  static constexpr char kFileValue[] = "DllName";
  static constexpr int32_t kMaxPathBytes = 520;

  CZKT05B9() = default;
  CZKT05B9(const CZKT05B9&) = delete;
  CZKT05B9& operator=(const CZKT05B9&) = delete;
  // Unloads the library if loaded, then frees the path.
  virtual ~CZKT05B9();

  // Fills `libraryPath` from the registry; 1 when it now holds a non-empty path.
  virtual int ResolveLibraryPath();
  // Opens the control key as the lookup does (`view` 0: the process's own view); 1 when open.
  static int OpenControlKey(CcRegistry* key, REGSAM view = 0);
  // True when a separator goes between `directory` and the file name: it is not empty and does
  // not already end in a backslash.
  static bool NeedsSeparator(const CcString& directory);
  // True for "X:\..." and "\\server\..." (and "\\?\..."): a path that names its folder
  // without the current directory's help. Such a library takes its imports from its own folder
  // and the system folder only.
  static bool NamesItsFolder(const char* path);

  // 1 when the library is loaded and exports both "GetVersionInfo" and "CtrlQuickBoot".
  int Load();
  // Calls "CtrlQuickBoot" (a, b, c, out) and answers its status; only after a successful Load.
  int32_t InvokeControl(int32_t a, int32_t b, int32_t c, uint32_t* out);
  // Reads the state word into *out (the caller zeroes it first); 0 on success.
  int32_t QueryState(uint32_t* out) { return InvokeControl(1, 0, 0, out); }
  // Writes `value`; *out is scratch. 0 on success.
  int32_t ApplyState(uint32_t value, uint32_t* out) {
    return InvokeControl(1, 1, static_cast<int32_t>(value), out);
  }

 protected:
  HMODULE module = nullptr;
  char* libraryPath = nullptr;  // owned text slot
  FARPROC getVersionInfo = nullptr;
  FARPROC ctrlQuickBoot = nullptr;
};
