#include "bridge/czkt05b9.h"

#include "support/owned_text.h"

namespace {

using CtrlQuickBootProc = int32_t(WINAPI*)(int32_t, int32_t, int32_t, uint32_t*);

constexpr uint32_t kAnyAttribute = 0xFFFFFFFF;

}  // namespace

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
  module = LoadLibraryA(libraryPath);
  if (!module) return 0;
  getVersionInfo = GetProcAddress(module, "GetVersionInfo");
  ctrlQuickBoot = GetProcAddress(module, "CtrlQuickBoot");
  return getVersionInfo && ctrlQuickBoot ? 1 : 0;
}

int32_t CZKT05B9::InvokeControl(int32_t a, int32_t b, int32_t c, uint32_t* out) {
  // FARPROC has no parameters; the export's real type is restored through a plain pointer.
  auto* entry = reinterpret_cast<CtrlQuickBootProc>(reinterpret_cast<void*>(ctrlQuickBoot));
  return entry(a, b, c, out);
}
