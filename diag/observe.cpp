#include "diag/observe.h"

#include <softpub.h>
#include <wintrust.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/write_lock.h"
#include "bridge/czkt05b9.h"
#include "diag/child_probe.h"
#include "diag/pe_header.h"
#include "diag/registry_probe.h"
#include "diag/scoped_handle.h"
#include "diag/text.h"
#include "support/cc_string.h"

namespace {

// Enough for the headers and import names of any control library.
constexpr DWORD kMaxHeadBytes = 16 * 1024 * 1024;
// A report names at most this many imports; a control library has a handful.
constexpr size_t kMaxDependencies = 16;
constexpr wchar_t kBiosKey[] = L"HARDWARE\\DESCRIPTION\\System\\BIOS";

// The first bytes of the file, read only.
bool ReadHead(const std::string& path, std::vector<uint8_t>* bytes) {
  const ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size;
  if (!file.handle || !GetFileSizeEx(file.handle, &size)) return false;
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
                        static_cast<int>(std::min(text.size(), std::strlen(prefix))), prefix,
                        static_cast<int>(std::strlen(prefix))) == CSTR_EQUAL;
}

bool SameName(const std::string& a, const std::string& b) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                        b.c_str(), static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool IsApiSet(const std::string& name) {
  return StartsWith(name, "api-ms-") || StartsWith(name, "ext-ms-");
}

std::string SystemFolder() {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, sizeof(folder));
  return length > 0 && length < sizeof(folder) ? std::string(folder, length) : std::string();
}

// The folder where the usual search (the current directory, PATH) finds `name`; empty if none.
std::string FoundByUsualSearch(const std::string& name) {
  char found[MAX_PATH];
  const DWORD length = SearchPathA(nullptr, name.c_str(), nullptr, sizeof(found), found, nullptr);
  return length > 0 && length < sizeof(found) ? DirectoryPart(found) : std::string();
}

// Where the loader would take an imported DLL from, by the bridge's rule: an API set the system
// resolves; for a library named by its full path, its own folder or the system folder only;
// for a bare name, the usual search (the program's folder, the system's, PATH). Empty: nowhere.
std::string FoundAt(const std::string& name, const std::string& libraryPath) {
  if (IsApiSet(name)) return "(API set)";
  if (CZKT05B9::NamesItsFolder(libraryPath.c_str())) {
    for (const std::string& folder : {DirectoryPart(libraryPath), SystemFolder()}) {
      if (IsFile(folder + "\\" + name)) return folder;
    }
    return std::string();
  }
  return FoundByUsualSearch(name);
}

// What the file's headers tell, and where each import came from: the directory of the module
// the child had loaded under that name; for a failed load, the imports the rule cannot find,
// each with a copy the rule leaves out (on PATH, in the current directory), if there is one.
void ObserveFile(Report* report, const std::vector<std::string>& modules) {
  LoadFacts& load = report->load;
  std::vector<uint8_t> bytes;
  if (report->exists.outcome != Outcome::kOk ||
      (report->exists.attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !ReadHead(report->path.text, &bytes)) {
    return;
  }
  const PeHeader header = ParsePeHeader(bytes.data(), bytes.size());
  load.headerRead = true;
  load.isImage = header.isImage;
  load.machine = header.machine;
  for (const std::string& name : header.imports) {
    Dependency dependency;
    dependency.name = name;
    for (const std::string& module : modules) {
      const std::string file = FilePart(module);
      if (SameName(file, name)) dependency.directory = DirectoryPart(module);
    }
    if (dependency.directory.empty() && IsApiSet(name)) dependency.directory = "(API set)";
    if (load.outcome == Outcome::kOk && load.dependencies.size() < kMaxDependencies) {
      load.dependencies.push_back(dependency);
    }
    if (load.error.code == ERROR_MOD_NOT_FOUND && FoundAt(name, report->path.text).empty() &&
        load.missingDependencies.size() < kMaxDependencies) {
      dependency.ignoredAt = FoundByUsualSearch(name);
      load.missingDependencies.push_back(dependency);
    }
  }
}

// version.dll and wintrust.dll come from the system directory, and only when needed: the
// program imports nothing beyond the core system DLLs and looks in no other folder.
template <typename Function>
Function SystemFunction(const wchar_t* library, const char* name) {
  const HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const FARPROC entry = module ? GetProcAddress(module, name) : nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(entry));
}

