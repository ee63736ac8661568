// quickboot-diag.exe against quickboot.exe on one table of machine set-ups: for every row both
// answer the same exit code, the companion's verdict names the cause, its JSON form parses and
// holds the same verdict, and it neither writes the state word nor changes the key.
#include <windows.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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
constexpr DWORD kTimeoutMs = 20000;
constexpr int kFailed = 100;
constexpr size_t kMaxVerdictBytes = 299;

const std::string kBin = ThisProgramDirectory();
const std::string kQuickboot = kBin + "\\quickboot.exe";
const std::string kDiag = kBin + "\\quickboot-diag.exe";
const std::string kWork =
    TemporaryDirectory() + "\\qb-diag-" + std::to_string(GetCurrentProcessId());
const std::string kFolderDll = kWork + "\\folder.dll";
const std::string kTextDll = kWork + "\\notes.dll";
const std::string kLogPath = kWork + "\\ctlsim.log";

// Where a set-up may put the control key.
struct Place {
  HKEY root;
  REGSAM view;
};
const Place kMachine64 = {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};
const Place kMachine32 = {HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};
const Place kCurrentUser = {HKEY_CURRENT_USER, 0};

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

struct ProgramRun {
  LaunchResult launch;
  std::vector<std::string> log;  // the simulated library's events
};

ProgramRun RunProgram(const std::string& program, const std::string& commandLine,
                      const Simulation& simulation) {
  DeleteFileA(kLogPath.c_str());
  ProgramRun run;
  {
    const ScopedSimulation simulated(simulation, kLogPath);
    run.launch = LaunchProgram(program, commandLine, kWork, kTimeoutMs);
  }
  run.log = ReadLines(kLogPath);
  EXPECT_TRUE(run.launch.started) << "error " << run.launch.launchError;
  EXPECT_FALSE(run.launch.timedOut);
  return run;
}

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string AnsiToUtf8(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(
      static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                              &wide[0], static_cast<int>(wide.size()))));
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(static_cast<size_t>(
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0],
                          static_cast<int>(utf8.size()), nullptr, nullptr)));
  return utf8;
}

// One machine: the control key where quickboot.exe reads it and, by mistake, elsewhere.
struct Machine {
  Machine(KeyContent key, Simulation simulation = {}, KeyContent key32 = std::nullopt,
          KeyContent currentUserKey = std::nullopt)
      : key(std::move(key)),
        simulation(simulation),
        key32(std::move(key32)),
        currentUserKey(std::move(currentUserKey)) {}

  KeyContent key;
  Simulation simulation;
  KeyContent key32;
  KeyContent currentUserKey;
};

struct Row {
  const char* name;
  Machine machine;
  int exitCode;
  const char* cause;  // the JSON "cause"
  const char* words;  // in the verdict
};

class DiagTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryA(kWork.c_str(), nullptr);
    CreateDirectoryA(kFolderDll.c_str(), nullptr);
    if (FILE* file = std::fopen(kTextDll.c_str(), "wb")) {
      std::fputs("not a library\r\n", file);
      std::fclose(file);
    }
  }
  static void TearDownTestSuite() {
    DeleteFileA(kTextDll.c_str());
    DeleteFileA(kLogPath.c_str());
    RemoveDirectoryA(kFolderDll.c_str());
    RemoveDirectoryA(kWork.c_str());
  }
  void TearDown() override {
    EXPECT_TRUE(WriteKey(kMachine64.root, kControlKey, kMachine64.view, savedKey_));
  }

  // Runs the row through both programs and checks them; answers the JSON report.
  Json Check(const Row& row) {
    SCOPED_TRACE(row.name);
    const Machine& machine = row.machine;
    EXPECT_TRUE(WriteKey(kMachine64.root, kControlKey, kMachine64.view, machine.key));
    const ScopedStrayKeys strayKeys(machine.key32, machine.currentUserKey);
    EXPECT_TRUE(strayKeys.Written());
    const KeyContent written = ReadKey(kMachine64.root, kControlKey, kMachine64.view);

    const ProgramRun product = RunProgram(kQuickboot, "quickboot.exe /g", machine.simulation);
    const ProgramRun text = RunProgram(kDiag, "quickboot-diag.exe", machine.simulation);
    const ProgramRun json = RunProgram(kDiag, "quickboot-diag.exe --json", machine.simulation);
    const Json report = Json::parse(json.launch.standardOutput, nullptr, false);

    EXPECT_EQ(product.launch.exitCode, static_cast<DWORD>(row.exitCode));
    for (const ProgramRun* run : {&text, &json}) {
      EXPECT_EQ(run->launch.exitCode, product.launch.exitCode);
      EXPECT_EQ(run->launch.standardError, "");
      // It reads the state word at most once and never writes it.
      int reads = 0;
      for (const std::string& event : run->log) {
        EXPECT_EQ(event.rfind("call 1 1", 0), std::string::npos) << "the companion wrote";
        reads += event == "call 1 0 0" ? 1 : 0;
      }
      EXPECT_LE(reads, 1);
    }
    EXPECT_EQ(ReadKey(kMachine64.root, kControlKey, kMachine64.view), written);

    const std::string verdict = FirstLine(text.launch.standardOutput);
    EXPECT_EQ(verdict.rfind("quickboot-diag: " + std::to_string(row.exitCode) + ": ", 0), 0u)
        << verdict;
    EXPECT_NE(verdict.find(row.words), std::string::npos) << verdict;
    EXPECT_LE(verdict.size(), kMaxVerdictBytes);
    EXPECT_GT(text.launch.standardOutput.size(), verdict.size() + 2) << "no step report";

    EXPECT_FALSE(report.is_discarded()) << json.launch.standardOutput;
    if (report.is_discarded()) return report;
    EXPECT_EQ(report.value("verdict", ""), AnsiToUtf8(verdict));
    EXPECT_EQ(report.value("cause", ""), row.cause);
    EXPECT_EQ(report.value("exit_code", -1), row.exitCode);
    EXPECT_EQ(report["process"].value("ansi_code_page", 0u), GetACP());
    return report;
  }

 private:
  const KeyContent savedKey_ = ReadKey(kMachine64.root, kControlKey, kMachine64.view);
};

