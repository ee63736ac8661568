// quickboot.exe as its callers see it: started with an exact command line, with the control
// library recorded in the registry, answering only through its exit code. The simulated control
// library (ctlsim*.dll) stands in for the real one and logs what was done to it.
#include <windows.h>

#include <gtest/gtest.h>

#include <sddl.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/launcher/launch.h"
#include "tests/support/test_files.h"
#include "tests/support/test_registry.h"
#include "tests/support/test_simulation.h"

namespace {

using namespace std::string_literals;  // "..."s keeps embedded NULs

constexpr REGSAM kView = KEY_WOW64_64KEY;
constexpr DWORD kTimeoutMs = 20000;
constexpr int kFailed = 100;
constexpr UINT kNoDialogs = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX;

// The tests, quickboot.exe and the ctlsim libraries lie side by side in kBin. Runs start in
// the scratch directory kWork, where no library lies, unless a case says otherwise.
const std::string kBin = ThisProgramDirectory();
const std::string kQuickboot = kBin + "\\quickboot.exe";
const std::string kWork =
    TemporaryDirectory() + "\\qb-system-" + std::to_string(GetCurrentProcessId());
const std::string kBlankDirectory = kWork + "\\dir with blanks";
const std::string kBlankQuickboot = kBlankDirectory + "\\quickboot.exe";
const std::string kFolderDll = kWork + "\\folder.dll";
// A current directory that holds ctlsim_needshelper.dll and its dependency qbhelper.dll, which
// lies nowhere else.
const std::string kHelperDirectory = kWork + "\\helper";
const std::string kHelperFiles[][2] = {
    {kBin + "\\elsewhere\\qbhelper.dll", kHelperDirectory + "\\qbhelper.dll"},
    {kBin + "\\ctlsim_needshelper.dll", kHelperDirectory + "\\ctlsim_needshelper.dll"}};
const std::string kLogPath = kWork + "\\ctlsim.log";
const std::string kErrorModeLogPath = kWork + "\\ctlsim-error-mode.log";
// A folder named with bytes above 0x7F: double-byte characters under code page 932 (the middle
// one with a trail byte of 0x5C), accented letters under code page 1252.
const std::string kHighByteDirectory =
    kWork + (GetACP() == 932 ? "\\\x83\x5C\x83\x74\x83\x67" : "\\caf\xE9\xC0");
const std::string kHighByteQuickboot = kHighByteDirectory + "\\quickboot.exe";

Values Installed(const RegistryValue& dllName = Text("ctlsim.dll"),
                 const RegistryValue& instPath = Text(kBin)) {
  return {{"InstPath", instPath}, {"DllName", dllName}};
}

KeyContent ReadControlKey() {
  return ReadKey(HKEY_LOCAL_MACHINE, kControlKey, kView);
}

void WriteControlKey(const KeyContent& content) {
  ASSERT_TRUE(WriteKey(HKEY_LOCAL_MACHINE, kControlKey, kView, content));
}

using Log = std::vector<std::string>;  // the simulated library's log, one line per event

const Log kNotLoaded = {};
const Log kLoadedUncalled = {"attach", "detach FreeLibrary"};
const Log kReadOnly = {"attach", "call 1 0 0", "detach FreeLibrary"};

Log ReadThenWrite(const std::string& value) {
  return {"attach", "call 1 0 0", "call 1 1 " + value, "detach FreeLibrary"};
}

std::string Line(const char* tail) {
  return "quickboot.exe "s + tail;
}

class SystemTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const std::string& directory :
         {kWork, kBlankDirectory, kFolderDll, kHighByteDirectory, kHelperDirectory}) {
      CreateDirectoryA(directory.c_str(), nullptr);
    }
    for (const auto& [from, to] : kHelperFiles) CopyFileA(from.c_str(), to.c_str(), FALSE);
    CopyFileA(kQuickboot.c_str(), kBlankQuickboot.c_str(), FALSE);
    CopyFileA(kQuickboot.c_str(), kHighByteQuickboot.c_str(), FALSE);
  }
  static void TearDownTestSuite() {
    for (const std::string& file :
         {kBlankQuickboot, kHighByteQuickboot, kLogPath, kErrorModeLogPath}) {
      DeleteFileA(file.c_str());
    }
    for (const auto& [from, to] : kHelperFiles) DeleteFileA(to.c_str());
    for (const std::string& directory :
         {kFolderDll, kBlankDirectory, kHighByteDirectory, kHelperDirectory, kWork}) {
      RemoveDirectoryA(directory.c_str());
    }
  }
  void TearDown() override {
    if (keyAccess_) RestrictControlKey("D:(A;;KA;;;WD)");
    WriteControlKey(savedKey_);
  }

  // Replaces the control key's access list by the one given in SDDL.
  static void RestrictControlKey(const char* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    OpenKey key;
    const LONG opened =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kControlKey, 0, WRITE_DAC | kView, &key.handle);
    const LONG set = opened == ERROR_SUCCESS
                         ? RegSetKeySecurity(key.handle, DACL_SECURITY_INFORMATION, descriptor)
                         : opened;
    LocalFree(descriptor);
    ASSERT_EQ(set, ERROR_SUCCESS);
  }

  const char* keyAccess_ = nullptr;  // SDDL applied to the key Expect writes; null: as created

  // Writes the key, runs `program` with `commandLine` in `directory` and checks that it ended
  // by itself, in silence, with `exitCode`, left the key as written and, when `log` is given,
  // did exactly that to the library. Returns the library's log.
  Log Expect(const KeyContent& key, const std::string& commandLine, const Simulation& simulation,
             int exitCode, const std::optional<Log>& log, const std::string& directory = kWork,
             const std::string& program = kQuickboot) {
    SCOPED_TRACE(::testing::Message()
                 << ::testing::PrintToString(commandLine) << " in " << directory << ", state "
                 << simulation.state << ", read status " << simulation.readStatus
                 << ", write status " << simulation.writeStatus << ", crash " << simulation.crash
                 << ", key " << ::testing::PrintToString(key));
    WriteControlKey(key);
    if (keyAccess_) RestrictControlKey(keyAccess_);
    if (HasFatalFailure()) return {};
    const KeyContent written = ReadControlKey();
    DeleteFileA(kLogPath.c_str());
    DeleteFileA(kErrorModeLogPath.c_str());
    LaunchResult launch;
    {
      const ScopedSimulation simulated(simulation, kLogPath, kErrorModeLogPath.c_str());
      launch = LaunchProgram(program, commandLine, directory, kTimeoutMs);
    }
    const Log actual = ReadLines(kLogPath);
    EXPECT_TRUE(launch.started) << "error " << launch.launchError;
    EXPECT_FALSE(launch.timedOut);
    EXPECT_EQ(launch.exitCode, static_cast<DWORD>(exitCode));
    EXPECT_EQ(launch.standardOutput, "");
    EXPECT_EQ(launch.standardError, "");
    if (log) {
      EXPECT_EQ(actual, *log);
    }
    // Dialogs for critical errors and faults were off before the library was loaded and stayed
    // off: the library recorded the process error mode at its load and at each call.
    const Log modes = ReadLines(kErrorModeLogPath);
    EXPECT_EQ(modes.size(), static_cast<size_t>(std::count_if(
                                actual.begin(), actual.end(), [](const std::string& line) {
                                  return line == "attach" || line.rfind("call ", 0) == 0;
                                })));
    for (const std::string& line : modes) {
      const UINT mode = std::strtoul(line.c_str() + line.find(' '), nullptr, 16);
      EXPECT_EQ(mode & kNoDialogs, kNoDialogs) << line;
    }
    EXPECT_EQ(ReadControlKey(), written) << "the program changed the control key";
    return actual;
  }

 private:
  const KeyContent savedKey_ = ReadControlKey();
};

