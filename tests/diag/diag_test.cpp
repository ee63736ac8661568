// quickboot-diag.exe against quickboot.exe on one table of machine set-ups: for every row both
// answer the same exit code (a hanging product is ended instead), the companion's verdict names
// the cause and what to do, its JSON form parses, holds the same verdict and is kept for the
// schema check (QB_DIAG_REPORTS), both forms stay under 8 KiB, and it neither writes the state
// word nor changes the key. The reg add lines it prints, pasted into cmd.exe, mend the set-up.
#include <windows.h>

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qb_version.h"
#include "tests/launcher/launch.h"
#include "tests/support/test_files.h"
#include "tests/support/test_registry.h"
#include "tests/support/test_simulation.h"

namespace {

using Json = nlohmann::json;
using namespace std::string_literals;  // "..."s keeps embedded NULs

constexpr char kVendorKey[] = "SOFTWARE\\Vantrel";
constexpr DWORD kTimeoutMs = 40000;
// How long a hanging product is given before it is taken as hung.
constexpr DWORD kHangMs = 4000;
constexpr int kFailed = 100;
constexpr size_t kMaxVerdictBytes = 299;
constexpr size_t kMaxReportBytes = 8192;
// With --timeout 1 and a hanging library, the companion's probe ends within this (about 1 s);
// at ten times the limit it could not.
constexpr double kOneSecondLimitBoundMs = 5000;
// How long a probe may take to end after its companion was killed; its library hangs for 60 s.
constexpr DWORD kProbeGoneMs = 30000;
// A value the text report shows is bounded: no line of it is longer than this.
constexpr size_t kMaxReportLineBytes = 700;
constexpr DWORD kPasteMs = 20000;

const std::string kBin = ThisProgramDirectory();
const std::string kQuickboot = kBin + "\\quickboot.exe";
const std::string kDiag = kBin + "\\quickboot-diag.exe";
const std::string kWork =
    TemporaryDirectory() + "\\qb-diag-" + std::to_string(GetCurrentProcessId());
const std::string kFolderDll = kWork + "\\folder.dll";
const std::string kTextDll = kWork + "\\notes.dll";
const std::string kLogPath = kWork + "\\ctlsim.log";
// A library with the DLL it needs beside it; the DLL lies elsewhere only in kBin\elsewhere.
const std::string kBeside = kWork + "\\beside";
const std::string kBesideFiles[][2] = {
    {kBin + "\\ctlsim_needshelper.dll", kBeside + "\\ctlsim_needshelper.dll"},
    {kBin + "\\elsewhere\\qbhelper.dll", kBeside + "\\qbhelper.dll"}};
const std::string kElsewhere = kBin + "\\elsewhere";
// The library in a folder with blanks, and at the root of a drive. The folder's name is long
// enough for the verdict to be cut, inside a word of the explanation.
const std::string kBlankFolder = kWork + "\\folder with blanks and_a_name_long_enough_to_be_cut";
const std::string kBlankFolderDll = kBlankFolder + "\\ctlsim.dll";
// The library in a folder whose name cmd.exe and PowerShell would act on.
const std::string kShellFolder = kWork + "\\a&b^c%d!e$f`g";
const std::string kShellFolderDll = kShellFolder + "\\ctlsim.dll";
const std::string kRootDllName = "qb-diag-" + std::to_string(GetCurrentProcessId()) + ".dll";
const std::string kRootDll = "C:\\" + kRootDllName;

// The largest reports seen, for the record.
size_t g_largestText = 0;
size_t g_largestJson = 0;
int g_reportsKept = 0;

// Where a set-up may put the control key.
struct Place {
  HKEY root;
  REGSAM view;
};
const Place kMachine64 = {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};
const Place kMachine32 = {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};
const Place kCurrentUser = {HKEY_CURRENT_USER, 0};

std::string CmdPath() {
  char folder[MAX_PATH];
  return std::string(folder, GetSystemDirectoryA(folder, sizeof(folder))) + "\\cmd.exe";
}
const std::string kCmd = CmdPath();

// What a pasted line must leave as it is: the key where quickboot.exe does not look, the keys
// above it and their values.
std::vector<KeyContent> KeysAroundTheControlKey() {
  // The vendor key's own values: reg add makes the key itself along with a missing control key.
  KeyContent vendor = ReadKey(HKEY_LOCAL_MACHINE, kVendorKey, KEY_WOW64_64KEY);
  if (!vendor) vendor = Values{};
  return {ReadKey(HKEY_LOCAL_MACHINE, kControlKey, KEY_WOW64_32KEY),
          ReadKey(HKEY_CURRENT_USER, kControlKey, 0), vendor,
          ReadKey(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_WOW64_64KEY)};
}

Values Installed(const RegistryValue& dllName = Text("ctlsim.dll"),
                 const RegistryValue& instPath = Text(kBin)) {
  return {{"InstPath", instPath}, {"DllName", dllName}};
}

// The set-up's keys where quickboot.exe does not look; removed again when it goes, the vendor
// key with them when nothing else is left in it.
class ScopedStrayKeys {
 public:
  ScopedStrayKeys(const KeyContent& machine32, const KeyContent& currentUser) {
    written_ = WriteKey(kMachine32.root, kControlKey, kMachine32.view, machine32) &&
               WriteKey(kCurrentUser.root, kControlKey, kCurrentUser.view, currentUser);
  }
  ScopedStrayKeys(const ScopedStrayKeys&) = delete;
  ScopedStrayKeys& operator=(const ScopedStrayKeys&) = delete;
  ~ScopedStrayKeys() {
    for (const Place& place : {kMachine32, kCurrentUser}) {
      RegDeleteKeyExA(place.root, kControlKey, place.view, 0);
      RegDeleteKeyExA(place.root, kVendorKey, place.view, 0);
    }
  }
  bool Written() const { return written_; }

