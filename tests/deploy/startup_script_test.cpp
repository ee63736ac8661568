// The Group Policy start-up script (deploy/startup-script/quickboot-startup.cmd) run by cmd.exe
// against quickboot.exe and the simulated control library. Wine has neither Windows PowerShell
// nor eventcreate.exe: stand-ins from this folder take their places, named by the script's
// settings; a stand-in for the companion runs the real quickboot.exe /g.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/launcher/launch.h"
#include "tests/support/test_files.h"
#include "tests/support/test_registry.h"

namespace {

constexpr DWORD kTimeoutMs = 120000;

// The script, the programs and the stand-ins lie side by side in kBin. Each run gets a copy of
// the script with its settings made for the case, and an installation folder with a blank in
// its path that holds quickboot.exe, the library (with its state file) and maybe the companion.
const std::string kBin = ThisProgramDirectory();
const std::string kWork =
    TemporaryDirectory() + "\\qb-deploy-" + std::to_string(GetCurrentProcessId());
const std::string kInstall = kWork + "\\Program Files";
const std::string kTools = kWork + "\\tools";
const std::string kScript = kWork + "\\quickboot-startup.cmd";
const std::string kLibrary = kInstall + "\\ctlsim.dll";
const std::string kStateFile = kLibrary + ".state";
const std::string kDiagnosticPath = kInstall + "\\quickboot-diag.exe";
const std::string kLogPath = kWork + "\\ctlsim.log";
const std::string kEventLogPath = kWork + "\\events.log";

// What the firmware's registry key holds for every case, and the status line's end made of it:
// separators and tabs become blanks, a list's strings are joined, fields are trimmed and cut.
const char kFirmwareKey[] = "HARDWARE\\DESCRIPTION\\System\\BIOS";
const char kInstalledKey[] = "SOFTWARE\\quickboot";
const Values kFirmware = {{"SystemManufacturer", Text(" Maker; Inc.|\tEast ")},
                          {"SystemProductName", Text(std::string(60, 'M') + " 12345678")},
                          {"BIOSVersion", {REG_MULTI_SZ, std::string("V1.2\0Rev 3\0\0", 13)}},
                          {"BIOSReleaseDate", Text("01/02/2024")}};
const std::string kHardware =
    " | manufacturer=Maker  Inc.  East; model=" + std::string(60, 'M') +
    " 123; firmware=V1.2 Rev 3; firmware_date=01/02/2024; quickboot=1.0.0";

const std::string kCannotUse = ": the control library could not be located, loaded or called";
const std::string kReadFailed =
    "error: control_library_failed: quickboot.exe /g answered 100" + kCannotUse;
const std::string kVerdict =
    "error: wrong_architecture: cannot load C:\\R&D "
    "(x86)\\ctl.dll: error 193: the file is a 32-bit (x86) library; a 64-bit one is needed (seen "
    "from " +
    kInstall + "); fix: install the vendor's 64-bit library";

using Log = std::vector<std::string>;  // the simulated library's log, one line per event
const Log kNotLoaded = {};
const Log kRead = {"attach", "call 1 0 0", "detach FreeLibrary"};
const Log kEndedInRead = {"attach", "call 1 0 0", "detach exit"};  // by the library
const Log kStoppedInRead = {"attach", "call 1 0 0"};               // from outside

Log ReadThenWrite(const std::string& value) {
  return {"attach",     "call 1 0 0",        "detach FreeLibrary", "attach",
          "call 1 0 0", "call 1 1 " + value, "detach FreeLibrary"};
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// Replaces the one line `from` of the script's settings with `to`; false when it is not there
// exactly once.
bool ReplaceSetting(std::string* script, const std::string& from, const std::string& to) {
  const size_t at = script->find(from + "\r\n");
  if (at == std::string::npos || script->find(from + "\r\n", at + 1) != std::string::npos) {
    ADD_FAILURE() << "not one setting line " << from;
    return false;
  }
  script->replace(at, from.size(), to);
  return true;
}

// How a case's installation differs from the usual one (library, no companion, eventcreate on
// PATH, quickboot.exe where the script's setting says).
enum Setup : unsigned {
  kUsual = 0,
  kNoLibrary = 1,         // the library is not where the registry says
  kCompanion = 2,         // the companion lies beside quickboot.exe
  kNoEventcreate = 4,     // no eventcreate.exe where the script's setting says, as in wine
  kDefaultPlace = 8,      // no folder set or recorded: %ProgramW6432%\\quickboot, where nothing is
  kNoPowerShell = 16,     // the script's PowerShell is not there (or does not run)
  kRealCompanion = 32,    // the real companion, not the stand-in, lies beside quickboot.exe
  kInstallDir = 64,       // no folder set; the installer's InstallDir names the installation
  kNoProgramW6432 = 128,  // no folder set or recorded, and ProgramW6432 is not defined
  kRelativeDir = 256,     // the script's folder setting is not a full path
  kWriteLeftRunning = 512,  // an earlier case's write is still running, holding the write lock
};

struct Case {
  const char* name;
  const char* desired;  // the script's DESIRED setting
  const char* state;    // the library's state word before the run
  unsigned setup;
  const char* exit;         // CTLSIM_EXIT, or null ("write:" before it: for the write only)
  const char* writeStatus;  // CTLSIM_WRITE_STATUS, or null
  const char* seconds;      // the script's READ_SECONDS and WRITE_SECONDS settings
  // What must come of it.
  DWORD exitCode;
  std::string line;  // the one line printed, without its hardware fields
  Log log;
  const char* stateAfter;         // null: as before
  int event;                      // the ID of the event with the line as its text; 0: none
  const char* kitCase = nullptr;  // the set-up of kit-cases.json, whose outcome and cause it gives
};

// "<outcome>: <cause>: " of a set-up of kit-cases.json (beside the programs), which every kit
// shares.
std::string KitCase(const std::string& name) {
  const std::string text = ReadText(kBin + "\\kit-cases.json");
  const std::string key = "\"" + name + "\": {\"outcome\": \"";
  const size_t at = text.find(key);
  if (at == std::string::npos) return "(no set-up " + name + ")";
  const size_t outcome = at + key.size();
  const size_t outcomeEnd = text.find('"', outcome);
  const std::string causeKey = "\"cause\": \"";
  const size_t cause = text.find(causeKey, outcomeEnd) + causeKey.size();
  return text.substr(outcome, outcomeEnd - outcome) + ": " +
         text.substr(cause, text.find('"', cause) - cause) + ": ";
}

// Sets (or, where absent, deletes) the values named in `values` of a key under HKLM, created
// volatile where it is missing, as the firmware's key is below the volatile HARDWARE key.
bool SetValues(const char* path,
               const std::map<std::string, std::optional<RegistryValue>>& values) {
  OpenKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_VOLATILE,
                      KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key.handle,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool written = true;
  for (const auto& [name, value] : values) {
    if (!value) {
      RegDeleteValueA(key.handle, name.c_str());
    } else if (RegSetValueExA(key.handle, name.c_str(), 0, value->first,
                              reinterpret_cast<const BYTE*>(value->second.data()),
                              static_cast<DWORD>(value->second.size())) != ERROR_SUCCESS) {
      written = false;
    }
  }
  return written;
}

// The firmware's values as `content` holds them, or absent.
std::map<std::string, std::optional<RegistryValue>> FirmwareValues(const KeyContent& content) {
  std::map<std::string, std::optional<RegistryValue>> values;
  for (const auto& [name, value] : kFirmware) {
    values[name] = std::nullopt;
    if (content && content->count(name)) values[name] = content->at(name);
  }
  return values;
}

// HKLM\\SOFTWARE\\quickboot as the installer leaves it: the version, and the folder when `folder`.
bool WriteInstalledKey(bool folder) {
  OpenKey key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstalledKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                      nullptr, &key.handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const RegistryValue version = Text("1.0.0"), installDir = Text(kInstall);
  RegDeleteValueA(key.handle, "InstallDir");
  return RegSetValueExA(key.handle, "Version", 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(version.second.data()),
                        static_cast<DWORD>(version.second.size())) == ERROR_SUCCESS &&
         (!folder || RegSetValueExA(key.handle, "InstallDir", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(installDir.second.data()),
                                    static_cast<DWORD>(installDir.second.size())) == ERROR_SUCCESS);
}

// Ends the quickboot.exe that a case left running on purpose (found by its path, which is this
// suite's own); false when there is none.
bool EndLeftRunning() {
  bool found = false;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, "quickboot.exe") != 0) continue;
    HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                    entry.th32ProcessID);
    if (!process) continue;
    char path[MAX_PATH];
    DWORD size = sizeof(path);
    if (QueryFullProcessImageNameA(process, 0, path, &size) &&
        lstrcmpiA(path, (kInstall + "\\quickboot.exe").c_str()) == 0) {
      found = true;
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 10000);
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return found;
}