// Quick boot is on, so a recognised "/g" answers 1 and anything unrecognised 0, unwritten.
TEST_F(SystemTest, CutsTheTailFromTheRealCommandLine) {
  const std::string quoted = "\"" + kBlankQuickboot + "\"";
  const std::string recognisedRead[] = {
      "quickboot.exe /g",      "quickboot.exe /G",  "quickboot.exe  /g",
      "quickboot.exe \t \t/g", "quickboot.exe\t/g", "\"C:\\Program Files\\quickboot.exe\" /g",
      "\"quick\"boot.exe /g",  quoted + " /g"};
  // Not recognised: a name that ends at "C:\Program", tails glued to the closing quote, and
  // tails that are not exactly one switch.
  const std::vector<std::string> unrecognised = {"C:\\Program Files\\quickboot.exe /g",
                                                 "\"quickboot.exe /g\"", "\"quickboot.exe\"/g",
                                                 quoted + "/g", kBlankQuickboot + " /g"};
  const std::vector<std::string> unrecognisedTail = {
      "quickboot.exe /g ", "quickboot.exe /g\t", "quickboot.exe /g /1", "quickboot.exe \"/g\"",
      "quickboot.exe",     "quickboot.exe  ",    "quickboot.exe /x",    "quickboot.exe g",
      "quickboot.exe /1 ", "quickboot.exe /0 /1"};
  const std::pair<std::string, const char*> recognisedWrite[] = {{"quickboot.exe /1", "2"},
                                                                 {"quickboot.exe /0", "0"},
                                                                 {"quickboot.exe  /0", "0"},
                                                                 {quoted + "  /1", "2"}};
  for (const std::string& line : recognisedRead) {
    Expect(Installed(), line, {"2"}, 1, kReadOnly, kWork, kBlankQuickboot);
  }
  // A name with bytes above 0x7F ends only at a blank, quoted or not.
  for (const std::string& line :
       {kHighByteQuickboot + " /g", "\"" + kHighByteQuickboot + "\" /g"}) {
    Expect(Installed(), line, {"2"}, 1, kReadOnly, kWork, kHighByteQuickboot);
  }
  for (const std::vector<std::string>& lines : {unrecognised, unrecognisedTail}) {
    for (const std::string& line : lines) {
      Expect(Installed(), line, {"2"}, 0, kReadOnly, kWork, kBlankQuickboot);
    }
  }
  for (const auto& [line, written] : recognisedWrite) {
    Expect(Installed(), line, {"2"}, 0, ReadThenWrite(written), kWork, kBlankQuickboot);
  }
}

