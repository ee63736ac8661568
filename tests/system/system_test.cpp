// quickboot.exe as its callers see it: started with an exact command line, with the control
// library recorded in the registry, answering only through its exit code. The simulated control
// library (ctlsim*.dll) stands in for the real one and logs what was done to it.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/launcher/launch.h"

namespace {

constexpr char kControlKey[] = "SOFTWARE\\Vantrel\\ZKT05B9";
constexpr REGSAM kView = KEY_WOW64_64KEY;
constexpr DWORD kTimeoutMs = 20000;
constexpr int kFailed = 100;

// ---- Registry --------------------------------------------------------------------------

// One registry value as stored: its type and raw bytes (terminating NULs included).
struct RegistryValue {
  DWORD type = REG_NONE;
  std::string data;
  bool operator==(const RegistryValue& other) const {
    return type == other.type && data == other.data;
  }
};

RegistryValue Text(const std::string& text, DWORD type = REG_SZ) {
  return {type, text + '\0'};
}

RegistryValue MultiText(const std::vector<std::string>& texts) {
  RegistryValue value{REG_MULTI_SZ, std::string()};
  for (const std::string& text : texts) value.data += text + '\0';
  value.data += '\0';
  return value;
}

RegistryValue Number(DWORD number) {
  return {REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof(number))};
}

// What the control key holds: absent, or present with these values.
struct KeyContent {
  bool present = false;
  std::map<std::string, RegistryValue> values;
  bool operator==(const KeyContent& other) const {
    return present == other.present && values == other.values;
  }
};

class ScopedKey {
 public:
  ScopedKey() = default;
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() {
    if (key_) RegCloseKey(key_);
  }
  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

KeyContent ReadControlKey() {
  KeyContent content;
  ScopedKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kControlKey, 0, KEY_READ | kView, key.Receive()) !=
      ERROR_SUCCESS) {
    return content;
  }
  content.present = true;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD nameLength = sizeof(name);
    DWORD type = REG_NONE;
    std::vector<BYTE> data(4096);
    DWORD dataSize = static_cast<DWORD>(data.size());
    if (RegEnumValueA(key.Get(), index, name, &nameLength, nullptr, &type, data.data(),
                      &dataSize) != ERROR_SUCCESS) {
      break;
    }
    content.values[std::string(name, nameLength)] = {
        type, std::string(reinterpret_cast<const char*>(data.data()), dataSize)};
  }
  return content;
}

void DeleteControlKey() {
  RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kControlKey, kView, 0);
}

void WriteControlKey(const KeyContent& content) {
  DeleteControlKey();
  if (!content.present) return;
  ScopedKey key;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kControlKey, 0, nullptr, 0, KEY_WRITE | kView,
                            nullptr, key.Receive(), nullptr),
            ERROR_SUCCESS);
  for (const auto& entry : content.values) {
    const RegistryValue& value = entry.second;
    ASSERT_EQ(RegSetValueExA(key.Get(), entry.first.c_str(), 0, value.type,
                             reinterpret_cast<const BYTE*>(value.data.data()),
                             static_cast<DWORD>(value.data.size())),
              ERROR_SUCCESS);
  }
}

// Keeps whatever the key held before a test and puts it back afterwards.
class ScopedControlKey {
 public:
  ScopedControlKey() : saved_(ReadControlKey()) {}
  ScopedControlKey(const ScopedControlKey&) = delete;
  ScopedControlKey& operator=(const ScopedControlKey&) = delete;
  ~ScopedControlKey() { WriteControlKey(saved_); }

 private:
  KeyContent saved_;
};

KeyContent NoKey() {
  return KeyContent();
}

KeyContent Key(const std::map<std::string, RegistryValue>& values) {
  return {true, values};
}

// ---- Files -----------------------------------------------------------------------------

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string TemporaryDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof(path), path);
  std::string directory(path, length);
  if (!directory.empty() && directory.back() == '\\') directory.pop_back();
  return directory;
}

// ---- Runs ------------------------------------------------------------------------------

// How the simulated library behaves in one run; a null entry leaves the variable unset.
struct Simulation {
  const char* state = "0";
  const char* readStatus = nullptr;
  const char* writeStatus = nullptr;
  const char* crash = nullptr;
};