std::string FileVersion(const std::string& path) {
  using SizeProc = DWORD(WINAPI*)(const char*, DWORD*);
  using InfoProc = BOOL(WINAPI*)(const char*, DWORD, DWORD, void*);
  using QueryProc = BOOL(WINAPI*)(const void*, const char*, void**, UINT*);
  const auto getSize = SystemFunction<SizeProc>(L"version.dll", "GetFileVersionInfoSizeA");
  const auto getInfo = SystemFunction<InfoProc>(L"version.dll", "GetFileVersionInfoA");
  const auto query = SystemFunction<QueryProc>(L"version.dll", "VerQueryValueA");
  if (!getSize || !getInfo || !query) return std::string();
  DWORD ignored = 0;
  const DWORD size = getSize(path.c_str(), &ignored);
  if (size == 0) return std::string();
  std::vector<char> block(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedBytes = 0;
  if (!getInfo(path.c_str(), 0, size, block.data()) ||
      !query(block.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedBytes) ||
      fixedBytes < sizeof(VS_FIXEDFILEINFO)) {
    return std::string();
  }
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionLS));
}

// The Authenticode verdict on the file, from the local certificate stores only.
std::string Signature(const std::string& path) {
  using VerifyProc = LONG(WINAPI*)(HWND, GUID*, void*);
  const auto verify = SystemFunction<VerifyProc>(L"wintrust.dll", "WinVerifyTrust");
  if (!verify) return "unknown";
  const std::wstring wide = AnsiToWide(path);
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = wide.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  switch (static_cast<unsigned long>(status)) {
    case 0:
      return "signed";
    case static_cast<unsigned long>(TRUST_E_NOSIGNATURE):
    case static_cast<unsigned long>(TRUST_E_SUBJECT_FORM_UNKNOWN):
    case static_cast<unsigned long>(TRUST_E_PROVIDER_UNKNOWN):
      return "not_signed";
    case static_cast<unsigned long>(TRUST_E_BAD_DIGEST):
    case static_cast<unsigned long>(TRUST_E_EXPLICIT_DISTRUST):
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT):
    case static_cast<unsigned long>(CERT_E_EXPIRED):
      return "invalid";
    default:
      return "unknown";
  }
}

// The length and separator of the path the lookup composes from the two texts read.
void ComposedPathFacts(Report* report) {
  const std::string& directory = report->registry.instPath.text;
  const std::string& file = report->registry.dllName.text;
  report->path.separatorAdded = CZKT05B9::NeedsSeparator(CcString(directory.c_str()));
  report->path.bytes = report->path.stored
                           ? static_cast<uint32_t>(report->path.text.size())
                           : static_cast<uint32_t>(directory.size() + file.size() +
                                                   (report->path.separatorAdded ? 1 : 0));
}

const char* MachineArchitecture(USHORT machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_AMD64:
      return "x64";
    case IMAGE_FILE_MACHINE_I386:
      return "x86";
    case 0xAA64:
      return "arm64";
    case IMAGE_FILE_MACHINE_UNKNOWN:
      return "native";
    default:
      return "other";
  }
}

