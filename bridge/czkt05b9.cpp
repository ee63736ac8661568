#include "bridge/czkt05b9.h"

#include "support/owned_text.h"

namespace {

using CtrlQuickBootProc = int32_t(WINAPI*)(int32_t, int32_t, int32_t, uint32_t*);

constexpr uint32_t kAnyAttribute = 0xFFFFFFFF;
constexpr DWORD kOwnFolderAndSystem =
    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

bool CZKT05B9::NamesItsFolder(const char* path) {
  return (IsAsciiLetter(path[0]) && path[1] == ':' && IsSeparator(path[2])) ||
         (IsSeparator(path[0]) && IsSeparator(path[1]));
}

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
  // A library named by its full path takes its imports from its own folder and the system
  // folder only: never from the current directory or PATH, which others may choose. A bare name
  // is looked up through the current directory as recorded, so it keeps the usual search.
  module = NamesItsFolder(libraryPath) ? LoadLibraryExA(libraryPath, nullptr, kOwnFolderAndSystem)
                                       : LoadLibraryA(libraryPath);
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