using Log = std::vector<std::string>;

const Log kNotLoaded = {};
const Log kLoadedUncalled = {"attach", "detach FreeLibrary"};
const Log kReadOnly = {"attach", "call 1 0 0", "detach FreeLibrary"};

Log ReadThenWrite(const std::string& value) {
  return {"attach", "call 1 0 0", "call 1 1 " + value, "detach FreeLibrary"};
}

struct Outcome {
  LaunchResult launch;
  Log log;
};

class SystemTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CreateDirectoryA(Work().c_str(), nullptr);
    CreateDirectoryA(BlankDirectory().c_str(), nullptr);
    CreateDirectoryA(FolderNamedLikeALibrary().c_str(), nullptr);
    CopyFileA(Quickboot().c_str(), BlankDirectoryQuickboot().c_str(), FALSE);
  }

  static void TearDownTestSuite() {
    DeleteFileA(BlankDirectoryQuickboot().c_str());
    DeleteFileA(LogPath().c_str());
    RemoveDirectoryA(FolderNamedLikeALibrary().c_str());
    RemoveDirectoryA(BlankDirectory().c_str());
    RemoveDirectoryA(Work().c_str());
  }

  // The tests, quickboot.exe and the ctlsim libraries lie side by side.
  static const std::string& Bin() {
    static const std::string bin = ThisProgramDirectory();
    return bin;
  }
  // A scratch directory of this run, for the log and the odd paths.
  static const std::string& Work() {
    static const std::string work =
        TemporaryDirectory() + "\\qb-system-" + std::to_string(GetCurrentProcessId());
    return work;
  }
  static std::string Quickboot() { return Bin() + "\\quickboot.exe"; }
  static std::string BlankDirectory() { return Work() + "\\dir with blanks"; }
  static std::string BlankDirectoryQuickboot() { return BlankDirectory() + "\\quickboot.exe"; }
  static std::string FolderNamedLikeALibrary() { return Work() + "\\folder.dll"; }
  static std::string LogPath() { return Work() + "\\ctlsim.log"; }

  // The usual installation: ctlsim.dll beside the tests.
  static KeyContent Installed(const std::string& dllName = "ctlsim.dll") {
    return Key({{"InstPath", Text(Bin())}, {"DllName", Text(dllName)}});
  }

  // Writes the key, runs the program in `directory` (the work directory unless given, so the
  // library is never found by accident), and checks the key was left as written.
  Outcome Run(const KeyContent& key, const std::string& commandLine,
              const Simulation& simulation = Simulation(), const std::string& program = "",
              const std::string& directory = "") {
    WriteControlKey(key);
    if (HasFatalFailure()) return Outcome();
    const KeyContent written = ReadControlKey();
    DeleteFileA(LogPath().c_str());

    ScopedEnvironmentVariable state("CTLSIM_STATE", simulation.state);
    ScopedEnvironmentVariable readStatus("CTLSIM_READ_STATUS", simulation.readStatus);
    ScopedEnvironmentVariable writeStatus("CTLSIM_WRITE_STATUS", simulation.writeStatus);
    ScopedEnvironmentVariable crash("CTLSIM_CRASH", simulation.crash);
    ScopedEnvironmentVariable log("CTLSIM_LOG", LogPath().c_str());

    Outcome outcome;
    outcome.launch = LaunchProgram(program.empty() ? Quickboot() : program, commandLine,
                                   directory.empty() ? Work() : directory, kTimeoutMs);
    outcome.log = ReadLines(LogPath());
    EXPECT_TRUE(ReadControlKey() == written) << "the program changed the control key";
    return outcome;
  }

  // Ended on its own, in silence, with `exitCode`.
  static void ExpectQuietExit(const Outcome& outcome, int exitCode) {
    ASSERT_TRUE(outcome.launch.started) << "error " << outcome.launch.launchError;
    EXPECT_FALSE(outcome.launch.timedOut);
    EXPECT_EQ(outcome.launch.exitCode, static_cast<DWORD>(exitCode));
    EXPECT_EQ(outcome.launch.standardOutput, "");
    EXPECT_EQ(outcome.launch.standardError, "");
  }

  static void ExpectRun(const Outcome& outcome, int exitCode, const Log& log) {
    ExpectQuietExit(outcome, exitCode);
    EXPECT_EQ(outcome.log, log);
  }

 private:
  ScopedControlKey savedKey_;
};

