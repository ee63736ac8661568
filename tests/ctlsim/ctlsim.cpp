// The simulated control library: the demo's default and the test double.
//
// Exports "GetVersionInfo" and "CtrlQuickBoot" (either can be left out at build time). Read:
// (1, 0, 0, p) stores the state word at p. Write: (1, 1, value, p) makes value the state word.
// Any other call answers 87 and changes nothing.
//
// Set from outside through the environment of the process that loads it:
//   CTLSIM_STATE         initial state word; when set, the word is not kept between runs
//   CTLSIM_READ_STATUS   status of read calls (default 0; a failed read stores nothing)
//   CTLSIM_WRITE_STATUS  status of write calls (default 0; a failed write changes nothing)
//   CTLSIM_CRASH         "call": access violation in CtrlQuickBoot; "attach": in DllMain;
//                        "detach": in DllMain when FreeLibrary unloads it;
//                        "unload": CtrlQuickBoot frees this library and returns into its
//                        unmapped code;
//                        "handled-fault", "handled-throw": CtrlQuickBoot first takes an access
//                        violation, or throws a C++ exception, that it handles itself (status
//                        1359 if it was not raised), then works as usual
//   CTLSIM_ATTACH        "fail": DllMain refuses the load (answers FALSE); "throw-fail": it
//                        first raises an MSVC C++ exception (0xE06D7363) and handles it
//                        itself, then refuses
//   CTLSIM_EXIT          in CtrlQuickBoot: a number ends the process with that exit code, as a
//                        library may; "hang" stops the call for a minute, longer than any time
//                        limit a test gives its caller, and then ends the process with 258
//   CTLSIM_LOG           file to which every event is appended, one line each:
//                        "attach", "call A B C", "detach FreeLibrary" or "detach exit"
//   CTLSIM_ERROR_MODE_LOG  file to which "attach 0xN" and "call 0xN" are appended: the
//                        process error mode (GetErrorMode) at load and at each call
// Without CTLSIM_STATE the state word lives in "<this dll>.state", beside the library.
// Built with CTLSIM_REHEARSAL, the rehearsal kit's library, it obeys no environment switch and
// keeps the state word under HKLM (kRehearsalKey), which only administrators can change; a write
// it cannot keep answers the registry's error and changes nothing.
// Built with CTLSIM_NEEDS_ABSENT_LIBRARY, it imports from qbabsent.dll, which never exists; with
// CTLSIM_NEEDS_HELPER_LIBRARY, from qbhelper.dll, which lies only where a test puts it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef CTLSIM_NEEDS_ABSENT_LIBRARY
extern "C" __declspec(dllimport) void WINAPI QbAbsentEntry();
#endif
#ifdef CTLSIM_NEEDS_HELPER_LIBRARY
extern "C" __declspec(dllimport) void WINAPI QbHelperEntry();
#endif