// "/g" answers the quick-boot bit (bit 1), "/1" sets it in the word, "/0" clears the word.
TEST_F(SystemTest, ReadsTheBitSetsItOrClearsTheWholeWord) {
  struct Row {
    const char* state;
    int answer;
    const char* withTheBitSet;
  };
  const Row rows[] = {{"0", 0, "2"},
                      {"1", 0, "3"},
                      {"2", 1, "2"},
                      {"3", 1, "3"},
                      {"5", 0, "7"},
                      {"7", 1, "7"},
                      {"0x80000000", 0, "2147483650"},
                      {"0xFFFFFFFD", 0, "4294967295"},
                      {"0xFFFFFFFF", 1, "4294967295"}};
  for (const Row& row : rows) {
    Expect(Installed(), "quickboot.exe /g", {row.state}, row.answer, kReadOnly);
    Expect(Installed(), "quickboot.exe /1", {row.state}, 0, ReadThenWrite(row.withTheBitSet));
    Expect(Installed(), "quickboot.exe /0", {row.state}, 0, ReadThenWrite("0"));
  }
}

TEST_F(SystemTest, FailedOrCrashingCallEndsWith100InSilence) {
  for (const char* status : {"1", "0xFFFFFFFF"}) {
    for (const char* tail : {"/g", "/1", "/0", "", "/x"}) {
      Expect(Installed(), Line(tail), {"2", status}, kFailed, kReadOnly);  // and writes nothing
    }
  }
  const Simulation writeFails = {"5", nullptr, "5"};
  Expect(Installed(), "quickboot.exe /1", writeFails, kFailed, ReadThenWrite("7"));
  Expect(Installed(), "quickboot.exe /0", writeFails, kFailed, ReadThenWrite("0"));
  Expect(Installed(), "quickboot.exe /g", writeFails, 0, kReadOnly);  // nothing to write
  for (const char* tail : {"/g", "/1", "/0"}) {
    // Ended on the spot: no write, and no unload after the crash.
    Expect(Installed(), Line(tail), {"0", nullptr, nullptr, "call"}, kFailed,
           Log{"attach", "call 1 0 0"});
    // The library unloads itself and returns into its unmapped code: no frame can handle that.
    Expect(Installed(), Line(tail), {"2", nullptr, nullptr, "unload"}, kFailed,
           Log{"attach", "call 1 0 0", "detach FreeLibrary"});
  }
  for (const char* tail : {"/g", "/1"}) {
    // Whether the loader reports the failed attach with a detach differs between systems.
    const Log log =
        Expect(Installed(), Line(tail), {"0", nullptr, nullptr, "attach"}, kFailed, std::nullopt);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "attach");
    for (const std::string& line : log) EXPECT_EQ(line.rfind("call", 0), std::string::npos);
  }
}