 private:
  bool written_ = false;
};

// Takes read access to the control key away from everyone for its scope (the owner keeps the
// right to give it back).
class ScopedDeniedKey {
 public:
  explicit ScopedDeniedKey(bool deny) {
    if (!deny) return;
    SECURITY_DESCRIPTOR descriptor;
    ACL empty;
    denied_ = InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
              InitializeAcl(&empty, sizeof(empty), ACL_REVISION) &&
              SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE) && Apply(&descriptor);
  }
  ScopedDeniedKey(const ScopedDeniedKey&) = delete;
  ScopedDeniedKey& operator=(const ScopedDeniedKey&) = delete;
  ~ScopedDeniedKey() {
    if (!denied_) return;
    SECURITY_DESCRIPTOR open;
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);  // a null DACL grants everything
    EXPECT_TRUE(Apply(&open));
  }
  bool Denied() const { return denied_; }

 private:
  static bool Apply(SECURITY_DESCRIPTOR* descriptor) {
    OpenKey key;
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kControlKey, 0, WRITE_DAC | KEY_WOW64_64KEY,
                         &key.handle) == ERROR_SUCCESS &&
           RegSetKeySecurity(key.handle, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
  }
  bool denied_ = false;
};

struct ProgramRun {
  LaunchResult launch;
  std::vector<std::string> log;  // the simulated library's events
};

ProgramRun RunProgram(const std::string& program, const std::string& commandLine,
                      const Simulation& simulation, DWORD timeoutMs = kTimeoutMs) {
  DeleteFileA(kLogPath.c_str());
  ProgramRun run;
  {
    const ScopedSimulation simulated(simulation, kLogPath);
    run.launch = LaunchProgram(program, commandLine, kWork, timeoutMs);
  }
  run.log = ReadLines(kLogPath);
  EXPECT_TRUE(run.launch.started) << "error " << run.launch.launchError;
  return run;
}

std::string Line(const std::string& text, size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < index && start != std::string::npos; ++i) {
    start = text.find('\n', start);
    if (start != std::string::npos) ++start;
  }
  if (start == std::string::npos) return std::string();
  std::string line = text.substr(start, text.find('\n', start) - start);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string FirstLine(const std::string& text) {
  return Line(text, 0);
}

// Text in `codePage` as UTF-8.
std::string ToUtf8(const std::string& text, UINT codePage) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(static_cast<size_t>(MultiByteToWideChar(codePage, 0, text.data(),
                                                      static_cast<int>(text.size()), &wide[0],
                                                      static_cast<int>(wide.size()))));
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(static_cast<size_t>(
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0],
                          static_cast<int>(utf8.size()), nullptr, nullptr)));
  return utf8;
}