std::string Printed(const std::string& text) {
  return ::testing::PrintToString(text);
}

// ---- Command line ----------------------------------------------------------------------

TEST_F(SystemTest, CutsTheTailFromTheRealCommandLine) {
  struct Row {
    const char* commandLine;
    int exitCode;
    Log log;
  };
  // Quick boot is on (state 2): a recognised "/g" answers 1, anything unrecognised 0.
  const Row rows[] = {
      {"quickboot.exe /g", 1, kReadOnly},
      {"quickboot.exe /G", 1, kReadOnly},
      {"quickboot.exe  /g", 1, kReadOnly},
      {"quickboot.exe \t \t/g", 1, kReadOnly},
      {"quickboot.exe\t/g", 1, kReadOnly},
      {"C:\\Program Files\\quickboot.exe /g", 0, kReadOnly},  // the name ends at "C:\Program"
      {"\"C:\\Program Files\\quickboot.exe\" /g", 1, kReadOnly},
      {"\"quick\"boot.exe /g", 1, kReadOnly},
      {"\"quickboot.exe /g\"", 0, kReadOnly},
      {"\"quickboot.exe\"/g", 0, kReadOnly},
      {"quickboot.exe /g ", 0, kReadOnly},
      {"quickboot.exe /g\t", 0, kReadOnly},
      {"quickboot.exe /g /1", 0, kReadOnly},
      {"quickboot.exe \"/g\"", 0, kReadOnly},
      {"quickboot.exe", 0, kReadOnly},
      {"quickboot.exe  ", 0, kReadOnly},
      {"quickboot.exe /x", 0, kReadOnly},
      {"quickboot.exe g", 0, kReadOnly},
      {"quickboot.exe /1", 0, ReadThenWrite("2")},
      {"quickboot.exe /1 ", 0, kReadOnly},
      {"quickboot.exe /0", 0, ReadThenWrite("0")},
      {"quickboot.exe  /0", 0, ReadThenWrite("0")},
      {"quickboot.exe /0 /1", 0, kReadOnly},
  };
  Simulation on;
  on.state = "2";
  for (const Row& row : rows) {
    SCOPED_TRACE(Printed(row.commandLine));
    ExpectRun(Run(Installed(), row.commandLine, on), row.exitCode, row.log);
  }
}

TEST_F(SystemTest, RunsFromAQuotedPathWithBlanks) {
  struct Row {
    std::string commandLine;
    int exitCode;
    Log log;
  };
  const std::string quoted = "\"" + BlankDirectoryQuickboot() + "\"";
  const Row rows[] = {
      {quoted + " /g", 1, kReadOnly},
      {quoted + "  /1", 0, ReadThenWrite("2")},
      {quoted + "/g", 0, kReadOnly},  // glued to the quote: part of the name, the tail is empty
      {BlankDirectoryQuickboot() + " /g", 0, kReadOnly},  // unquoted: the tail starts in the path
  };
  Simulation on;
  on.state = "2";
  for (const Row& row : rows) {
    SCOPED_TRACE(Printed(row.commandLine));
    ExpectRun(Run(Installed(), row.commandLine, on, BlankDirectoryQuickboot()), row.exitCode,
              row.log);
  }
}

// ---- State word ------------------------------------------------------------------------

TEST_F(SystemTest, ReadAnswersTheQuickBootBit) {
  struct Row {
    const char* state;
    int exitCode;
  };
  const Row rows[] = {{"0", 0}, {"1", 0}, {"2", 1},          {"3", 1},
                      {"5", 0}, {"7", 1}, {"0xFFFFFFFD", 0}, {"0xFFFFFFFF", 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.state);
    Simulation simulation;
    simulation.state = row.state;
    ExpectRun(Run(Installed(), "quickboot.exe /g", simulation), row.exitCode, kReadOnly);
  }
}