class StartupScriptTest : public ::testing::Test {
 protected:
  static inline KeyContent savedKey_;  // the control key as it was before the suite
  static inline KeyContent savedFirmware_, savedInstalled_;

  static void SetUpTestSuite() {
    for (const std::string& directory : {kWork, kInstall, kTools}) {
      CreateDirectoryA(directory.c_str(), nullptr);
    }
    CopyFileA((kBin + "\\quickboot.exe").c_str(), (kInstall + "\\quickboot.exe").c_str(), FALSE);
    CopyFileA((kBin + "\\fake_powershell.exe").c_str(), (kTools + "\\powershell.exe").c_str(),
              FALSE);
    CopyFileA((kBin + "\\fake_eventcreate.exe").c_str(), (kTools + "\\eventcreate.exe").c_str(),
              FALSE);
    savedKey_ = ReadKey(HKEY_LOCAL_MACHINE, kControlKey, KEY_WOW64_64KEY);
    ASSERT_TRUE(WriteKey(HKEY_LOCAL_MACHINE, kControlKey, KEY_WOW64_64KEY,
                         Values{{"InstPath", Text(kInstall)}, {"DllName", Text("ctlsim.dll")}}));
    savedFirmware_ = ReadKey(HKEY_LOCAL_MACHINE, kFirmwareKey, KEY_WOW64_64KEY);
    savedInstalled_ = ReadKey(HKEY_LOCAL_MACHINE, kInstalledKey, KEY_WOW64_64KEY);
    ASSERT_TRUE(SetValues(kFirmwareKey, FirmwareValues(kFirmware)));
  }