// The process's and the machine's processor: an x64 program runs emulated on ARM64.
void Architectures(ProcessFacts* facts) {
  using IsWow64Process2Proc = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const FARPROC entry = GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process2");
  USHORT process = IMAGE_FILE_MACHINE_UNKNOWN, machine = IMAGE_FILE_MACHINE_UNKNOWN;
  if (entry && reinterpret_cast<IsWow64Process2Proc>(reinterpret_cast<void*>(entry))(
                   GetCurrentProcess(), &process, &machine)) {
    facts->machineArchitecture = MachineArchitecture(machine);
  } else {
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    facts->machineArchitecture =
        system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? "x64"
        : system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ? "x86"
        : system.wProcessorArchitecture == 12                           ? "arm64"
                                                                        : "other";
  }
  // This program is x86-64; "native" means it is not emulated.
  facts->processArchitecture =
      process == IMAGE_FILE_MACHINE_UNKNOWN ? "x64" : MachineArchitecture(process);
}

std::string Account() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::string();
  std::vector<char> buffer(512);
  DWORD size = 0;
  const bool got = GetTokenInformation(token, TokenUser, buffer.data(),
                                       static_cast<DWORD>(buffer.size()), &size) != FALSE;
  CloseHandle(token);
  if (!got) return std::string();
  wchar_t name[256], domain[256];
  DWORD nameLength = 256, domainLength = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, name,
                         &nameLength, domain, &domainLength, &use)) {
    return std::string();
  }
  return WideToUtf8(std::wstring(domain, domainLength) + L"\\" + std::wstring(name, nameLength));
}

}  // namespace

void ObserveProcess(ProcessFacts* facts) {
  facts->ansiCodePage = GetACP();
  facts->oemCodePage = GetOEMCP();
  facts->outputCodePage = GetConsoleOutputCP();
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
  wchar_t computer[256];
  DWORD computerLength = 256;
  if (GetComputerNameExW(ComputerNameDnsHostname, computer, &computerLength)) {
    facts->computer = WideToUtf8(std::wstring(computer, computerLength));
  }
  facts->account = Account();
  SYSTEMTIME now;
  GetSystemTime(&now);
  char time[32];
  std::snprintf(time, sizeof(time), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond);
  facts->time = time;
  char directory[MAX_PATH * 2];
  const DWORD length = GetCurrentDirectoryA(sizeof(directory), directory);
  if (length > 0 && length < sizeof(directory)) facts->currentDirectory.assign(directory, length);
  Architectures(facts);
}

void ObserveHardware(HardwareFacts* facts) {
  const struct {
    const wchar_t* name;
    std::wstring* text;
  } values[] = {{L"SystemManufacturer", &facts->manufacturer},
                {L"SystemProductName", &facts->model},
                {L"BIOSVersion", &facts->firmwareVersion},
                {L"BIOSReleaseDate", &facts->firmwareDate}};
  for (const auto& value : values) {
    wchar_t text[256] = {};
    DWORD bytes = sizeof(text) - sizeof(wchar_t);
    // A list keeps its first string; a value too long for the buffer counts as missing.
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kBiosKey, value.name,
                     RRF_RT_REG_SZ | RRF_RT_REG_MULTI_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, text,
                     &bytes) != ERROR_SUCCESS) {
      continue;
    }
    std::wstring wide(text);
    size_t cut = std::min(wide.size(), kMaxIdentityChars);
    if (cut > 0 && cut < wide.size() && IS_HIGH_SURROGATE(wide[cut - 1])) --cut;
    *value.text = wide.substr(0, cut);
  }
}

void ObserveControlLibrary(Report* report) {
  ObserveRegistry(&report->registry);
  // Checked before anything is loaded: quickboot.exe /1 and /0 hold it while they run.
  const ScopedHandle lock(OpenMutexW(SYNCHRONIZE, FALSE, kWriteLockName));
  report->writeInProgress = lock.handle || GetLastError() == ERROR_ACCESS_DENIED;
  if (report->writeInProgress) return;
  std::vector<std::string> modules;
  RunProbe(report, &modules);
  ComposedPathFacts(report);
  ObserveFile(report, modules);
  if (report->exists.outcome == Outcome::kOk &&
      !(report->exists.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    const std::string& file =
        report->load.modulePath.empty() ? report->path.text : report->load.modulePath;
    report->load.fileVersion = FileVersion(file);
    report->load.signature = Signature(file);
  }
}
