// The dispatch of the command tail, against the simulated control library beside this program.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/dispatch.h"
#include "app/exit_code.h"
#include "bridge/czkt05b9.h"
#include "support/cc_exception_memory.h"
#include "support/owned_text.h"

namespace {

using Lines = std::vector<std::string>;

const char* const kSimulatorVariables[] = {"CTLSIM_STATE", "CTLSIM_READ_STATUS",
                                           "CTLSIM_WRITE_STATUS", "CTLSIM_LOG", "CTLSIM_CRASH"};

std::string BinFile(const char* name) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string file(path, length);
  return file.substr(0, file.find_last_of('\\') + 1) + name;
}

// A bridge whose library path comes from the test instead of the registry; an empty path
// makes the lookup fail.
class TestBridge : public CZKT05B9 {
 public:
  explicit TestBridge(std::string path) : path_(std::move(path)) {}
  int ResolveLibraryPath() override {
    if (path_.empty()) return 0;
    return SetOwnedText(&libraryPath, path_.c_str(), -1);
  }

 private:
  std::string path_;
};

// A lookup that runs out of memory, as the string class reports it.
class OutOfMemoryBridge : public CZKT05B9 {
 public:
  int ResolveLibraryPath() override { throw CcExceptionMemory(); }
};

struct Setting {
  const char* name;
  const char* value;
};

class DispatchTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearSimulatorVariables();
    char folder[MAX_PATH];
    char unique[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    ASSERT_NE(GetTempFileNameA(folder, "qbd", 0, unique), 0u);
    logPath_ = unique;
  }
  void TearDown() override {
    ClearSimulatorVariables();
    if (!logPath_.empty()) DeleteFileA(logPath_.c_str());
  }

  static void ClearSimulatorVariables() {
    for (const char* name : kSimulatorVariables) SetEnvironmentVariableA(name, nullptr);
  }

  // Dispatches `tail` on a fresh bridge over `library` with the simulator set up from
  // `settings`; answers the exit code, and the simulator's events (the bridge destroyed) in
  // `log`.
  int Run(const char* library, const char* tail, std::vector<Setting> settings, Lines* log) {
    ClearSimulatorVariables();
    DeleteFileA(logPath_.c_str());
    SetEnvironmentVariableA("CTLSIM_LOG", logPath_.c_str());
    SetEnvironmentVariableA("CTLSIM_STATE", "0");
    for (const Setting& setting : settings) SetEnvironmentVariableA(setting.name, setting.value);
    int code;
    {
      TestBridge bridge(library ? BinFile(library) : "");
      code = DispatchCommandGuarded(bridge, tail);
    }
    *log = ReadLog();
    return code;
  }

  Lines ReadLog() const {
    Lines lines;
    FILE* file = std::fopen(logPath_.c_str(), "r");
    if (!file) return lines;
    char line[128];
    while (std::fgets(line, sizeof(line), file)) {
      std::string text(line);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      lines.push_back(text);
    }
    std::fclose(file);
    return lines;
  }

 private:
  std::string logPath_;
};

// The events of one load, the given calls and the unload.
Lines Session(Lines calls) {
  Lines lines{"attach"};
  lines.insert(lines.end(), calls.begin(), calls.end());
  lines.push_back("detach FreeLibrary");
  return lines;
}

struct Case {
  const char* tail;
  const char* state;
  int exitCode;
  Lines calls;
};

}  // namespace