  static void TearDownTestSuite() {
    WriteKey(HKEY_LOCAL_MACHINE, kControlKey, KEY_WOW64_64KEY, savedKey_);
    SetValues(kFirmwareKey, FirmwareValues(savedFirmware_));
    WriteKey(HKEY_LOCAL_MACHINE, kInstalledKey, KEY_WOW64_64KEY, savedInstalled_);
    for (const char* file :
         {"quickboot.exe", "ctlsim.dll", "ctlsim.dll.state", "quickboot-diag.exe"}) {
      DeleteFileA((kInstall + "\\" + file).c_str());
    }
    for (const std::string& file : {kTools + "\\powershell.exe", kTools + "\\eventcreate.exe",
                                    kScript, kLogPath, kEventLogPath}) {
      DeleteFileA(file.c_str());
    }
    for (const std::string& directory : {kTools, kInstall, kWork}) {
      RemoveDirectoryA(directory.c_str());
    }
  }

  // Prepares the installation and the script for `c`, runs the script as Group Policy does
  // (cmd.exe /c) and checks everything it must leave behind.
  void Run(const Case& c, bool endLeftRunning = true) {
    SCOPED_TRACE(c.name);
    std::string script = ReadText(kBin + "\\quickboot-startup.cmd");
    const bool set =
        ReplaceSetting(&script, "set \"DESIRED=1\"",
                       std::string("set \"DESIRED=") + c.desired + "\"") &&
        ((c.setup & (kDefaultPlace | kInstallDir | kNoProgramW6432)) ||
         ReplaceSetting(&script, "set \"QUICKBOOT_DIR=\"",
                        "set \"QUICKBOOT_DIR=" +
                            (c.setup & kRelativeDir ? "Program Files" : kInstall) + "\"")) &&
        ReplaceSetting(&script, "set \"READ_SECONDS=20\"",
                       std::string("set \"READ_SECONDS=") + c.seconds + "\"") &&
        ReplaceSetting(&script, "set \"WRITE_SECONDS=300\"",
                       std::string("set \"WRITE_SECONDS=") + c.seconds + "\"") &&
        ReplaceSetting(&script, "set \"EVENTCREATE=%SystemRoot%\\System32\\eventcreate.exe\"",
                       "set \"EVENTCREATE=" + kTools +
                           (c.setup & kNoEventcreate ? "\\absent.exe\"" : "\\eventcreate.exe\"")) &&
        ReplaceSetting(
            &script,
            "set \"POWERSHELL=%SystemRoot%\\System32\\WindowsPowerShell\\v1.0\\powershell.exe\"",
            "set \"POWERSHELL=" + kTools +
                (c.setup & kNoPowerShell ? "\\absent.exe\"" : "\\powershell.exe\""));
    if (!set) return;
    WriteText(kScript, script);

    DeleteFileA(kLibrary.c_str());
    DeleteFileA(kDiagnosticPath.c_str());
    if (!(c.setup & kNoLibrary)) {
      CopyFileA((kBin + "\\ctlsim.dll").c_str(), kLibrary.c_str(), FALSE);
    }
    if (c.setup & (kCompanion | kRealCompanion)) {
      const char* companion = c.setup & kRealCompanion ? "quickboot-diag.exe" : "fake_diag.exe";
      CopyFileA((kBin + "\\" + companion).c_str(), kDiagnosticPath.c_str(), FALSE);
    }
    WriteText(kStateFile, std::string(c.state) + "\n");
    ASSERT_TRUE(WriteInstalledKey(c.setup & kInstallDir));
    DeleteFileA(kLogPath.c_str());
    DeleteFileA(kEventLogPath.c_str());

    const bool writeOnly = c.exit && std::strncmp(c.exit, "write:", 6) == 0;
    char system[MAX_PATH];
    const std::string cmd =
        std::string(system, GetSystemDirectoryA(system, MAX_PATH)) + "\\cmd.exe";
    LaunchResult run;
    {
      ScopedEnvironmentVariable state("CTLSIM_STATE", nullptr);  // kept in the state file
      ScopedEnvironmentVariable readStatus("CTLSIM_READ_STATUS", nullptr);
      ScopedEnvironmentVariable writeStatus("CTLSIM_WRITE_STATUS", c.writeStatus);
      ScopedEnvironmentVariable crash("CTLSIM_CRASH", nullptr);
      ScopedEnvironmentVariable exit("CTLSIM_EXIT", writeOnly ? nullptr : c.exit);
      ScopedEnvironmentVariable writeExit("QB_WRITE_EXIT", writeOnly ? c.exit + 6 : nullptr);
      ScopedEnvironmentVariable log("CTLSIM_LOG", kLogPath.c_str());
      ScopedEnvironmentVariable eventLog("QB_EVENT_LOG", kEventLogPath.c_str());
      char programFiles[MAX_PATH] = "";
      GetEnvironmentVariableA("ProgramW6432", programFiles, MAX_PATH);
      ScopedEnvironmentVariable programW6432(
          "ProgramW6432", c.setup & kNoProgramW6432 || !*programFiles ? nullptr : programFiles);
      run = LaunchProgram(cmd, "cmd.exe /d /c \"\"" + kScript + "\"\"", kWork, kTimeoutMs);
    }

    EXPECT_TRUE(run.started) << "error " << run.launchError;
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, c.exitCode);
    const std::string line = c.line + kHardware;
    if (c.kitCase) EXPECT_EQ(line.substr(0, KitCase(c.kitCase).size()), KitCase(c.kitCase));
    EXPECT_EQ(run.standardOutput, line + "\r\n");
    EXPECT_EQ(run.standardError, "");
    // A write past its limit is still running: the script did not end it.
    if (endLeftRunning) {
      EXPECT_EQ(EndLeftRunning(), (writeOnly && std::strcmp(c.exit + 6, "hang") == 0) ||
                                      (c.setup & kWriteLeftRunning) != 0);
    }
    EXPECT_EQ(ReadLines(kLogPath), c.log);
    EXPECT_EQ(ReadLines(kStateFile), Log{c.stateAfter ? c.stateAfter : c.state});
    Log events = ReadLines(kEventLogPath);
    // cmd.exe passes the blanks before a redirection on.
    for (std::string& line : events) line.erase(line.find_last_not_of(' ') + 1);
    if (c.event) {
      // By its full path, never a program of that name in the current folder.
      const std::string event =
          "\"" + kTools + "\\eventcreate.exe\" /T " + (c.event >= 10 ? "INFORMATION" : "ERROR") +
          " /L APPLICATION /SO quickboot /ID " + std::to_string(c.event) + " /D \"" + line + "\"";
      EXPECT_EQ(events, Log{event});
    } else {
      EXPECT_EQ(events, Log{});
    }
  }
};