// Keeps the JSON report for the schema check, when the run names a folder for them.
void KeepReport(const std::string& report) {
  char folder[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("QB_DIAG_REPORTS", folder, sizeof(folder));
  if (length == 0 || length >= sizeof(folder)) return;
  CreateDirectoryA(folder, nullptr);
  const std::string path = std::string(folder) + "\\report-" + std::to_string(GetACP()) + "-" +
                           std::to_string(++g_reportsKept) + ".json";
  std::ofstream(path, std::ios::binary) << report;
}

// One machine: the control key where quickboot.exe reads it and, by mistake, elsewhere.
struct Machine {
  Machine(KeyContent key, Simulation simulation = {}, KeyContent key32 = std::nullopt,
          KeyContent currentUserKey = std::nullopt, std::wstring unicodeInstPath = {},
          bool denyRead = false)
      : key(std::move(key)),
        simulation(simulation),
        key32(std::move(key32)),
        currentUserKey(std::move(currentUserKey)),
        unicodeInstPath(std::move(unicodeInstPath)),
        denyRead(denyRead) {}

  KeyContent key;
  Simulation simulation;
  KeyContent key32;
  KeyContent currentUserKey;
  std::wstring unicodeInstPath;  // InstPath written as Unicode over the key's
  bool denyRead;                 // nobody may read the key
};

struct Row {
  const char* name;
  Machine machine;
  int exitCode;
  const char* cause;                       // the JSON "cause" and the verdict's code
  const char* words;                       // in the verdict
  const char* options = "";                // for every run of the companion
  bool productHangs = false;               // quickboot.exe does not end: it is ended after kHangMs
  std::vector<std::string> fixLines = {};  // the reg add lines of --fix, pasted to mend it
  std::string pathFront;                   // a folder put in front of PATH for every run
  bool writeLocked = false;                // the test holds the write lock: quickboot.exe /1 is run
};

// Holds the write lock that quickboot.exe /1 and /0 take, when asked to.
class ScopedWriteLock {
 public:
  explicit ScopedWriteLock(bool hold)
      : handle_(hold ? CreateMutexW(nullptr, TRUE, L"Global\\quickboot-write") : nullptr) {}
  ScopedWriteLock(const ScopedWriteLock&) = delete;
  ScopedWriteLock& operator=(const ScopedWriteLock&) = delete;
  ~ScopedWriteLock() {
    if (handle_) CloseHandle(handle_);
  }
  bool Held() const { return handle_ != nullptr; }

 private:
  HANDLE handle_;
};

void WriteUnicodeInstPath(const std::wstring& text) {
  OpenKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kControlKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                          &key.handle),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key.handle, L"InstPath", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

class DiagTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryA(kWork.c_str(), nullptr);
    CreateDirectoryA(kFolderDll.c_str(), nullptr);
    if (FILE* file = std::fopen(kTextDll.c_str(), "wb")) {
      std::fputs("not a library\r\n", file);
      std::fclose(file);
    }
    CreateDirectoryA(kBeside.c_str(), nullptr);
    for (const auto& [from, to] : kBesideFiles) CopyFileA(from.c_str(), to.c_str(), FALSE);
    CreateDirectoryA(kBlankFolder.c_str(), nullptr);
    CopyFileA((kBin + "\\ctlsim.dll").c_str(), kBlankFolderDll.c_str(), FALSE);
    CreateDirectoryA(kShellFolder.c_str(), nullptr);
    CopyFileA((kBin + "\\ctlsim.dll").c_str(), kShellFolderDll.c_str(), FALSE);
    CopyFileA((kBin + "\\ctlsim.dll").c_str(), kRootDll.c_str(), FALSE);
  }
  static void TearDownTestSuite() {
    DeleteFileA(kTextDll.c_str());
    DeleteFileA(kLogPath.c_str());
    for (const auto& [from, to] : kBesideFiles) DeleteFileA(to.c_str());
    for (const std::string& file : {kBlankFolderDll, kShellFolderDll, kRootDll}) {
      DeleteFileA(file.c_str());
    }
    RemoveDirectoryA(kBeside.c_str());
    RemoveDirectoryA(kBlankFolder.c_str());
    RemoveDirectoryA(kShellFolder.c_str());
    RemoveDirectoryA(kFolderDll.c_str());
    RemoveDirectoryA(kWork.c_str());
    std::printf("largest text report %zu bytes, largest JSON report %zu bytes\n", g_largestText,
                g_largestJson);
  }
  void TearDown() override {
    EXPECT_TRUE(WriteKey(kMachine64.root, kControlKey, kMachine64.view, savedKey_));
  }

  // Runs the row through both programs and checks them; answers the JSON report.
  Json Check(const Row& row) {
    SCOPED_TRACE(row.name);
    const Machine& machine = row.machine;
    EXPECT_TRUE(WriteKey(kMachine64.root, kControlKey, kMachine64.view, machine.key));
    if (!machine.unicodeInstPath.empty()) WriteUnicodeInstPath(machine.unicodeInstPath);
    const ScopedStrayKeys strayKeys(machine.key32, machine.currentUserKey);
    EXPECT_TRUE(strayKeys.Written());
    const ScopedDeniedKey denied(machine.denyRead);
    EXPECT_EQ(denied.Denied(), machine.denyRead);
    const KeyContent written = ReadKey(kMachine64.root, kControlKey, kMachine64.view);

    const ScopedWriteLock lock(row.writeLocked);
    EXPECT_EQ(lock.Held(), row.writeLocked);
    std::optional<ScopedEnvironmentVariable> path;
    if (!row.pathFront.empty()) {
      char current[8192] = "";
      GetEnvironmentVariableA("PATH", current, sizeof(current));
      path.emplace("PATH", (row.pathFront + ";" + current).c_str());
    }

    const std::string options = *row.options ? std::string(" ") + row.options : "";
    // A write meets the lock (a read would not); the product answers as the companion does.
    const ProgramRun product =
        RunProgram(kQuickboot, row.writeLocked ? "quickboot.exe /1" : "quickboot.exe /g",
                   machine.simulation, row.productHangs ? kHangMs : kTimeoutMs);
    if (row.writeLocked) EXPECT_EQ(product.log, std::vector<std::string>{});
    const ProgramRun text = RunProgram(kDiag, "quickboot-diag.exe" + options, machine.simulation);
    const ProgramRun json =
        RunProgram(kDiag, "quickboot-diag.exe --json" + options, machine.simulation);
    const Json report = Json::parse(json.launch.standardOutput, nullptr, false);

    EXPECT_EQ(product.launch.timedOut, row.productHangs);
    if (!row.productHangs) {
      EXPECT_EQ(product.launch.exitCode, static_cast<DWORD>(row.exitCode));
    }
    for (const ProgramRun* run : {&text, &json}) {
      EXPECT_FALSE(run->launch.timedOut);
      EXPECT_EQ(run->launch.exitCode, static_cast<DWORD>(row.exitCode));
      EXPECT_EQ(run->launch.standardError, "");
      // It reads the state word at most once and never writes it.
      int reads = 0;
      for (const std::string& event : run->log) {
        EXPECT_EQ(event.rfind("call 1 1", 0), std::string::npos) << "the companion wrote";
        reads += event == "call 1 0 0" ? 1 : 0;
      }
      EXPECT_LE(reads, 1);
      if (row.writeLocked) EXPECT_EQ(run->log, std::vector<std::string>{}) << "loaded";
    }
    EXPECT_EQ(ReadKey(kMachine64.root, kControlKey, kMachine64.view), written);

    const std::string verdict = FirstLine(text.launch.standardOutput);
    const std::string start = "quickboot-diag: "s + row.cause + ": ";
    EXPECT_EQ(verdict.rfind(start, 0), 0u) << verdict;
    EXPECT_NE(verdict.find(row.words), std::string::npos) << verdict;
    EXPECT_EQ(verdict.find("; fix: ") == std::string::npos,
              std::string(row.cause).rfind("quick_boot_", 0) == 0)
        << verdict;
    EXPECT_LE(verdict.size(), kMaxVerdictBytes);
    EXPECT_GT(text.launch.standardOutput.size(), verdict.size() + 2) << "no step report";
    EXPECT_LT(text.launch.standardOutput.size(), kMaxReportBytes);
    for (size_t i = 0; !Line(text.launch.standardOutput, i).empty(); ++i) {
      EXPECT_LE(Line(text.launch.standardOutput, i).size(), kMaxReportLineBytes) << "line " << i;
    }
    // No command in the fix built from the hostile values below.
    EXPECT_EQ(verdict.find("whoami", verdict.find("; fix: ")), std::string::npos) << verdict;
    EXPECT_LT(json.launch.standardOutput.size(), kMaxReportBytes);
    g_largestText = std::max(g_largestText, text.launch.standardOutput.size());
    g_largestJson = std::max(g_largestJson, json.launch.standardOutput.size());
    KeepReport(json.launch.standardOutput);

    if (!row.fixLines.empty()) {
      const ProgramRun fix =
          RunProgram(kDiag, "quickboot-diag.exe --fix" + options, machine.simulation);
      std::string expected = verdict + "\n";
      std::vector<std::string> printed;
      for (const std::string& line : row.fixLines) expected += line + "\n";
      for (size_t i = 1; !Line(fix.launch.standardOutput, i).empty(); ++i) {
        printed.push_back(Line(fix.launch.standardOutput, i));
      }
      EXPECT_EQ(fix.launch.standardOutput, expected);
      const ProgramRun quiet =
          RunProgram(kDiag, "quickboot-diag.exe --quiet" + options, machine.simulation);
      EXPECT_EQ(quiet.launch.standardOutput, verdict + "\n");
      PasteLines(printed, machine.simulation);
    }

    EXPECT_FALSE(report.is_discarded()) << json.launch.standardOutput;
    if (report.is_discarded()) return report;
    const std::string& bytes = json.launch.standardOutput;
    EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > 0 && c < 0x7F; }))
        << "the JSON is not pure ASCII";
    // A pipe gets the console output code page, or the OEM one where there is none.
    const Json& process = report["process"];
    const unsigned codePage = process.value("console_output_code_page", 0u) != 0
                                  ? process.value("console_output_code_page", 0u)
                                  : process.value("oem_code_page", 0u);
    EXPECT_EQ(report.value("verdict", ""), ToUtf8(verdict, codePage));
    EXPECT_EQ(report.value("schema_version", 0), 2);
    EXPECT_EQ(report.value("cause", ""), row.cause);
    EXPECT_EQ(report.value("exit_code", -1), row.exitCode);
    EXPECT_EQ(process.value("ansi_code_page", 0u), GetACP());
    EXPECT_EQ(report.value("fix_commands", Json::array()), Json(row.fixLines));
    // The verdict carries the same lines when it carries any; what it cuts, it cuts at a blank.
    std::string joined;
    for (const std::string& line : row.fixLines) joined += (joined.empty() ? "" : " & ") + line;
    const Json& fix = report["fix"];
    if (fix.is_string() && fix.get<std::string>().rfind("reg add ", 0) == 0) {
      EXPECT_EQ(fix, joined);
    }
    const size_t cut = verdict.find("...; fix: ");
    if (cut != std::string::npos) {
      const std::string said = verdict.substr(start.size(), cut - start.size());
      EXPECT_EQ(report.value("what", "").rfind(said + " ", 0), 0u) << verdict;
    }
    return report;
  }

  // Pastes the lines into cmd.exe as they stand: then both programs answer the state, and only
  // the control key changed.
  void PasteLines(const std::vector<std::string>& lines, const Simulation& simulation) {
    const std::vector<KeyContent> before = KeysAroundTheControlKey();
    for (const std::string& line : lines) {
      const LaunchResult paste = LaunchProgram(kCmd, "cmd.exe /d /c " + line, kWork, kPasteMs);
      EXPECT_EQ(paste.exitCode, 0u) << line << "\n" << paste.standardOutput;
    }
    // The state word's bit 1 is the switch.
    const DWORD state = (std::strtoul(simulation.state, nullptr, 10) >> 1) & 1;
    EXPECT_EQ(RunProgram(kQuickboot, "quickboot.exe /g", simulation).launch.exitCode, state);
    const ProgramRun diag = RunProgram(kDiag, "quickboot-diag.exe --quiet", simulation);
    EXPECT_EQ(diag.launch.exitCode, state) << diag.launch.standardOutput;
    EXPECT_EQ(KeysAroundTheControlKey(), before);
  }

 private:
  const KeyContent savedKey_ = ReadKey(kMachine64.root, kControlKey, kMachine64.view);
};