TEST_F(SystemTest, WriteSetsTheBitOrClearsTheWholeWord) {
  struct Row {
    const char* tail;
    const char* state;
    const char* written;
  };
  const Row rows[] = {
      {"/1", "5", "7"},
      {"/1", "0", "2"},
      {"/1", "2", "2"},
      {"/1", "0xFFFFFFFF", "4294967295"},
      {"/1", "0x80000000", "2147483650"},
      {"/0", "7", "0"},
      {"/0", "5", "0"},
      {"/0", "0", "0"},
      {"/0", "0xFFFFFFFF", "0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.tail) + " with state " + row.state);
    Simulation simulation;
    simulation.state = row.state;
    ExpectRun(Run(Installed(), std::string("quickboot.exe ") + row.tail, simulation), 0,
              ReadThenWrite(row.written));
  }
}

// ---- Failing library calls -------------------------------------------------------------

TEST_F(SystemTest, FailedReadEndsWith100WithoutWriting) {
  for (const char* status : {"1", "0xFFFFFFFF"}) {
    for (const char* tail : {"/g", "/1", "/0", "", "/x"}) {
      SCOPED_TRACE(std::string(tail) + " with read status " + status);
      Simulation simulation;
      simulation.state = "2";
      simulation.readStatus = status;
      ExpectRun(Run(Installed(), std::string("quickboot.exe ") + tail, simulation), kFailed,
                kReadOnly);
    }
  }
}

TEST_F(SystemTest, FailedWriteEndsWith100) {
  struct Row {
    const char* tail;
    int exitCode;
    Log log;
  };
  const Row rows[] = {
      {"/1", kFailed, ReadThenWrite("7")},
      {"/0", kFailed, ReadThenWrite("0")},
      {"/g", 0, kReadOnly},  // nothing written, so the write status does not matter
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.tail);
    Simulation simulation;
    simulation.state = "5";
    simulation.writeStatus = "5";
    ExpectRun(Run(Installed(), std::string("quickboot.exe ") + row.tail, simulation), row.exitCode,
              row.log);
  }
}

TEST_F(SystemTest, CrashInTheLibraryEndsWith100InSilence) {
  for (const char* tail : {"/g", "/1", "/0"}) {
    SCOPED_TRACE(tail);
    Simulation simulation;
    simulation.crash = "call";
    // Ended on the spot: no write, and no unload after the crash.
    ExpectRun(Run(Installed(), std::string("quickboot.exe ") + tail, simulation), kFailed,
              Log({"attach", "call 1 0 0"}));
  }
  for (const char* tail : {"/g", "/1"}) {
    SCOPED_TRACE(std::string(tail) + " with a crash while loading");
    Simulation simulation;
    simulation.crash = "attach";
    const Outcome outcome = Run(Installed(), std::string("quickboot.exe ") + tail, simulation);
    ExpectQuietExit(outcome, kFailed);
    // Whether the loader reports the failed attach with a detach differs between systems.
    ASSERT_FALSE(outcome.log.empty());
    EXPECT_EQ(outcome.log.front(), "attach");
    for (const std::string& line : outcome.log) EXPECT_EQ(line.rfind("call", 0), std::string::npos);
  }
}

// ---- Locating and loading the library --------------------------------------------------

TEST_F(SystemTest, LibraryWithoutAnEntryPointIsUnloadedUncalled) {
  for (const char* dllName : {"ctlsim_noversion.dll", "ctlsim_nocontrol.dll"}) {
    for (const char* tail : {"/g", "/1", "/0", ""}) {
      SCOPED_TRACE(std::string(dllName) + " " + tail);
      ExpectRun(Run(Installed(dllName), std::string("quickboot.exe ") + tail), kFailed,
                kLoadedUncalled);
    }
  }
}

TEST_F(SystemTest, DirectoryAsLibraryPathEndsWith100) {
  const KeyContent keys[] = {
      Key({{"InstPath", Text(Bin())}}),                                    // path is bin + "\"
      Key({{"InstPath", Text(Bin())}, {"DllName", Text("")}}),             // the same
      Key({{"InstPath", Text(Work())}, {"DllName", Text("folder.dll")}}),  // a directory
      Key({{"DllName", Text(FolderNamedLikeALibrary())}}),
  };
  for (const KeyContent& key : keys) {
    for (const char* tail : {"/g", ""}) {
      SCOPED_TRACE(::testing::PrintToString(key.values.size()) + " values, tail " + tail);
      ExpectRun(Run(key, std::string("quickboot.exe ") + tail), kFailed, kNotLoaded);
    }
  }
}