TEST_F(StartupScriptTest, ReadsFirstAndWritesOnlyOnDrift) {
  const std::string on = "compliant: quick_boot_on: quick boot is on";
  const Case cases[] = {
      {"compliant, on", "1", "2", kUsual, nullptr, nullptr, "20", 0, on, kRead, nullptr, 11, "on"},
      {"compliant, off (other bits set)", "0", "5", kUsual, nullptr, nullptr, "20", 0,
       "compliant: quick_boot_off: quick boot is off", kRead, nullptr, 11},
      {"drift repaired, on", "1", "1", kUsual, nullptr, nullptr, "20", 0,
       "repaired: quick_boot_on: quick boot switched on", ReadThenWrite("3"), "3", 10, "off"},
      {"drift repaired, off", "0", "2", kUsual, nullptr, nullptr, "20", 0,
       "repaired: quick_boot_off: quick boot switched off", ReadThenWrite("0"), "0", 10},
      // The companion's read needs no PowerShell at boot.
      {"compliant, companion's read, no PowerShell", "1", "2", kCompanion | kNoPowerShell, nullptr,
       nullptr, "20", 0, on, kRead, nullptr, 11},
      {"drift repaired, companion's read", "0", "2", kCompanion, nullptr, nullptr, "20", 0,
       "repaired: quick_boot_off: quick boot switched off", ReadThenWrite("0"), "0", 10},
      // The command line and answers of the companion itself, not only of its stand-in.
      {"compliant, the real companion's read, no PowerShell", "1", "2",
       kRealCompanion | kNoPowerShell, nullptr, nullptr, "20", 0, on, kRead, nullptr, 11},
      // The folder the installer recorded comes before ProgramW6432, which names none here.
      {"compliant, the installer's folder", "1", "2", kInstallDir, nullptr, nullptr, "20", 0, on,
       kRead, nullptr, 11},
      {"compliant, the installer's folder, no ProgramW6432", "1", "2",
       kInstallDir | kNoProgramW6432, nullptr, nullptr, "20", 0, on, kRead, nullptr, 11},
  };
  for (const Case& c : cases) Run(c);
}