TEST_F(DiagTest, NamesTheCauseOfEveryAnswer) {
  const std::string tooLong = kBin + "\\" + std::string(520, 'a');
  const Simulation stateOff = {"0"};
  const Row rows[] = {
      {"no key", {std::nullopt}, kFailed, "key_missing", "does not exist"},
      {"only in the 32-bit view",
       {std::nullopt, stateOff, Installed()},
       kFailed,
       "only_32bit_view",
       "32-bit registry view (WOW6432Node)"},
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
       "is a directory"},
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
      {"no GetVersionInfo",
       {Installed(Text("ctlsim_noversion.dll"))},
       kFailed,
       "export_missing",
       "does not export GetVersionInfo"},
      {"no CtrlQuickBoot",
       {Installed(Text("ctlsim_nocontrol.dll"))},
       kFailed,
       "export_missing",
       "does not export CtrlQuickBoot"},
      {"start-up refuses",
       {Installed(), {"0", nullptr, nullptr, nullptr, "fail"}},
       kFailed,
       "start_up_failed",
       "start-up code (DllMain) refused"},
      {"crash in start-up",
       {Installed(), {"0", nullptr, nullptr, "attach"}},
       kFailed,
       "library_crashed",
       "crashed while starting: exception 0xC0000005"},
      {"crash in the read call",
       {Installed(), {"0", nullptr, nullptr, "call"}},
       kFailed,
       "library_crashed",
       "crashed in CtrlQuickBoot: exception 0xC0000005"},
      {"library unloads itself in the read call",
       {Installed(), {"2", nullptr, nullptr, "unload"}},
       kFailed,
       "library_crashed",
       "crashed in CtrlQuickBoot: exception 0xC0000005"},
      {"read status 5",
       {Installed(), {"2", "5"}},
       kFailed,
       "read_failed",
       "could not read the state: status 5"},
      {"state 0", {Installed(), {"0"}}, 0, "quick_boot_off", "quick boot is off"},
      {"state 2", {Installed(), {"2"}}, 1, "quick_boot_on", "quick boot is on"},
  };
  for (const Row& row : rows) Check(row);
}

// On code page 932 the path passes through as double-byte text: U+8868 is 0x95 0x5C, whose trail
// byte looks like a backslash; the JSON form carries it as UTF-8.
TEST_F(DiagTest, CarriesDoubleByteTextIntoTheReport) {
  char expected[16] = "";
  GetEnvironmentVariableA("QB_EXPECT_ACP", expected, sizeof(expected));
  if (GetACP() != 932) {
    ASSERT_STRNE(expected, "932") << "the run asked for code page 932 but has " << GetACP();
    GTEST_SKIP() << "needs the double-byte code page 932";
  }
  const Json report = Check({"double-byte directory",
                             {Installed(Text("..\\ctlsim.dll"), Text(kBin + "\\\x95\x5C")), {"2"}},
                             1,
                             "quick_boot_on",
                             "quick boot is on"});
  ASSERT_FALSE(report.is_discarded());
  EXPECT_EQ(report["path"].value("text", ""), kBin + "\\\xE8\xA1\xA8\\..\\ctlsim.dll");
}

TEST(DiagOptionsTest, AnswersItsOptions) {
  struct Row {
    const char* commandLine;
    int exitCode;
    const char* output;  // the first line of standard output
    bool error;          // something on standard error
  };
  const Row rows[] = {
      {"quickboot-diag.exe --help", 0, "usage: quickboot-diag.exe [--json]", false},
      {"quickboot-diag.exe /?", 0, "usage: quickboot-diag.exe [--json]", false},
      {"quickboot-diag.exe --version", 0, "quickboot-diag " QB_VERSION_TEXT, false},
      {"quickboot-diag.exe --jsn", 2, "", true},
      {"quickboot-diag.exe --json --json", 2, "", true},
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