// The line --fix prints to store `data` as the REG_SZ value `name`.
std::string RegAdd(const char* name, const std::string& data) {
  return "reg add \"HKLM\\SOFTWARE\\Vantrel\\ZKT05B9\" /v "s + name + " /t REG_SZ /d \"" + data +
         "\" /reg:64 /f";
}

TEST_F(DiagTest, NamesTheCauseOfEveryAnswer) {
  const std::string tooLong = kBin + "\\" + std::string(520, 'a');
  // Within the 520-byte limit, over the 259 bytes of the ANSI file calls.
  const std::string overAnsiLimit = kBin + "\\" + std::string(300 - kBin.size(), 'd');
  const std::wstring unicodeBin(kBin.begin(), kBin.end());
  const std::string fixBin = RegAdd("InstPath", kBin);
  const std::string fixName = RegAdd("DllName", "ctlsim.dll");
  const Simulation stateOff = {"0"};
  Simulation hang = {"2"}, exit7 = {"2"}, throwThenRefuse = {"0"}, unloadCrash = {"2"};
  hang.exit = "hang";
  exit7.exit = "7";
  throwThenRefuse.attach = "throw-fail";
  unloadCrash.crash = "detach";
  const Row rows[] = {
      {"no key", {std::nullopt}, kFailed, "key_missing", "does not exist"},
      {"only in the 32-bit view",
       {std::nullopt, stateOff, Installed()},
       kFailed,
       "only_32bit_view",
       "32-bit registry view (WOW6432Node)",
       "",
       false,
       {fixBin, fixName}},
      {"access denied, with a stale copy in the 32-bit view",
       {Installed(), stateOff, Installed(), std::nullopt, {}, true},
       kFailed,
       "key_access_denied",
       "may not read HKLM\\SOFTWARE\\Vantrel\\ZKT05B9 (error 5); the copy under HKLM (32-bit"},
      {"only under HKEY_CURRENT_USER",
       {std::nullopt, stateOff, std::nullopt, Installed()},
       kFailed,
       "only_current_user",
       "HKEY_CURRENT_USER"},
      {"REG_DWORD DllName",
       {Installed({REG_DWORD, "\7\0\0\0"s})},
       kFailed,
       "value_not_string",
       "DllName is a REG_DWORD value, not a string"},
      {"no DllName",
       {Values{{"InstPath", Text(kBin)}}},
       kFailed,
       "value_missing",
       "DllName is missing"},
      {"no InstPath, library not in the current directory",
       {Values{{"DllName", Text("ctlsim.dll")}}},
       kFailed,
       "value_missing",
       "InstPath is missing; cannot find ctlsim.dll"},
      {"path over 520 bytes",
       {Installed(Text("ctlsim.dll"), Text(tooLong))},
       kFailed,
       "path_too_long",
       "over the limit of 520"},
      {"missing file", {Installed(Text("absent.dll"))}, kFailed, "file_missing", "cannot find"},
      {"directory",
       {Installed(Text("folder.dll"), Text(kWork))},
       kFailed,
       "directory",
       "is a folder, not a library file"},
      {"text file named .dll",
       {Installed(Text("notes.dll"), Text(kWork))},
       kFailed,
       "not_a_library",
       "error 193: the file is not a library"},
      {"32-bit library",
       {Installed(Text("ctlsim32.dll"))},
       kFailed,
       "wrong_architecture",
       "error 193: the file is a 32-bit (x86) library"},
      {"missing dependency",
       {Installed(Text("ctlsim_needsabsent.dll"))},
       kFailed,
       "dependency_missing",
       "error 126: it needs qbabsent.dll"},
      {"dependency beside the library",
       {Installed(Text("ctlsim_needshelper.dll"), Text(kBeside))},
       0,
       "quick_boot_off",
       "quick boot is off"},
      {"dependency only on PATH",
       {Installed(Text("ctlsim_needshelper.dll"))},
       kFailed,
       "dependency_missing",
       "it needs qbhelper.dll, which is neither beside the library nor in the system folder",
       "",
       false,
       {},
       kElsewhere},
      {"a write holds the lock",
       {Installed(), {"2"}},
       kFailed,
       "write_in_progress",
       "holds the lock Global\\quickboot-write, so the library was not loaded",
       "",
       false,
       {},
       {},
       true},
      {"no GetVersionInfo",
       {Installed(Text("ctlsim_noversion.dll"))},
       kFailed,
       "export_missing",
       "lacks the entry point GetVersionInfo"},
      {"no CtrlQuickBoot",
       {Installed(Text("ctlsim_nocontrol.dll"))},
       kFailed,
       "export_missing",
       "lacks the entry point CtrlQuickBoot"},
      {"start-up refuses",
       {Installed(), {"0", nullptr, nullptr, nullptr, "fail"}},
       kFailed,
       "start_up_failed",
       "own start-up code refused to load"},
      {"crash in start-up",
       {Installed(), {"0", nullptr, nullptr, "attach"}},
       kFailed,
       "library_crashed",
       "crashed while starting: exception 0xC0000005"},
      {"crash in the read call",
       {Installed(), {"0", nullptr, nullptr, "call"}},
       kFailed,
       "library_crashed",
       "crashed while reading the setting: exception 0xC0000005"},
      {"library unloads itself in the read call",
       {Installed(), {"2", nullptr, nullptr, "unload"}},
       kFailed,
       "library_crashed",
       "crashed while reading the setting: exception 0xC0000005"},
      {"read status 5",
       {Installed(), {"2", "5"}},
       kFailed,
       "read_failed",
       "could not read the setting: status 5"},
      {"library hangs in the read",
       {Installed(), hang},
       kFailed,
       "library_hung",
       "did not return within 3 s while reading the setting",
       "--timeout 3",
       true},
      {"library ends the process with exit code 7",
       {Installed(), exit7},
       7,
       "library_exited",
       "ended the process with exit code 7 while reading the setting"},
      {"start-up handles its own C++ exception, then refuses",
       {Installed(), throwThenRefuse},
       kFailed,
       "start_up_failed",
       "own start-up code refused to load"},
      {"crash while unloading after the read",
       {Installed(), unloadCrash},
       1,
       "unload_crashed",
       "quick boot is on (state word 0x00000002), but the library crashed while being unloaded"},
      {"REG_EXPAND_SZ InstPath",
       {Installed(Text("ctlsim.dll"), Text("%SystemDrive%\\Vantrel\\Ctl", REG_EXPAND_SZ))},
       kFailed,
       "unexpanded_variable",
       "holds an environment variable, which quickboot.exe uses unexpanded"},
      {"quotes around InstPath",
       {Installed(Text("ctlsim.dll"), Text("\"" + kBin + "\""))},
       kFailed,
       "value_has_quotes",
       "InstPath is stored with quotes",
       "",
       false,
       {fixBin}},
      {"trailing blank in InstPath",
       {Installed(Text("ctlsim.dll"), Text(kBin + " "))},
       kFailed,
       "value_has_spaces",
       "InstPath starts or ends with a blank",
       "",
       false,
       {fixBin}},
      {"DllName holds the full path",
       {Installed(Text(kBin + "\\ctlsim.dll"))},
       kFailed,
       "dllname_has_path",
       "DllName holds a path",
       "",
       false,
       {fixName}},
      {"InstPath names the library file",
       {Installed(Text("ctlsim.dll"), Text(kBin + "\\ctlsim.dll"))},
       kFailed,
       "instpath_is_file",
       "names the library file, not its folder",
       "",
       false,
       {fixBin}},
      {"path over the 259 bytes of the ANSI file calls",
       {Installed(Text("ctlsim.dll"), Text(overAnsiLimit))},
       kFailed,
       "path_over_ansi_limit",
       "within the limit of 520, but the ANSI file calls stop at 259"},
      {"InstPath outside the ANSI code page",
       {Installed(), stateOff, std::nullopt, std::nullopt, unicodeBin + L"\\\u0101"},
       kFailed,
       "not_in_ansi_code_page",
       "InstPath has characters outside the ANSI code page"},
      {"20,000-byte InstPath",
       {Installed(Text("ctlsim.dll"), Text(std::string(20000, 'x')))},
       kFailed,
       "path_too_long",
       "over the limit of 520"},
      {"state 0", {Installed(), {"0"}}, 0, "quick_boot_off", "quick boot is off"},
      {"state 2", {Installed(), {"2"}}, 1, "quick_boot_on", "quick boot is on"},
  };
  for (const Row& row : rows) Check(row);
}

