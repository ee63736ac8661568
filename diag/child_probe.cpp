#include "diag/child_probe.h"

#define PSAPI_VERSION 2
#include <psapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <optional>

#include "app/exit_code.h"
#include "app/stack_guard.h"
#include "app/unmapped_code.h"
#include "bridge/czkt05b9.h"
#include "diag/crash_guard.h"
#include "diag/scoped_handle.h"
#include "diag/text.h"
#include "support/cc_exception_memory.h"

namespace {

constexpr size_t kMaxModules = 256;
constexpr size_t kMaxProtocolBytes = 1024 * 1024;
// How long the parent waits for the pipe to drain after the child has ended.
constexpr DWORD kDrainMs = 3000;

class Stopwatch {
 public:
  Stopwatch() { QueryPerformanceCounter(&start_); }
  double Milliseconds() const {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
  }

 private:
  LARGE_INTEGER start_;
};

// ---- The child ----

HANDLE g_pipe = nullptr;
DWORD g_watchedThread = 0;
CrashFacts g_noted;  // the first error raised on the watched thread in the current step

void Send(const char* key, const std::string& value) {
  static const char kHex[] = "0123456789abcdef";
  std::string line = key;
  line += ' ';
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    line += kHex[byte >> 4];
    line += kHex[byte & 15];
  }
  line += '\n';
  DWORD written = 0;
  WriteFile(g_pipe, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void SendNumber(const char* key, unsigned long long value) {
  Send(key, std::to_string(value));
}

void SendMilliseconds(const char* key, double value) {
  Send(key, std::to_string(static_cast<long long>(value * 1000.0)));
}

void SendCrash(const char* key, const CrashFacts& crash) {
  Send(key, std::to_string(crash.code) + " " + std::to_string(crash.address) + " " +
                std::to_string(crash.offset) + " " + crash.module);
}

void BeginStep(const char* step) {
  g_noted = CrashFacts();
  Send("step", step);
}

[[noreturn]] void EndWithCrash(const EXCEPTION_RECORD& record) {
  SendCrash("crash", DescribeCrash(record));
  TerminateProcess(GetCurrentProcess(), kExitControlFailed);
  FastFail(FAST_FAIL_FATAL_APP_EXIT);
}

LONG WINAPI EndOnCrash(EXCEPTION_POINTERS* info) {
  EndWithCrash(*info->ExceptionRecord);
}

// Notes an error raised on the watched thread: whether it was handled shows only in how the
// step ends. A fault in unmapped code ends the run at once, as nothing can handle it.
LONG CALLBACK NoteException(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD& record = *info->ExceptionRecord;
  if (IsFaultInUnmappedCode(record)) EndWithCrash(record);
  if (GetCurrentThreadId() == g_watchedThread && IsErrorException(record.ExceptionCode) &&
      g_noted.code == 0) {
    g_noted = DescribeCrash(record);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// The bridge quickboot.exe runs; its lookup, which Load calls just before its existence test,
// sends the path it stored and the file system's attributes for it.
class ProbeBridge : public CZKT05B9 {
 public:
  int ResolveLibraryPath() override {
    const int found = CZKT05B9::ResolveLibraryPath();
    if (libraryPath) {
      Send("path", libraryPath);
      SendNumber("attributes", GetFileAttributesA(libraryPath));
    }
    return found;
  }
  HMODULE Module() const { return module; }
  bool ExportsGetVersionInfo() const { return getVersionInfo != nullptr; }
  bool ExportsCtrlQuickBoot() const { return ctrlQuickBoot != nullptr; }
};

// The process that started this one, 0 when it cannot be told.
DWORD ParentProcessId() {
  struct BasicInformation {
    LONG_PTR exitStatus;
    void* pebBaseAddress;
    ULONG_PTR affinityMask;
    LONG_PTR basePriority;
    ULONG_PTR uniqueProcessId;
    ULONG_PTR inheritedFromUniqueProcessId;
  };
  using QueryProc = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const auto query = reinterpret_cast<QueryProc>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
  BasicInformation information = {};
  if (!query || query(GetCurrentProcess(), 0 /* ProcessBasicInformation */, &information,
                      sizeof(information), nullptr) != 0) {
    return 0;
  }
  return static_cast<DWORD>(information.inheritedFromUniqueProcessId);
}

// The program file of `process` (this one when null), empty when it cannot be told.
std::wstring ImagePath(HANDLE process) {
  wchar_t path[MAX_PATH * 2];
  DWORD length = MAX_PATH * 2;
  if (!QueryFullProcessImageNameW(process ? process : GetCurrentProcess(), 0, path, &length)) {
    return std::wstring();
  }
  return std::wstring(path, length);
}

// True when `pipe` is the write end of a pipe that the process which started this one made,
// and that process runs this program: the companion's own probe pipe, nothing else.
bool IsCompanionPipe(HANDLE pipe) {
  DWORD flags = 0, server = 0;
  const DWORD parent = ParentProcessId();
  if (parent == 0 || GetFileType(pipe) != FILE_TYPE_PIPE ||
      !GetNamedPipeInfo(pipe, &flags, nullptr, nullptr, nullptr) || (flags & PIPE_SERVER_END) ||
      !GetNamedPipeServerProcessId(pipe, &server) || server != parent) {
    return false;
  }
  const ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent));
  const std::wstring self = ImagePath(nullptr);
  const std::wstring starter = process.handle ? ImagePath(process.handle) : std::wstring();
  return !self.empty() &&
         CompareStringOrdinal(self.c_str(), static_cast<int>(self.size()), starter.c_str(),
                              static_cast<int>(starter.size()), TRUE) == CSTR_EQUAL;
}

void SendModules() {
  HMODULE modules[kMaxModules];
  DWORD bytes = 0;
  if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof(modules), &bytes)) return;
  const size_t count = std::min<size_t>(bytes / sizeof(HMODULE), kMaxModules);
  for (size_t i = 0; i < count; ++i) {
    char path[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameA(modules[i], path, sizeof(path));
    if (length > 0 && length < sizeof(path)) Send("module", std::string(path, length));
  }
}

// ---- The parent ----

struct PipeReader {
  HANDLE pipe = nullptr;
  std::string data;
};

DWORD WINAPI ReadPipe(void* parameter) {
  auto* reader = static_cast<PipeReader*>(parameter);
  char chunk[4096];
  DWORD read = 0;
  while (reader->data.size() < kMaxProtocolBytes &&
         ReadFile(reader->pipe, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
    reader->data.append(chunk, read);
  }
  return 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The protocol's lines as key and decoded value; a malformed line ends the reading.
std::vector<std::pair<std::string, std::string>> ParseLines(const std::string& data) {
  std::vector<std::pair<std::string, std::string>> lines;
  size_t at = 0;
  while (at < data.size()) {
    const size_t end = data.find('\n', at);
    if (end == std::string::npos) break;  // a line the child did not finish
    const size_t blank = data.find(' ', at);
    if (blank == std::string::npos || blank > end || (end - blank - 1) % 2 != 0) break;
    std::string value;
    for (size_t i = blank + 1; i < end; i += 2) {
      const int high = HexDigit(data[i]);
      const int low = HexDigit(data[i + 1]);
      if (high < 0 || low < 0) return lines;
      value += static_cast<char>(high * 16 + low);
    }
    lines.emplace_back(data.substr(at, blank - at), value);
    at = end + 1;
  }
  return lines;
}

unsigned long long Number(const std::string& text) {
  return std::strtoull(text.c_str(), nullptr, 10);
}

CrashFacts ParseCrash(const std::string& text) {
  CrashFacts crash;
  char* end = nullptr;
  crash.code = static_cast<DWORD>(std::strtoul(text.c_str(), &end, 10));
  crash.address = static_cast<uintptr_t>(std::strtoull(end, &end, 10));
  crash.offset = static_cast<uintptr_t>(std::strtoull(end, &end, 10));
  if (*end == ' ') crash.module = end + 1;
  return crash;
}

// Starts this program again as the child, its standard handles on NUL and the pipe's write end
// the only other handle it inherits,
// suspended, so that it can join its job before it runs.
bool StartChild(HANDLE pipeWrite, PROCESS_INFORMATION* process) {
  wchar_t self[MAX_PATH * 2];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
  if (length == 0 || length >= MAX_PATH * 2) return false;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  const ScopedHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                     nullptr));
  if (!nul.handle) return false;

  HANDLE inherited[] = {nul.handle, pipeWrite};
  SIZE_T bytes = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &bytes);
  std::vector<char> attributes(bytes);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &bytes)) return false;
  const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                inherited, sizeof(inherited), nullptr, nullptr);
  STARTUPINFOEXW startup = {};
  startup.StartupInfo.cb = sizeof(startup);
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = nul.handle;
  startup.StartupInfo.hStdOutput = nul.handle;
  startup.StartupInfo.hStdError = nul.handle;
  startup.lpAttributeList = list;
  std::wstring line =
      L"\"" + std::wstring(self, length) + L"\" " +
      std::wstring(kChildProbeOption, kChildProbeOption + sizeof(kChildProbeOption) - 1) + L" " +
      std::to_wstring(reinterpret_cast<uintptr_t>(pipeWrite));
  const BOOL started =
      listed && CreateProcessW(self, &line[0], nullptr, nullptr, TRUE,
                               EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW | CREATE_SUSPENDED,
                               nullptr, nullptr, &startup.StartupInfo, process);
  DeleteProcThreadAttributeList(list);
  return started != FALSE;
}