TEST_F(StartupScriptTest, FailsWithOneLineAndAnEvent) {
  const Case cases[] = {
      {"library missing", "1", "0", kNoLibrary, nullptr, nullptr, "20", 1, kReadFailed, kNotLoaded,
       nullptr, 1, "library_missing"},
      {"library missing, companion's read", "1", "0", kNoLibrary | kCompanion, nullptr, nullptr,
       "20", 1, kVerdict, kNotLoaded, nullptr, 1},
      {"library missing, the real companion's read", "1", "0", kNoLibrary | kRealCompanion, nullptr,
       nullptr, "20", 1,
       "error: file_missing: cannot find " + kLibrary +
           ": error 2: File not found; fix: install the library, or correct InstPath and DllName",
       kNotLoaded, nullptr, 1, "library_missing_companion"},
      // The library's own exit code: an unexpected code, named by the companion.
      {"library ends the read with 7, the real companion's read", "0", "2", kRealCompanion, "7",
       nullptr, "20", 1,
       "error: library_exited: the library ended the process with exit code 7 while reading the "
       "setting; fix: send this line to the library's vendor",
       kEndedInRead, nullptr, 2},
      // As wine is: no eventcreate.exe. Still one line, and no other output.
      {"library missing, no eventcreate", "1", "0", kNoLibrary | kNoEventcreate, nullptr, nullptr,
       "20", 1, kReadFailed, kNotLoaded, nullptr, 0},
      {"library ends the read with 7", "0", "2", kUsual, "7", nullptr, "20", 1,
       "error: unexpected_exit_code: quickboot.exe /g answered 7: none of its answers; the control "
       "library may have ended the process",
       kEndedInRead, nullptr, 2, "library_ends_process"},
      {"write fails", "1", "0", kUsual, nullptr, "5", "20", 1,
       "error: control_library_failed: quickboot.exe /1 answered 100" + kCannotUse,
       ReadThenWrite("2"), nullptr, 1, "write_fails"},
      // The companion read the state before and after: its "quick boot is off" only follows the
      // failing write, which leads.
      {"write fails, companion installed", "1", "0", kCompanion, nullptr, "5", "20", 1,
       "error: control_library_failed: quickboot.exe /1 answered 100" + kCannotUse +
           "; quickboot-diag: quick_boot_off: quick boot is off",
       [] {
         Log log = ReadThenWrite("2");
         log.insert(log.end(), kRead.begin(), kRead.end());
         return log;
       }(),
       nullptr, 1},
      // Ended at the time limit: no detach, and no write.
      {"read hangs", "1", "0", kUsual, "hang", nullptr, "2", 1,
       "error: timed_out: quickboot.exe /g did not answer within 2 seconds and was ended",
       kStoppedInRead, nullptr, 3, "read_hangs"},
      {"read hangs, companion's read", "1", "0", kCompanion, "hang", nullptr, "2", 1,
       "error: library_hung: CtrlQuickBoot did not return within 2 seconds; fix: ask the "
       "library's vendor",
       kStoppedInRead, nullptr, 1},
      // Waited for up to the limit, then left running: it hangs in its own first read.
      {"write hangs",
       "1",
       "0",
       kUsual,
       "write:hang",
       nullptr,
       "2",
       1,
       "error: write_still_running: quickboot.exe /1 did not end within 2 seconds; it was left "
       "running, since a write cut off halfway could leave any state",
       {"attach", "call 1 0 0", "detach FreeLibrary", "attach", "call 1 0 0"},
       nullptr,
       4,
       "write_hangs"},
      // Never taken for an answer: nothing read, nothing written.
      {"no PowerShell", "1", "0", kNoPowerShell, nullptr, nullptr, "20", 1,
       "error: could_not_start: Windows PowerShell did not run quickboot.exe /g: " + kTools +
           "\\absent.exe",
       kNotLoaded, nullptr, 6},
      // %ProgramW6432%\quickboot, where nothing is installed here.
      {"not installed", "1", "0", kDefaultPlace, nullptr, nullptr, "20", 1,
       "error: not_installed: quickboot.exe not found: C:\\Program "
       "Files\\quickboot\\quickboot.exe (the folder from ProgramW6432)",
       kNotLoaded, nullptr, 5},
      // Nothing to go by: never a folder relative to the current drive, such as \quickboot.
      {"no folder recorded, no ProgramW6432", "1", "0", kNoProgramW6432, nullptr, nullptr, "20", 1,
       "error: not_installed: ProgramW6432 is not set and HKLM\\SOFTWARE\\quickboot\\InstallDir "
       "is missing",
       kNotLoaded, nullptr, 5},
      {"a folder setting that is no full path", "1", "0", kRelativeDir, nullptr, nullptr, "20", 1,
       "error: bad_setting: QUICKBOOT_DIR is not a full path: Program Files", kNotLoaded, nullptr,
       7},
  };
  for (const Case& c : cases) Run(c);
}

// A write left running past WRITE_SECONDS holds quickboot.exe's write lock: the next run starts
// no second write and loads nothing; the companion names the cause.
TEST_F(StartupScriptTest, AWriteLeftRunningHoldsTheNextRunOff) {
  Run({"write hangs, left running",
       "1",
       "0",
       kUsual,
       "write:hang",
       nullptr,
       "2",
       1,
       "error: write_still_running: quickboot.exe /1 did not end within 2 seconds; it was left "
       "running, since a write cut off halfway could leave any state",
       {"attach", "call 1 0 0", "detach FreeLibrary", "attach", "call 1 0 0"},
       nullptr,
       4},
      false);
  Run({"the next run while it runs", "1", "0", kRealCompanion | kWriteLeftRunning, nullptr, nullptr,
       "20", 1,
       "error: write_in_progress: a write (quickboot.exe /1 or /0) holds the lock "
       "Global\\quickboot-write, so the library was not loaded; fix: wait for the running write "
       "to end, then run again",
       kNotLoaded, nullptr, 1});
}

}  // namespace