// Set-ups whose reg add lines used to mend them only in part, or not at all, and values that must
// never become a command: whatever reg add line is printed is pasted through cmd.exe.
TEST_F(DiagTest, PrintsFixLinesThatMendInOneRoundAndCarryNoCommand) {
  const ScopedEnvironmentVariable work("QB_DIAG_WORK", kWork.c_str());
  const std::string hostile = "C:\\Users\\Public\\x\" & whoami & rem \"";
  const Values hostileKey = Installed(Text("ctlsim.dll"), Text(hostile));
  const Simulation stateOff = {"0"};
  const Row rows[] = {
      {"quoted variable for a folder with blanks, too long to be told whole",
       {Installed(
           Text("ctlsim.dll"),
           Text("\"%QB_DIAG_WORK%" + kBlankFolder.substr(kWork.size()) + "\"", REG_EXPAND_SZ))},
       kFailed,
       "unexpanded_variable",
       "...; fix: reg add ",
       "",
       false,
       {RegAdd("InstPath", kBlankFolder)}},
      {"only in the 32-bit view, quoted, with a blank",
       {std::nullopt, stateOff, Installed(Text("ctlsim.dll"), Text("\"" + kBlankFolder + "\""))},
       kFailed,
       "only_32bit_view",
       "only in the 32-bit registry view",
       "",
       false,
       {RegAdd("InstPath", kBlankFolder), RegAdd("DllName", "ctlsim.dll")}},
      {"quotes in InstPath and a blank in DllName",
       {Installed(Text(" ctlsim.dll"), Text("\"" + kBin + "\""))},
       kFailed,
       "value_has_quotes",
       "InstPath is stored with quotes",
       "",
       false,
       {RegAdd("InstPath", kBin), RegAdd("DllName", "ctlsim.dll")}},
      {"DllName with a folder where the library is not",
       {Installed(Text("lib\\ctlsim.dll"))},
       kFailed,
       "dllname_has_path",
       "DllName holds a path",
       "",
       false,
       {RegAdd("DllName", "ctlsim.dll")}},
      {"full-path DllName, no InstPath, no file",
       {Values{{"DllName", Text(kWork + "\\absent.dll")}}},
       kFailed,
       "file_missing",
       "cannot find"},
      {"REG_DWORD DllName, a string in the 32-bit view",
       {Installed({REG_DWORD, "\7\0\0\0"s}), stateOff, Installed()},
       kFailed,
       "value_not_string",
       "DllName is a REG_DWORD value",
       "",
       false,
       {RegAdd("DllName", "ctlsim.dll")}},
      {"InstPath names the library at a drive's root",
       {Installed(Text("ctlsim.dll"), Text(kRootDll))},
       kFailed,
       "instpath_is_file",
       "names the library file",
       "",
       false,
       {RegAdd("InstPath", "C:\\\\"), RegAdd("DllName", kRootDllName)}},
      {"a command in a user's hive",
       {std::nullopt, stateOff, std::nullopt, hostileKey},
       kFailed,
       "only_current_user",
       "HKEY_CURRENT_USER"},
      {"a command in HKLM",
       {hostileKey},
       kFailed,
       "value_has_quotes",
       "InstPath is stored with quotes"},
      {"a command in the 32-bit view",
       {std::nullopt, stateOff, hostileKey},
       kFailed,
       "only_32bit_view",
       "only in the 32-bit registry view"},
      {"the library in a folder named with shell characters",
       {Installed(Text("ctlsim.dll"), Text(" " + kShellFolder))},
       kFailed,
       "value_has_spaces",
       "InstPath starts or ends with a blank"},
      {"shell characters in HKLM",
       {Installed(Text("ctlsim.dll"), Text(" " + kBin + "\\%x^|<>&whoami"))},
       kFailed,
       "value_has_spaces",
       "InstPath starts or ends with a blank"},
      {"healthy", {Installed(), stateOff}, 0, "quick_boot_off", "quick boot is off"},
  };
  for (const Row& row : rows) Check(row);
}