TEST_F(SystemTest, NoLibraryEndsWith100ForEveryTail) {
  const KeyContent keys[] = {
      NoKey(),
      Key({}),
      Key({{"InstPath", Text("")}, {"DllName", Text("")}}),
      Key({{"InstPath", Text(Bin())}, {"DllName", Text("absent.dll")}}),
      Key({{"InstPath", Text(Work() + "\\absent")}, {"DllName", Text("ctlsim.dll")}}),
  };
  int keyIndex = 0;
  for (const KeyContent& key : keys) {
    for (const char* tail : {"/g", "/1", "/0", "", "/x", "/g "}) {
      SCOPED_TRACE("key " + std::to_string(keyIndex) + ", tail " + Printed(tail));
      ExpectRun(Run(key, std::string("quickboot.exe ") + tail), kFailed, kNotLoaded);
    }
    ++keyIndex;
  }
}

TEST_F(SystemTest, FindsTheLibraryThroughTheRegistry) {
  struct Row {
    const char* what;
    KeyContent key;
    bool runInBin;  // otherwise in the work directory, where no library lies
    int exitCode;
    Log log;
  };
  const Row rows[] = {
      {"directory and name", Installed(), false, 1, kReadOnly},
      {"directory ending in a backslash",
       Key({{"InstPath", Text(Bin() + "\\")}, {"DllName", Text("ctlsim.dll")}}), false, 1,
       kReadOnly},
      {"expandable directory text",
       Key({{"InstPath", Text(Bin(), REG_EXPAND_SZ)}, {"DllName", Text("ctlsim.dll")}}), false, 1,
       kReadOnly},
      {"first of several names",
       Key({{"InstPath", Text(Bin())}, {"DllName", MultiText({"ctlsim.dll", "absent.dll"})}}),
       false, 1, kReadOnly},
      {"first of several names, without an entry point",
       Key({{"InstPath", Text(Bin())},
            {"DllName", MultiText({"ctlsim_nocontrol.dll", "ctlsim.dll"})}}),
       false, kFailed, kLoadedUncalled},
      {"bare name, run beside it", Key({{"DllName", Text("ctlsim.dll")}}), true, 1, kReadOnly},
      {"bare name, run elsewhere", Key({{"DllName", Text("ctlsim.dll")}}), false, kFailed,
       kNotLoaded},
      {"directory of the wrong type, run beside it",
       Key({{"InstPath", Number(7)}, {"DllName", Text("ctlsim.dll")}}), true, 1, kReadOnly},
      {"name missing", Key({{"InstPath", Text(Bin())}}), true, kFailed, kNotLoaded},
      {"key missing", NoKey(), true, kFailed, kNotLoaded},
  };
  Simulation on;
  on.state = "2";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ExpectRun(Run(row.key, "quickboot.exe /g", on, "", row.runInBin ? Bin() : ""), row.exitCode,
              row.log);
  }
}

// ---- Double-byte code page -------------------------------------------------------------

TEST_F(SystemTest, DirectoryEndingInATrailByteBackslashGetsASeparator) {
  char expected[16] = "";
  GetEnvironmentVariableA("QB_EXPECT_ACP", expected, sizeof(expected));
  if (GetACP() != 932) {
    ASSERT_STRNE(expected, "932") << "the run asked for code page 932 but has " << GetACP();
    GTEST_SKIP() << "needs the double-byte code page 932";
  }
  // U+8868 is 0x95 0x5C in code page 932: its trail byte looks like a backslash. The directory
  // need not exist: with the separator the path is <dir>\..\ctlsim.dll, which resolves to the
  // library beside the tests; without it, <dir>..\ctlsim.dll names nothing.
  const std::string directory = Bin() + "\\\x95\x5C";
  Simulation on;
  on.state = "2";
  for (const std::string& instPath : {directory, directory + "\\"}) {
    SCOPED_TRACE(Printed(instPath));
    ExpectRun(Run(Key({{"InstPath", Text(instPath)}, {"DllName", Text("..\\ctlsim.dll")}}),
                  "quickboot.exe /g", on),
              1, kReadOnly);
  }
}

}  // namespace
