#include "diag/crash_guard.h"

#include "app/exit_code.h"
#include "app/unmapped_code.h"

namespace {

CrashHandler g_handler = nullptr;
CrashWatch* g_watch = nullptr;

CrashFacts DescribeCrash(const EXCEPTION_RECORD& record) {
  CrashFacts crash;
  crash.code = record.ExceptionCode;
  crash.address = reinterpret_cast<uintptr_t>(record.ExceptionAddress);
  HMODULE module = nullptr;
  char path[MAX_PATH];
  if (InMappedImage(record.ExceptionAddress) &&
      GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<const char*>(record.ExceptionAddress), &module)) {
    const std::string file(path, GetModuleFileNameA(module, path, sizeof(path)));
    crash.module = file.substr(file.find_last_of('\\') + 1);
    crash.offset = crash.address - reinterpret_cast<uintptr_t>(module);
  }
  return crash;
}

// Errors only (severity bits 11); informational and warning codes such as debug output pass.
bool IsError(DWORD code) {
  return (code & 0xC0000000) == 0xC0000000;
}

[[noreturn]] void EndWithCrash(const EXCEPTION_RECORD& record) {
  if (CrashWatch* watch = g_watch) {
    g_watch = nullptr;
    watch->MarkCrashed(DescribeCrash(record));
  }
  if (g_handler) g_handler();
  TerminateProcess(GetCurrentProcess(), kExitControlFailed);
  for (;;) {
  }
}

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* info) {
  EndWithCrash(*info->ExceptionRecord);
}

LONG CALLBACK NoteException(EXCEPTION_POINTERS* info) {
  CrashWatch* watch = g_watch;
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (!watch || !IsError(record.ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  watch->Note(DescribeCrash(record));
  // Nothing can handle a fault in code that is no longer there.
  if (IsFaultInUnmappedCode(record)) EndWithCrash(record);
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void InstallCrashHandler(CrashHandler handler) {
  g_handler = handler;
  SetUnhandledExceptionFilter(EndOnCrash);
  AddVectoredExceptionHandler(1, NoteException);
}

CrashWatch::CrashWatch(Outcome* outcome, CrashFacts* crash) : outcome_(outcome), crash_(crash) {
  g_watch = this;
}

CrashWatch::~CrashWatch() {
  g_watch = nullptr;
}

bool InMappedImage(const void* address) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(address, &region, sizeof(region)) != sizeof(region)) return false;
  return region.State == MEM_COMMIT && region.Type == MEM_IMAGE;
}