// A non-ASCII directory passes through as ANSI text (on code page 932 U+8868 is 0x95 0x5C, whose
// trail byte looks like a backslash): the JSON form carries it as \u escapes, the text form in
// the code page of the pipe, and both verdicts read the same.
TEST_F(DiagTest, CarriesNonAsciiTextIntoTheReport) {
  char expected[16] = "";
  GetEnvironmentVariableA("QB_EXPECT_ACP", expected, sizeof(expected));
  if (GetACP() != 932 && GetACP() != 1252) {
    ASSERT_STRNE(expected, "932") << "the run asked for code page 932 but has " << GetACP();
    GTEST_SKIP() << "needs code page 1252 or 932";
  }
  ASSERT_TRUE(*expected == '\0' || std::to_string(GetACP()) == expected) << GetACP();
  const bool doubleByte = GetACP() == 932;
  const std::string directory = kBin + (doubleByte ? "\\\x95\x5C" : "\\\xE9");
  const std::string utf8Directory = kBin + (doubleByte ? "\\\xE8\xA1\xA8" : "\\\xC3\xA9");
  const Json found = Check({"non-ASCII directory, then up to the library",
                            {Installed(Text("..\\ctlsim.dll"), Text(directory)), {"2"}},
                            1,
                            "quick_boot_on",
                            "quick boot is on"});
  ASSERT_FALSE(found.is_discarded());
  EXPECT_EQ(found["path"].value("text", ""), utf8Directory + "\\..\\ctlsim.dll");
  const Json missing = Check({"non-ASCII directory without the library",
                              {Installed(Text("absent.dll"), Text(directory))},
                              kFailed,
                              "file_missing",
                              "cannot find "});
  ASSERT_FALSE(missing.is_discarded());
  EXPECT_NE(missing.value("verdict", "").find(utf8Directory + "\\absent.dll"), std::string::npos)
      << missing.value("verdict", "");
}

