#include "diag/crash_guard.h"

#include <exception>

#include "app/exit_code.h"
#include "app/stack_guard.h"
#include "app/unmapped_code.h"
#include "diag/text.h"

namespace {

// The prepared answer: a block that lives until the process ends.
char g_answer[1024];
DWORD g_answerBytes = 0;
LONG g_answered = 0;

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) {
  EndWithInternalError();
}

LONG CALLBACK EndOnFaultInUnmappedCode(EXCEPTION_POINTERS* info) {
  if (IsFaultInUnmappedCode(*info->ExceptionRecord)) EndWithInternalError();
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

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
    crash.module = FilePart(file);
    crash.offset = crash.address - reinterpret_cast<uintptr_t>(module);
  }
  return crash;
}

bool IsErrorException(DWORD code) {
  return (code & 0xC0000000) == 0xC0000000;
}

bool InMappedImage(const void* address) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(address, &region, sizeof(region)) != sizeof(region)) return false;
  return region.State == MEM_COMMIT && region.Type == MEM_IMAGE;
}

void InstallInternalErrorGuard(const std::string& answer) {
  g_answerBytes = static_cast<DWORD>(answer.copy(g_answer, sizeof(g_answer)));
  SetUnhandledExceptionFilter(EndOnCrash);
  AddVectoredExceptionHandler(1, EndOnFaultInUnmappedCode);
  std::set_terminate([] { EndWithInternalError(); });
}

void EndWithInternalError() {
  // Only the first failing thread writes; any other one waits here until the process ends.
  if (InterlockedExchange(&g_answered, 1) == 0) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), g_answer, g_answerBytes, &written, nullptr);
    TerminateProcess(GetCurrentProcess(), kExitControlFailed);
    // TerminateProcess on the own process returns only when it failed.
    FastFail(FAST_FAIL_FATAL_APP_EXIT);
  }
  for (;;) Sleep(INFINITE);
}

// A smashed stack is a fault in the companion like any other.
void EndOnSmashedStack() {
  EndWithInternalError();
}