// The outcome of the steps from the facts the child sent.
void ConcludeSteps(Report* report, DWORD loadError, bool loadReported, bool loaded) {
  if (!report->path.stored || !loadReported) return;
  const DWORD attributes = report->exists.attributes;
  if (attributes == INVALID_FILE_ATTRIBUTES || attributes == 0) {
    report->exists.outcome = Outcome::kFailed;
    report->exists.error = DescribeError(loadError);
    return;
  }
  report->exists.outcome = Outcome::kOk;
  if (!loaded) {
    report->load.outcome = report->load.crash.code ? Outcome::kCrashed : Outcome::kFailed;
    report->load.error = DescribeError(loadError);
    return;
  }
  report->load.outcome = Outcome::kOk;
  const ExportFacts& exports = report->exports;
  report->exports.outcome =
      exports.getVersionInfo && exports.ctrlQuickBoot ? Outcome::kOk : Outcome::kFailed;
}

}  // namespace

HANDLE CompanionPipe(const char* handleText) {
  if (*handleText < '1' || *handleText > '9' || std::strlen(handleText) > 20) return nullptr;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(handleText, &end, 10);
  const auto pipe = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  if (*end != '\0' || !IsCompanionPipe(pipe)) return nullptr;
  // Nothing the library starts may inherit it and keep the report open.
  SetHandleInformation(pipe, HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

int RunChildProbe(HANDLE pipe) {
  g_pipe = pipe;
  // As quickboot.exe does before its load, so that the library meets the same error mode.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  g_watchedThread = GetCurrentThreadId();
  AddVectoredExceptionHandler(1, NoteException);
  SetUnhandledExceptionFilter(EndOnCrash);
  std::set_terminate([] {
    Send("internal", "");
    TerminateProcess(GetCurrentProcess(), kExitControlFailed);
  });

  std::optional<ProbeBridge> bridge(std::in_place);
  BeginStep("load");
  int loaded = 0;
  DWORD error = 0;
  const Stopwatch loadTime;
  try {
    loaded = bridge->Load();
    // Load ends right after the step that failed, so this is that step's error.
    error = GetLastError();
  } catch (const CcExceptionMemory&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  SendMilliseconds("load_ms", loadTime.Milliseconds());
  SendNumber("load_error", error);
  if (HMODULE module = bridge->Module()) {
    char path[MAX_PATH * 2];
    const DWORD length = GetModuleFileNameA(module, path, sizeof(path));
    if (length > 0 && length < sizeof(path)) Send("module_path", std::string(path, length));
    SendNumber("get_version_info", bridge->ExportsGetVersionInfo());
    SendNumber("ctrl_quick_boot", bridge->ExportsCtrlQuickBoot());
    SendModules();
  } else if (g_noted.code != 0 && error != ERROR_DLL_INIT_FAILED) {
    // The loader caught it: the start-up code did not end by refusing, it crashed.
    SendCrash("load_exception", g_noted);
  }

  if (loaded) {
    // The one call on the library: a read, as "quickboot.exe /g" makes it. Never a write.
    BeginStep("read");
    uint32_t state = 0;
    const Stopwatch readTime;
    const int32_t status = bridge->QueryState(&state);
    SendMilliseconds("read_ms", readTime.Milliseconds());
    SendNumber("read_status", static_cast<uint32_t>(status));
    SendNumber("state", state);
  }

  BeginStep("unload");
  bridge.reset();
  if (g_noted.code != 0) SendCrash("unload_exception", g_noted);
  Send("done", "");
  return 0;
}

void RunProbe(Report* report, std::vector<std::string>* modules) {
  ProbeFacts& probe = report->probe;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  ScopedHandle pipeRead, pipeWrite;
  if (!CreatePipe(&pipeRead.handle, &pipeWrite.handle, &inherit, 0)) return;
  SetHandleInformation(pipeRead.handle, HANDLE_FLAG_INHERIT, 0);

  // The child and whatever it starts end when this handle closes, however this process ends:
  // a probe hung in the library never outlives its companion.
  const ScopedHandle job(CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job.handle || !SetInformationJobObject(job.handle, JobObjectExtendedLimitInformation,
                                              &limits, sizeof(limits))) {
    return;
  }

  PROCESS_INFORMATION process = {};
  const Stopwatch stopwatch;
  if (!StartChild(pipeWrite.handle, &process)) return;
  const ScopedHandle child(process.hProcess);
  const ScopedHandle mainThread(process.hThread);
  if (!AssignProcessToJobObject(job.handle, child.handle)) {
    TerminateProcess(child.handle, kExitControlFailed);
    return;
  }
  ResumeThread(mainThread.handle);
  pipeWrite.Close();

  // The reader lives as long as the process: a pipe a grandchild keeps open may outlast us.
  static PipeReader reader;
  reader.pipe = pipeRead.handle;
  const ScopedHandle thread(CreateThread(nullptr, 0, ReadPipe, &reader, 0, nullptr));
  const DWORD limitMs = probe.timeoutSeconds * 1000;
  const bool hung = WaitForSingleObject(child.handle, limitMs) == WAIT_TIMEOUT;
  if (hung) {
    TerminateProcess(child.handle, kExitControlFailed);
    WaitForSingleObject(child.handle, kDrainMs);
  }
  GetExitCodeProcess(child.handle, &probe.exitCode);
  probe.milliseconds = stopwatch.Milliseconds();
  if (thread.handle && WaitForSingleObject(thread.handle, kDrainMs) == WAIT_TIMEOUT) {
    CancelSynchronousIo(thread.handle);
    if (WaitForSingleObject(thread.handle, kDrainMs) == WAIT_TIMEOUT) return;
  }
  pipeRead.handle = nullptr;  // the reader's; closed with the process

  bool done = false, crashed = false, failed = false, loadReported = false, loaded = false;
  DWORD loadError = 0;
  for (const auto& [key, value] : ParseLines(reader.data)) {
    if (key == "step") {
      probe.lastStep = value;
    } else if (key == "path") {
      report->path.stored = true;
      report->path.text = value;
    } else if (key == "attributes") {
      report->exists.attributes = static_cast<DWORD>(Number(value));
    } else if (key == "load_ms") {
      report->load.milliseconds = static_cast<double>(Number(value)) / 1000.0;
    } else if (key == "load_error") {
      loadError = static_cast<DWORD>(Number(value));
      loadReported = true;
    } else if (key == "module_path") {
      report->load.modulePath = value;
      loaded = true;
    } else if (key == "get_version_info") {
      report->exports.getVersionInfo = Number(value) != 0;
    } else if (key == "ctrl_quick_boot") {
      report->exports.ctrlQuickBoot = Number(value) != 0;
    } else if (key == "module") {
      modules->push_back(value);
    } else if (key == "load_exception") {
      report->load.crash = ParseCrash(value);
    } else if (key == "read_ms") {
      report->read.milliseconds = static_cast<double>(Number(value)) / 1000.0;
    } else if (key == "read_status") {
      report->read.status = static_cast<int32_t>(static_cast<uint32_t>(Number(value)));
      report->read.outcome = report->read.status == 0 ? Outcome::kOk : Outcome::kFailed;
    } else if (key == "state") {
      report->read.state = static_cast<uint32_t>(Number(value));
    } else if (key == "unload_exception") {
      report->unload.outcome = Outcome::kCrashed;
      report->unload.crash = ParseCrash(value);
    } else if (key == "crash") {
      crashed = true;
      const CrashFacts crash = ParseCrash(value);
      if (probe.lastStep == "read") {
        report->read.outcome = Outcome::kCrashed;
        report->read.crash = crash;
      } else if (probe.lastStep == "unload") {
        report->unload.outcome = Outcome::kCrashed;
        report->unload.crash = crash;
      } else {
        report->load.crash = crash;
      }
    } else if (key == "internal") {
      failed = true;
    } else if (key == "done") {
      done = true;
      if (report->unload.outcome == Outcome::kNotReached) report->unload.outcome = Outcome::kOk;
    }
  }
  probe.end = hung      ? ProbeEnd::kHung
              : failed  ? ProbeEnd::kFailed
              : crashed ? ProbeEnd::kCrashed
              : done    ? ProbeEnd::kFinished
                        : ProbeEnd::kExited;
  if (probe.lastStep == "load" && crashed) loadReported = true;
  ConcludeSteps(report, loadError, loadReported, loaded);
}