// Exceptions that the library raises and handles itself are none of the program's business.
TEST_F(SystemTest, ExceptionsTheLibraryHandlesItselfChangeNothing) {
  for (const char* handled : {"handled-fault", "handled-throw"}) {
    Expect(Installed(), "quickboot.exe /g", {"2", nullptr, nullptr, handled}, 1, kReadOnly);
    Expect(Installed(), "quickboot.exe /1", {"5", nullptr, nullptr, handled}, 0,
           ReadThenWrite("7"));
    Expect(Installed(), "quickboot.exe /0", {"7", nullptr, nullptr, handled}, 0,
           ReadThenWrite("0"));
  }
}

// The program asks only for read access, so a key that grants no more still serves.
TEST_F(SystemTest, ReadsAKeyThatGrantsOnlyReadAccess) {
  keyAccess_ = "D:P(A;;KRSD;;;WD)";  // read, and delete for the clean-up
  WriteControlKey(Installed());
  RestrictControlKey(keyAccess_);
  OpenKey probe;
  ASSERT_EQ(
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kControlKey, 0, KEY_ALL_ACCESS | kView, &probe.handle),
      ERROR_ACCESS_DENIED)
      << "the key still grants full access";
  for (const char* tail : {"/g", "/1"}) {
    Expect(Installed(), Line(tail), {"2"}, tail[1] == 'g' ? 1 : 0,
           tail[1] == 'g' ? kReadOnly : ReadThenWrite("2"));
  }
}

TEST_F(SystemTest, LibraryThatCannotBeFoundOrUsedEndsWith100) {
  const std::pair<KeyContent, Log> rows[] = {
      {std::nullopt, kNotLoaded},
      {Values{}, kNotLoaded},
      {Values{{"InstPath", Text("")}, {"DllName", Text("")}}, kNotLoaded},
      {Installed(Text("absent.dll")), kNotLoaded},
      {Installed(Text("ctlsim.dll"), Text(kWork + "\\absent")), kNotLoaded},
      // Directories: kBin + "\" twice, then a folder named like a library.
      {Values{{"InstPath", Text(kBin)}}, kNotLoaded},
      {Installed(Text("")), kNotLoaded},
      {Installed(Text("folder.dll"), Text(kWork)), kNotLoaded},
      {Values{{"DllName", Text(kFolderDll)}}, kNotLoaded},
      // An entry point missing: loaded, never called, unloaded.
      {Installed(Text("ctlsim_noversion.dll")), kLoadedUncalled},
      {Installed(Text("ctlsim_nocontrol.dll")), kLoadedUncalled},
  };
  for (const auto& [key, log] : rows) {
    for (const char* tail : {"/g", "/1", "/0", "", "/x", "/g "}) {
      Expect(key, Line(tail), {"2"}, kFailed, log);
    }
  }
}