namespace {

HMODULE g_self = nullptr;
uint32_t g_state = 0;
bool g_persist = true;

bool ReadVariable(const char* name, char* value, DWORD size) {
#ifdef CTLSIM_REHEARSAL
  return false;  // no switches: whoever starts a program must not steer what SYSTEM loads
#endif
  const DWORD length = GetEnvironmentVariableA(name, value, size);
  return length > 0 && length < size;
}

[[maybe_unused]] uint32_t NumberVariable(const char* name, uint32_t fallback) {
  char value[64];
  if (!ReadVariable(name, value, sizeof(value))) return fallback;
  return static_cast<uint32_t>(std::strtoul(value, nullptr, 0));
}

bool CrashRequested(const char* where) {
  char value[32];
  return ReadVariable("CTLSIM_CRASH", value, sizeof(value)) && std::strcmp(value, where) == 0;
}

void Append(const char* variable, const char* line) {
  char path[MAX_PATH];
  if (!ReadVariable(variable, path, sizeof(path))) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  WriteFile(file, "\n", 1, &written, nullptr);
  CloseHandle(file);
}

void Log(const char* line) {
  Append("CTLSIM_LOG", line);
}

void LogErrorMode(const char* event) {
  char line[32];
  std::snprintf(line, sizeof(line), "%s 0x%X", event, GetErrorMode());
  Append("CTLSIM_ERROR_MODE_LOG", line);
}

#ifdef CTLSIM_REHEARSAL
constexpr char kRehearsalKey[] = "SOFTWARE\\quickboot\\Rehearsal";
constexpr char kRehearsalValue[] = "QuickBootState";

void LoadState() {
  DWORD value = 0, size = sizeof(value);
  if (RegGetValueA(HKEY_LOCAL_MACHINE, kRehearsalKey, kRehearsalValue, RRF_RT_REG_DWORD, nullptr,
                   &value, &size) == ERROR_SUCCESS) {
    g_state = value;
  }
}

LONG KeepState(uint32_t value) {
  HKEY key = nullptr;
  LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRehearsalKey, 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return status;
  const DWORD word = value;
  status = RegSetValueExA(key, kRehearsalValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&word),
                          sizeof(word));
  RegCloseKey(key);
  return status;
}
#else
bool StateFilePath(char* path, DWORD size) {
  const DWORD length = GetModuleFileNameA(g_self, path, size);
  if (length == 0 || length + sizeof(".state") > size) return false;
  std::memcpy(path + length, ".state", sizeof(".state"));
  return true;
}

void LoadState() {
  char path[MAX_PATH + 8];
  if (!StateFilePath(path, sizeof(path))) return;
  if (FILE* file = std::fopen(path, "r")) {
    unsigned long value = 0;
    if (std::fscanf(file, "%lu", &value) == 1) g_state = static_cast<uint32_t>(value);
    std::fclose(file);
  }
}

[[maybe_unused]] void SaveState() {
  char path[MAX_PATH + 8];
  if (!StateFilePath(path, sizeof(path))) return;
  if (FILE* file = std::fopen(path, "w")) {
    std::fprintf(file, "%lu\n", static_cast<unsigned long>(g_state));
    std::fclose(file);
  }
}
#endif

// Ends the process, or first hangs, when CTLSIM_EXIT asks for it. The hang is bounded so that a
// caller without a time limit fails its test instead of hanging it.
[[maybe_unused]] void ExitRequested() {
  char value[32];
  if (!ReadVariable("CTLSIM_EXIT", value, sizeof(value))) return;
  if (std::strcmp(value, "hang") == 0) {
    Sleep(60000);
    ExitProcess(WAIT_TIMEOUT);
  }
  ExitProcess(static_cast<UINT>(std::strtoul(value, nullptr, 0)));
}

void Crash() {
  volatile uint32_t* nowhere = nullptr;
  *nowhere = 1;
}

// Frees this library and returns into its unmapped code. The unused part of `note` holds
// whatever earlier calls left on the stack, which the frame walk then takes for return
// addresses.
[[maybe_unused, gnu::noinline]] void Unload(const char* line) {
  char note[256];
  std::snprintf(note, sizeof(note), "unload after %s", line);
  OutputDebugStringA(note);
  FreeLibrary(g_self);
  OutputDebugStringA(note);
}

// True when an access violation was raised and handled inside the system's pointer check.
[[maybe_unused]] bool HandledFault() {
  void* reserved = VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_NOACCESS);
  const bool raised = reserved && IsBadReadPtr(reserved, 1);
  VirtualFree(reserved, 0, MEM_RELEASE);
  return raised;
}

[[gnu::noinline]] void Throw(int value) {
  throw value;
}

[[maybe_unused]] bool HandledThrow() {
  try {
    Throw(7);
  } catch (int value) {
    return value == 7;
  }
  return false;
}

constexpr DWORD kMsvcException = 0xE06D7363;