// Sets the firmware's identity values in the registry for its scope (a null text: the value is
// missing), then puts back what was there.
class ScopedBiosValues {
 public:
  struct Value {
    const wchar_t* name;
    DWORD type;
    std::wstring data;  // with its terminating NULs
  };
  explicit ScopedBiosValues(const std::vector<Value>& values) {
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kBiosKey, 0, KEY_READ | KEY_SET_VALUE | KEY_WOW64_64KEY,
                  &key_);
    for (const Value& value : values) {
      Value saved = {value.name, REG_NONE, std::wstring(512, L'\0')};
      DWORD bytes = static_cast<DWORD>(saved.data.size() * sizeof(wchar_t));
      if (RegQueryValueExW(key_, value.name, nullptr, &saved.type,
                           reinterpret_cast<BYTE*>(&saved.data[0]), &bytes) != ERROR_SUCCESS) {
        saved.type = REG_NONE;
      }
      saved.data.resize(bytes / sizeof(wchar_t));
      saved_.push_back(saved);
      written_ = Set(value) && written_;
    }
  }
  ScopedBiosValues(const ScopedBiosValues&) = delete;
  ScopedBiosValues& operator=(const ScopedBiosValues&) = delete;
  ~ScopedBiosValues() {
    for (const Value& value : saved_) Set(value);
    if (key_) RegCloseKey(key_);
  }
  bool Written() const { return key_ && written_; }

 private:
  static constexpr wchar_t kBiosKey[] = L"HARDWARE\\DESCRIPTION\\System\\BIOS";
  bool Set(const Value& value) const {
    if (value.type == REG_NONE) {
      const LONG status = RegDeleteValueW(key_, value.name);
      return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExW(key_, value.name, 0, value.type,
                          reinterpret_cast<const BYTE*>(value.data.data()),
                          static_cast<DWORD>(value.data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  HKEY key_ = nullptr;
  bool written_ = true;
  std::vector<Value> saved_;
};

// The machine as its firmware names it: each value as the registry holds it, cut to 64
// characters, the first of a list, empty when missing; the JSON carries it as \u escapes.
TEST_F(DiagTest, NamesTheMachineAsItsFirmwareDoes) {
  const std::wstring longName = L"Tellwright Systems " + std::wstring(60, L'x');
  const ScopedBiosValues values(
      {{L"SystemManufacturer", REG_SZ, longName + L'\0'},
       {L"SystemProductName", REG_SZ, std::wstring(L"Mod\u00e8le \u03a9-7") + L'\0'},
       {L"BIOSVersion", REG_MULTI_SZ, std::wstring(L"TW1.2\0second\0\0", 14)},
       {L"BIOSReleaseDate", REG_NONE, {}}});
  ASSERT_TRUE(values.Written());
  const Json report = Check({"named machine", {Installed(), {"2"}}, 1, "quick_boot_on", "is on"});
  ASSERT_FALSE(report.is_discarded());
  EXPECT_EQ(report.value("manufacturer", ""), "Tellwright Systems " + std::string(45, 'x'));
  EXPECT_EQ(report.value("model", ""), "Mod\xC3\xA8le \xCE\xA9-7");
  EXPECT_EQ(report.value("firmware_version", ""), "TW1.2");
  EXPECT_EQ(report.value("firmware_date", "?"), "");
  const ProgramRun text = RunProgram(kDiag, "quickboot-diag.exe", {"2"});
  EXPECT_NE(text.launch.standardOutput.find("manufacturer \"Tellwright Systems xxx"),
            std::string::npos)
      << text.launch.standardOutput;
}

// The id of a quickboot-diag.exe that `parent` started, 0 when there is none.
DWORD ProbeOf(DWORD parent) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  DWORD child = 0;
  for (BOOL more = Process32First(snapshot, &entry); more && !child;
       more = Process32Next(snapshot, &entry)) {
    if (entry.th32ParentProcessID == parent &&
        lstrcmpiA(entry.szExeFile, "quickboot-diag.exe") == 0) {
      child = entry.th32ProcessID;
    }
  }
  CloseHandle(snapshot);
  return child;
}

// The library's child probe serves only the companion: anything but the pipe the companion made
// for it is a usage error that loads nothing. It keeps to its time limit, and it ends with a
// companion that is killed while the library hangs (the hang lasts a minute).
TEST_F(DiagTest, ProbeServesOnlyItsCompanionAndEndsWithIt) {
  ASSERT_TRUE(WriteKey(kMachine64.root, kControlKey, kMachine64.view, Installed()));
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE pipeRead = nullptr, pipeWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&pipeRead, &pipeWrite, &inherit, 0));
  // The probe inherits this pipe's write end under the same number: a real pipe, made by the
  // process that started it, which is not the companion.
  const std::string foreign = std::to_string(reinterpret_cast<uintptr_t>(pipeWrite));
  for (const std::string& argument : {"0"s, "abc"s, "1"s, foreign, foreign + "0x"}) {
    SCOPED_TRACE(argument);
    const ProgramRun run = RunProgram(kDiag, "quickboot-diag.exe --child-probe " + argument, {"2"});
    EXPECT_EQ(run.launch.exitCode, 2u);
    EXPECT_NE(run.launch.standardError, "");
    EXPECT_EQ(run.log, std::vector<std::string>{});
  }
  DWORD sent = 0;
  EXPECT_TRUE(PeekNamedPipe(pipeRead, nullptr, 0, nullptr, &sent, nullptr));
  EXPECT_EQ(sent, 0u);
  CloseHandle(pipeRead);
  CloseHandle(pipeWrite);

  // A limit of 1 s. The bound is on the span from the probe's start to its end, which the
  // report gives: the whole run's wall clock swings by seconds under load (wine starts two
  // programs), that span does not.
  Simulation hang = {"2"};
  hang.exit = "hang";
  const ULONGLONG start = GetTickCount64();
  const ProgramRun limited = RunProgram(kDiag, "quickboot-diag.exe --json --timeout 1", hang);
  const ULONGLONG elapsed = GetTickCount64() - start;
  const Json report = Json::parse(limited.launch.standardOutput, nullptr, false);
  const double span = report.is_discarded() ? -1 : report["probe"].value("milliseconds", -1.0);
  std::printf("a hanging library with --timeout 1: probe ended after %.0f ms, companion %llu ms\n",
              span, elapsed);
  EXPECT_EQ(limited.launch.exitCode, static_cast<DWORD>(kFailed));
  EXPECT_GT(span, 0);
  EXPECT_LT(span, kOneSecondLimitBoundMs);

  DeleteFileA(kLogPath.c_str());
  const ScopedSimulation simulated(hang, kLogPath);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION companion = {};
  std::string line = "quickboot-diag.exe --quiet --timeout 600";
  ASSERT_TRUE(CreateProcessA(kDiag.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, kWork.c_str(), &startup, &companion));
  CloseHandle(companion.hThread);
  // Polled, as nothing signals it: the probe has called into the library, which now hangs.
  const std::vector<std::string> hung = {"attach", "call 1 0 0"};
  for (const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
       ReadLines(kLogPath) != hung && GetTickCount64() < deadline;) {
    Sleep(50);
  }
  ASSERT_EQ(ReadLines(kLogPath), hung);
  const HANDLE probe =
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, ProbeOf(companion.dwProcessId));
  EXPECT_NE(probe, nullptr);
  TerminateProcess(companion.hProcess, 1);
  WaitForSingleObject(companion.hProcess, kTimeoutMs);
  CloseHandle(companion.hProcess);
  if (!probe) return;
  const bool ended = WaitForSingleObject(probe, kProbeGoneMs) == WAIT_OBJECT_0;
  EXPECT_TRUE(ended) << "the probe outlived its companion";
  if (!ended) TerminateProcess(probe, 1);
  CloseHandle(probe);
}