TEST_F(SystemTest, FindsTheLibraryThroughTheRegistry) {
  struct Row {
    KeyContent key;
    std::string directory;
    int exitCode;
    Log log;
    std::string pathFront;  // a folder put in front of PATH
  };
  const Row rows[] = {
      {Installed(Text("ctlsim.dll"), Text(kBin + "\\")), kWork, 1, kReadOnly},
      {Installed(Text("ctlsim.dll"), Text(kBin, REG_EXPAND_SZ)), kWork, 1, kReadOnly},
      {Installed({REG_MULTI_SZ, "ctlsim.dll\0absent.dll\0\0"s}), kWork, 1, kReadOnly},
      {Installed({REG_MULTI_SZ, "ctlsim_nocontrol.dll\0ctlsim.dll\0\0"s}), kWork, kFailed,
       kLoadedUncalled},
      // A bare name is relative to the current directory; a directory not of text is ignored.
      {Values{{"DllName", Text("ctlsim.dll")}}, kBin, 1, kReadOnly},
      {Values{{"DllName", Text("ctlsim.dll")}}, kWork, kFailed, kNotLoaded},
      {Installed(Text("ctlsim.dll"), {REG_DWORD, "\7\0\0\0"s}), kBin, 1, kReadOnly},
      {Values{{"InstPath", Text(kBin)}}, kBin, kFailed, kNotLoaded},
      {std::nullopt, kBin, kFailed, kNotLoaded},
      // A dependency that lies only in the current directory serves a bare name found there,
      // never a library named by its full path; for that, only one beside it serves, not one
      // on PATH.
      {Values{{"DllName", Text("ctlsim_needshelper.dll")}}, kHelperDirectory, 1, kReadOnly},
      {Installed(Text("ctlsim_needshelper.dll")), kHelperDirectory, kFailed, kNotLoaded},
      {Installed(Text("ctlsim_needshelper.dll"), Text(kHelperDirectory)), kWork, 1, kReadOnly},
      {Installed(Text("ctlsim_needshelper.dll")), kWork, kFailed, kNotLoaded, kBin + "\\elsewhere"},
  };
  for (const Row& row : rows) {
    std::optional<ScopedEnvironmentVariable> path;
    if (!row.pathFront.empty()) {
      char current[8192] = "";
      GetEnvironmentVariableA("PATH", current, sizeof(current));
      path.emplace("PATH", (row.pathFront + ";" + current).c_str());
    }
    Expect(row.key, "quickboot.exe /g", {"2"}, row.exitCode, row.log, row.directory);
  }
}

// Another process's write holds the lock: a write is refused before the load, a read is not.
// A lock whose holder ended without letting go serves the next write.
TEST_F(SystemTest, WriteWhileAnotherWriteRunsEndsWith100Unloaded) {
  const wchar_t* name = L"Global\\quickboot-write";
  HANDLE held = CreateMutexW(nullptr, TRUE, name);
  ASSERT_NE(held, nullptr);
  for (const char* tail : {"/1", "/0", "/1 "}) {
    const bool writes = tail[2] == '\0';
    Expect(Installed(), Line(tail), {"2"}, writes ? kFailed : 0, writes ? kNotLoaded : kReadOnly);
  }
  Expect(Installed(), "quickboot.exe /g", {"2"}, 1, kReadOnly);
  ReleaseMutex(held);
  const auto takeAndEnd = [](void* lock) -> DWORD { return WaitForSingleObject(lock, 0); };
  HANDLE holder = CreateThread(nullptr, 0, takeAndEnd, held, 0, nullptr);
  ASSERT_NE(holder, nullptr);
  WaitForSingleObject(holder, INFINITE);
  CloseHandle(holder);
  Expect(Installed(), "quickboot.exe /1", {"0"}, 0, ReadThenWrite("2"));
  CloseHandle(held);
  Expect(Installed(), "quickboot.exe /0", {"2"}, 0, ReadThenWrite("0"));
}

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
  const std::string directory = kBin + "\\\x95\x5C";
  for (const std::string& instPath : {directory, directory + "\\"}) {
    Expect(Installed(Text("..\\ctlsim.dll"), Text(instPath)), "quickboot.exe /g", {"2"}, 1,
           kReadOnly);
  }
}

}  // namespace
