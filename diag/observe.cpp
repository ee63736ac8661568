#include "diag/observe.h"

#include <cstring>
#include <vector>

#include "bridge/czkt05b9.h"
#include "diag/crash_guard.h"
#include "diag/pe_header.h"
#include "diag/registry_probe.h"
#include "diag/text.h"
#include "support/cc_exception_memory.h"
#include "support/cc_string.h"

namespace {

// Enough for the headers and import names of any control library.
constexpr DWORD kMaxHeadBytes = 16 * 1024 * 1024;

// The bridge quickboot.exe runs. Its lookup, which Load calls just before its existence test,
// is watched: the path it stored and the file system's attributes for it.
class ObservedBridge : public CZKT05B9 {
 public:
  void Observe(Report* report) { report_ = report; }

  int ResolveLibraryPath() override {
    const int found = CZKT05B9::ResolveLibraryPath();
    if (libraryPath) {
      report_->path.stored = true;
      report_->path.text = libraryPath;
      report_->exists.attributes = GetFileAttributesA(libraryPath);
    }
    return found;
  }

  bool Loaded() const { return module != nullptr; }
  bool ExportsGetVersionInfo() const { return getVersionInfo != nullptr; }
  bool ExportsCtrlQuickBoot() const { return ctrlQuickBoot != nullptr; }

 private:
  Report* report_ = nullptr;
};

// Like quickboot.exe's, it lives until the process ends, so the library stays loaded while the
// report is printed.
ObservedBridge g_bridge;

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

struct FileHandle {
  HANDLE handle;
  explicit FileHandle(HANDLE opened) : handle(opened) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};

// The first bytes of the file, read only.
bool ReadHead(const std::string& path, std::vector<uint8_t>* bytes) {
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (file.handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.handle, &size)) return false;
  const DWORD wanted =
      size.QuadPart < kMaxHeadBytes ? static_cast<DWORD>(size.QuadPart) : kMaxHeadBytes;
  bytes->resize(wanted);
  DWORD read = 0;
  if (wanted > 0 && !ReadFile(file.handle, bytes->data(), wanted, &read, nullptr)) return false;
  bytes->resize(read);
  return true;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.c_str(),
                        static_cast<int>(std::strlen(prefix)), prefix,
                        static_cast<int>(std::strlen(prefix))) == CSTR_EQUAL;
}

// Whether the loader can find an imported DLL: already loaded, an API set the system resolves,
// or a file on the search path.
bool CanBeFound(const std::string& name) {
  if (StartsWith(name, "api-ms-") || StartsWith(name, "ext-ms-")) return true;
  if (GetModuleHandleA(name.c_str())) return true;
  char found[MAX_PATH];
  return SearchPathA(nullptr, name.c_str(), nullptr, sizeof(found), found, nullptr) > 0;
}

// What the file's headers tell about a failed load.
void ExplainLoadFailure(Report* report) {
  LoadFacts& load = report->load;
  std::vector<uint8_t> bytes;
  if ((report->exists.attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !ReadHead(report->path.text, &bytes)) {
    return;
  }
  const PeHeader header = ParsePeHeader(bytes.data(), bytes.size());
  load.headerRead = true;
  load.isImage = header.isImage;
  load.machine = header.machine;
  if (load.error.code != ERROR_MOD_NOT_FOUND) return;
  for (const std::string& name : header.imports) {
    if (!CanBeFound(name)) load.missingDependencies.push_back(name);
  }
}

// The length and separator of the path the lookup composes from the two texts read.
void ComposedPathFacts(Report* report) {
  const std::string& directory = report->registry.instPath.text;
  const std::string& file = report->registry.dllName.text;
  const CcString directoryText(directory.c_str());
  report->path.separatorAdded =
      !directory.empty() &&
      directoryText.FindLast('\\') != static_cast<int32_t>(directory.size()) - 1;
  report->path.bytes = report->path.stored
                           ? static_cast<uint32_t>(report->path.text.size())
                           : static_cast<uint32_t>(directory.size() + file.size() +
                                                   (report->path.separatorAdded ? 1 : 0));
}

}  // namespace

void ObserveProcess(ProcessFacts* facts) {
  facts->ansiCodePage = GetACP();
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size)) {
      facts->elevated = elevation.TokenIsElevated ? 1 : 0;
    }
    CloseHandle(token);
  }
  // GetVersionEx answers what the manifest allows; the kernel's own call tells the truth.
  using RtlGetVersionProc = LONG(WINAPI*)(OSVERSIONINFOW*);
  const FARPROC entry = GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (entry && reinterpret_cast<RtlGetVersionProc>(reinterpret_cast<void*>(entry))(&version) == 0) {
    facts->windowsVersion = std::to_string(version.dwMajorVersion) + "." +
                            std::to_string(version.dwMinorVersion) + "." +
                            std::to_string(version.dwBuildNumber);
  }
}

void ObserveControlLibrary(Report* report) {
  try {
    ObserveRegistry(&report->registry);
  } catch (const CcExceptionMemory&) {
    report->registry.openError = DescribeError(ERROR_NOT_ENOUGH_MEMORY);
    return;
  }

  g_bridge.Observe(report);
  int loaded = 0;
  DWORD error = 0;
  {
    CrashWatch watch(&report->load.outcome, &report->load.crash);
    const Stopwatch stopwatch;
    try {
      loaded = g_bridge.Load();
      // Load ends right after the step that failed, so this is that step's error.
      error = GetLastError();
    } catch (const CcExceptionMemory&) {
      error = ERROR_NOT_ENOUGH_MEMORY;
    }
    report->load.milliseconds = stopwatch.Milliseconds();
  }
  ComposedPathFacts(report);
  if (!report->path.stored) return;

  const DWORD attributes = report->exists.attributes;
  if (attributes == INVALID_FILE_ATTRIBUTES || attributes == 0) {
    report->exists.outcome = Outcome::kFailed;
    report->exists.error = DescribeError(error);
    return;
  }
  report->exists.outcome = Outcome::kOk;
  if (!g_bridge.Loaded()) {
    report->load.outcome = Outcome::kFailed;
    report->load.error = DescribeError(error);
    ExplainLoadFailure(report);
    return;
  }
  report->load.outcome = Outcome::kOk;
  report->load.crash = CrashFacts();  // what the library handled itself while loading is its own
  report->exports.getVersionInfo = g_bridge.ExportsGetVersionInfo();
  report->exports.ctrlQuickBoot = g_bridge.ExportsCtrlQuickBoot();
  report->exports.outcome = loaded ? Outcome::kOk : Outcome::kFailed;
  if (!loaded) return;

  // The one call on the library: a read, as "quickboot.exe /g" makes it. Never a write.
  uint32_t state = 0;
  CrashWatch watch(&report->read.outcome, &report->read.crash);
  const Stopwatch stopwatch;
  report->read.status = g_bridge.QueryState(&state);
  report->read.milliseconds = stopwatch.Milliseconds();
  report->read.state = state;
  report->read.outcome = report->read.status == 0 ? Outcome::kOk : Outcome::kFailed;
}
