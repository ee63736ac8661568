#include "bridge/czkt05b9.h"

#include "support/owned_text.h"

namespace {

using CtrlQuickBootProc = int32_t(WINAPI*)(int32_t, int32_t, int32_t, uint32_t*);

constexpr uint32_t kAnyAttribute = 0xFFFFFFFF;

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// "X:\..." or "\\server\..." (and "\\?\..."): a path that names its folder without the
// current directory's help.
bool IsFullyQualified(const char* path) {
  return (IsAsciiLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) ||
         (IsSeparator(path[0]) && IsSeparator(path[1]));
}

}  // namespace

void KeepCurrentDirectoryOutOfLibrarySearch() {
  // The system folder, not the empty text: both take the current directory out on Windows, but
  // wine ignores the empty text. The system folder is searched anyway, so nothing is added.
  wchar_t systemFolder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(systemFolder, MAX_PATH);
  SetDllDirectoryW(length > 0 && length < MAX_PATH ? systemFolder : L"");
}

CZKT05B9::~CZKT05B9() {
  if (module) {
    FreeLibrary(module);
    module = nullptr;
  }
  FreeOwnedText(&libraryPath);
}

int CZKT05B9::Load() {
  if (module) return 1;
  if (!libraryPath && !ResolveLibraryPath()) return 0;
  if (!PathHasAttributes(libraryPath, kAnyAttribute)) return 0;
  // A library named by its full path takes its own imports from the system's places, never
  // from the current directory, which whoever starts the program chooses. A bare name is looked
  // up through the current directory as recorded, so the search keeps it for that load.
  if (IsFullyQualified(libraryPath)) KeepCurrentDirectoryOutOfLibrarySearch();
  module = LoadLibraryA(libraryPath);
  if (!module) return 0;
  // Whatever the library loads later comes from the system's places too.
  KeepCurrentDirectoryOutOfLibrarySearch();
  getVersionInfo = GetProcAddress(module, "GetVersionInfo");
  ctrlQuickBoot = GetProcAddress(module, "CtrlQuickBoot");
  return getVersionInfo && ctrlQuickBoot ? 1 : 0;
}

int32_t CZKT05B9::InvokeControl(int32_t a, int32_t b, int32_t c, uint32_t* out) {
  // FARPROC has no parameters; the export's real type is restored through a plain pointer.
  auto* entry = reinterpret_cast<CtrlQuickBootProc>(reinterpret_cast<void*>(ctrlQuickBoot));
  return entry(a, b, c, out);
}