TEST_F(DispatchTest, AnswersTheSwitches) {
  const Lines read{"call 1 0 0"};
  const Case cases[] = {
      {"/g", "0", kExitOk, read},
      {"/g", "1", kExitOk, read},
      {"/g", "2", kExitQuickBootOn, read},
      {"/g", "3", kExitQuickBootOn, read},
      {"/g", "0xFFFFFFFD", kExitOk, read},
      {"/g", "0xFFFFFFFF", kExitQuickBootOn, read},
      {"/G", "2", kExitQuickBootOn, read},
      {"/G", "1", kExitOk, read},
      {"/1", "5", kExitOk, {"call 1 0 0", "call 1 1 7"}},
      {"/1", "2", kExitOk, {"call 1 0 0", "call 1 1 2"}},
      {"/1", "0xFFFFFFFD", kExitOk, {"call 1 0 0", "call 1 1 4294967295"}},
      {"/0", "7", kExitOk, {"call 1 0 0", "call 1 1 0"}},
      {"/0", "0", kExitOk, {"call 1 0 0", "call 1 1 0"}},
      {"/0", "0xFFFFFFFF", kExitOk, {"call 1 0 0", "call 1 1 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("tail [") + c.tail + "] state " + c.state);
    Lines log;
    EXPECT_EQ(Run("ctlsim.dll", c.tail, {{"CTLSIM_STATE", c.state}}, &log), c.exitCode);
    EXPECT_EQ(log, Session(c.calls));
  }
}

TEST_F(DispatchTest, OtherTailsOnlyRead) {
  for (const char* tail :
       {"", "/g ", " /g", "/g /1", "/1 /0", "g", "/", "/10", "/01", "-g", "/x", "/gg"}) {
    SCOPED_TRACE(std::string("tail [") + tail + "]");
    Lines log;
    EXPECT_EQ(Run("ctlsim.dll", tail, {{"CTLSIM_STATE", "2"}}, &log), kExitOk);
    EXPECT_EQ(log, Session({"call 1 0 0"}));
  }
}

TEST_F(DispatchTest, LoadFailureFailsEveryTailWithoutACall) {
  for (const char* tail : {"/g", "/G", "/1", "/0", "", "/x"}) {
    SCOPED_TRACE(std::string("tail [") + tail + "]");
    Lines log;
    EXPECT_EQ(Run(nullptr, tail, {}, &log), kExitControlFailed);
    EXPECT_EQ(log, Lines{});
    EXPECT_EQ(Run("no_such_library.dll", tail, {}, &log), kExitControlFailed);
    EXPECT_EQ(log, Lines{});
    EXPECT_EQ(Run("ctlsim_noversion.dll", tail, {}, &log), kExitControlFailed);
    EXPECT_EQ(log, Session({}));
    EXPECT_EQ(Run("ctlsim_nocontrol.dll", tail, {}, &log), kExitControlFailed);
    EXPECT_EQ(log, Session({}));
  }
}

TEST_F(DispatchTest, ReadFailureFailsEveryTailWithoutAWrite) {
  for (const char* tail : {"/g", "/1", "/0", "", "/x"}) {
    for (const char* status : {"1", "87", "0xFFFFFFFF"}) {
      SCOPED_TRACE(std::string("tail [") + tail + "] status " + status);
      Lines log;
      EXPECT_EQ(
          Run("ctlsim.dll", tail, {{"CTLSIM_STATE", "2"}, {"CTLSIM_READ_STATUS", status}}, &log),
          kExitControlFailed);
      EXPECT_EQ(log, Session({"call 1 0 0"}));
    }
  }
}

TEST_F(DispatchTest, WriteFailureFailsTheWritingSwitches) {
  const std::vector<Setting> failingWrite{{"CTLSIM_STATE", "5"}, {"CTLSIM_WRITE_STATUS", "1"}};
  Lines log;
  EXPECT_EQ(Run("ctlsim.dll", "/1", failingWrite, &log), kExitControlFailed);
  EXPECT_EQ(log, Session({"call 1 0 0", "call 1 1 7"}));
  EXPECT_EQ(Run("ctlsim.dll", "/0", failingWrite, &log), kExitControlFailed);
  EXPECT_EQ(log, Session({"call 1 0 0", "call 1 1 0"}));
  // Reading is not touched by a write status.
  EXPECT_EQ(Run("ctlsim.dll", "/g", failingWrite, &log), kExitOk);
  EXPECT_EQ(log, Session({"call 1 0 0"}));
}

TEST_F(DispatchTest, OutOfMemoryBecomesAControlFailure) {
  OutOfMemoryBridge bridge;
  EXPECT_THROW(DispatchCommand(bridge, "/g"), CcExceptionMemory);
  for (const char* tail : {"/g", "/1", "/0", ""}) {
    SCOPED_TRACE(std::string("tail [") + tail + "]");
    OutOfMemoryBridge fresh;
    EXPECT_EQ(DispatchCommandGuarded(fresh, tail), kExitControlFailed);
  }
}

TEST_F(DispatchTest, UnguardedDispatchAnswersTheSame) {
  SetEnvironmentVariableA("CTLSIM_STATE", "3");
  TestBridge bridge(BinFile("ctlsim.dll"));
  EXPECT_EQ(DispatchCommand(bridge, "/g"), kExitQuickBootOn);
}