TEST(DiagOptionsTest, AnswersItsOptions) {
  struct Row {
    const char* commandLine;
    int exitCode;
    const char* output;  // the first line of standard output
    bool error;          // something on standard error
  };
  const char* kUsage = "usage: quickboot-diag.exe [--json | --quiet | --fix] [--timeout SECONDS]";
  const Row rows[] = {
      {"quickboot-diag.exe --help", 0, kUsage, false},
      {"quickboot-diag.exe /?", 0, kUsage, false},
      {"quickboot-diag.exe --version", 0, "quickboot-diag " QB_VERSION_TEXT, false},
      {"quickboot-diag.exe --jsn", 2, "", true},
      {"quickboot-diag.exe --json --json", 2, "", true},
      {"quickboot-diag.exe --quiet --fix", 2, "", true},
      {"quickboot-diag.exe --timeout", 2, "", true},
      {"quickboot-diag.exe --timeout 0", 2, "", true},
      {"quickboot-diag.exe --timeout 5s", 2, "", true},
      {"quickboot-diag.exe --help --json", 2, "", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.commandLine);
    const LaunchResult launch = LaunchProgram(kDiag, row.commandLine, "", kTimeoutMs);
    EXPECT_EQ(launch.exitCode, static_cast<DWORD>(row.exitCode));
    EXPECT_EQ(FirstLine(launch.standardOutput), row.output);
    EXPECT_EQ(launch.standardError.empty(), !row.error);
  }
}

}  // namespace
