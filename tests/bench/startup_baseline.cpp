// The least a program can do to answer "/g": read InstPath and DllName from the control key,
// load the library, find both entry points, make the one read call, answer bit 1. The startup
// benchmark's yardstick for quickboot.exe; no checks beyond what keeps it from crashing.
#include <windows.h>

#include <cstdint>

namespace {

using CtrlQuickBootProc = int32_t(WINAPI*)(int32_t, int32_t, int32_t, uint32_t*);

constexpr int kFailed = 100;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\ZKT05B9", 0, KEY_READ, &key) != 0) {
    return kFailed;
  }
  char path[522] = {};
  DWORD size = sizeof(path) - 2;
  RegQueryValueExA(key, "InstPath", nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
  int length = lstrlenA(path);
  if (length > 0 && path[length - 1] != '\\') path[length++] = '\\';
  size = static_cast<DWORD>(sizeof(path) - 1 - length);
  RegQueryValueExA(key, "DllName", nullptr, nullptr, reinterpret_cast<BYTE*>(path + length), &size);
  RegCloseKey(key);

  HMODULE library = LoadLibraryA(path);
  if (!library || !GetProcAddress(library, "GetVersionInfo")) return kFailed;
  auto* control = reinterpret_cast<CtrlQuickBootProc>(
      reinterpret_cast<void*>(GetProcAddress(library, "CtrlQuickBoot")));
  uint32_t state = 0;
  if (!control || control(1, 0, 0, &state) != 0) return kFailed;
  return (state >> 1) & 1;
}