// Last in line, after any handler of the process, as a library's own catch comes after them.
LONG CALLBACK ResumeMsvcException(EXCEPTION_POINTERS* info) {
  return info->ExceptionRecord->ExceptionCode == kMsvcException ? EXCEPTION_CONTINUE_EXECUTION
                                                                : EXCEPTION_CONTINUE_SEARCH;
}

// What an MSVC library's start-up does when it throws and catches an exception of its own.
bool HandledMsvcThrow() {
  void* handler = AddVectoredExceptionHandler(0, ResumeMsvcException);
  if (!handler) return false;
  RaiseException(kMsvcException, 0, 0, nullptr);
  RemoveVectoredExceptionHandler(handler);
  return true;
}

}  // namespace

extern "C" {

#ifndef CTLSIM_WITHOUT_GET_VERSION_INFO
__declspec(dllexport) int32_t WINAPI GetVersionInfo(uint32_t* version) {
  if (version) *version = 0x00010000;
  return 0;
}
#endif

#ifndef CTLSIM_WITHOUT_CTRL_QUICK_BOOT
__declspec(dllexport) int32_t WINAPI
    CtrlQuickBoot(int32_t a, int32_t b, int32_t c, uint32_t* word) {
  char line[96];
  std::snprintf(line, sizeof(line), "call %ld %ld %lu", static_cast<long>(a), static_cast<long>(b),
                static_cast<unsigned long>(static_cast<uint32_t>(c)));
  Log(line);
  LogErrorMode("call");
  if (CrashRequested("call")) Crash();
  if (CrashRequested("unload")) Unload(line);
  if ((CrashRequested("handled-fault") && !HandledFault()) ||
      (CrashRequested("handled-throw") && !HandledThrow())) {
    return ERROR_INTERNAL_ERROR;
  }
  ExitRequested();
  if (a != 1 || !word) return ERROR_INVALID_PARAMETER;
  if (b == 0 && c == 0) {
    const int32_t status = static_cast<int32_t>(NumberVariable("CTLSIM_READ_STATUS", 0));
    if (status == 0) *word = g_state;
    return status;
  }
  if (b == 1) {
    const int32_t status = static_cast<int32_t>(NumberVariable("CTLSIM_WRITE_STATUS", 0));
#ifdef CTLSIM_REHEARSAL
    if (status == 0) {
      const LONG kept = KeepState(static_cast<uint32_t>(c));
      if (kept != ERROR_SUCCESS) return kept;
      g_state = static_cast<uint32_t>(c);
    }
#else
    if (status == 0) {
      g_state = static_cast<uint32_t>(c);
      if (g_persist) SaveState();
    }
#endif
    return status;
  }
  return ERROR_INVALID_PARAMETER;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
    Log("attach");
    LogErrorMode("attach");
    if (CrashRequested("attach")) Crash();
#ifdef CTLSIM_NEEDS_ABSENT_LIBRARY
    QbAbsentEntry();
#endif
#ifdef CTLSIM_NEEDS_HELPER_LIBRARY
    QbHelperEntry();
#endif
    char refusal[16];
    if (ReadVariable("CTLSIM_ATTACH", refusal, sizeof(refusal)) &&
        (std::strcmp(refusal, "fail") == 0 ||
         (std::strcmp(refusal, "throw-fail") == 0 && HandledMsvcThrow()))) {
      return FALSE;
    }
    char value[64];
    if (ReadVariable("CTLSIM_STATE", value, sizeof(value))) {
      g_state = static_cast<uint32_t>(std::strtoul(value, nullptr, 0));
      g_persist = false;
    } else {
      LoadState();
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    // A null reserved pointer means FreeLibrary; otherwise the process is ending.
    Log(reserved ? "detach exit" : "detach FreeLibrary");
    if (!reserved && CrashRequested("detach")) Crash();
  }
  return TRUE;
}

}  // extern "C"
