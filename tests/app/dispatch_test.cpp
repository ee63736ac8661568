// The dispatch of the command tail, against the simulated control library.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "app/exit_code.h"
#include "support/cc_exception_memory.h"
#include "tests/bridge/test_bridge.h"

namespace {

// Each tail, dispatched on a fresh bridge over `library` (none found when null) with the
// simulator set up as given (null: not set), answers `exitCode` and leaves `log` once the
// bridge is gone.
struct Case {
  std::vector<const char*> tails;
  const char* state;
  int exitCode;
  Lines log;
  const char* library = "ctlsim.dll";
  const char* readStatus = nullptr;
  const char* writeStatus = nullptr;
};

// The events of one load, the given calls and the unload.
Lines Session(Lines calls) {
  calls.insert(calls.begin(), "attach");
  calls.push_back("detach FreeLibrary");
  return calls;
}
const Lines kRead = Session({"call 1 0 0"});
Lines Wrote(const char* value) {
  return Session({"call 1 0 0", std::string("call 1 1 ") + value});
}

// A lookup that runs out of memory, as the string class reports it.
class OutOfMemoryBridge : public CZKT05B9 {
 public:
  int ResolveLibraryPath() override { throw CcExceptionMemory(); }
};

class DispatchTest : public SimulatorTest {
 protected:
  void Check(const Case& c) {
    for (const char* tail : c.tails) {
      SCOPED_TRACE(testing::Message()
                   << "tail [" << tail << "] library " << c.library << " state " << c.state
                   << " read " << c.readStatus << " write " << c.writeStatus);
      ResetSimulator();
      SetEnvironmentVariableA("CTLSIM_STATE", c.state);
      SetEnvironmentVariableA("CTLSIM_READ_STATUS", c.readStatus);
      SetEnvironmentVariableA("CTLSIM_WRITE_STATUS", c.writeStatus);
      auto bridge =
          std::make_unique<TestBridge>(c.library ? BinFile(c.library) : "", c.library != nullptr);
      EXPECT_EQ(DispatchCommandGuarded(*bridge, tail), c.exitCode);
      bridge.reset();  // the log is complete once the library is unloaded
      EXPECT_EQ(Log(), c.log);
    }
  }
};

}  // namespace

TEST_F(DispatchTest, AnswersTheSwitches) {
  const std::vector<const char*> read{"/g", "/G"};
  const std::vector<const char*> others{"",  "/g ", " /g", "/g /1", "/1 /0", "g",
                                        "/", "/10", "/01", "-g",    "/x",    "/gg"};
  const Case cases[] = {
      {read, "0", kExitOk, kRead},
      {read, "1", kExitOk, kRead},
      {read, "0xFFFFFFFD", kExitOk, kRead},
      {read, "2", kExitQuickBootOn, kRead},
      {read, "3", kExitQuickBootOn, kRead},
      {read, "0xFFFFFFFF", kExitQuickBootOn, kRead},
      {{"/1"}, "5", kExitOk, Wrote("7")},
      {{"/1"}, "2", kExitOk, Wrote("2")},
      {{"/1"}, "0xFFFFFFFD", kExitOk, Wrote("4294967295")},
      {{"/0"}, "7", kExitOk, Wrote("0")},
      {{"/0"}, "0", kExitOk, Wrote("0")},
      {{"/0"}, "0xFFFFFFFF", kExitOk, Wrote("0")},
      {others, "2", kExitOk, kRead},  // any other tail only reads
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(DispatchTest, FailuresToLoadReadOrWriteGiveAControlFailure) {
  const std::vector<const char*> every{"/g", "/G", "/1", "/0", "", "/x"};
  const char* const lib = "ctlsim.dll";
  const Case cases[] = {
      {every, "2", kExitControlFailed, {}, nullptr},
      {every, "2", kExitControlFailed, {}, "no_such_library.dll"},
      {every, "2", kExitControlFailed, Session({}), "ctlsim_noversion.dll"},
      {every, "2", kExitControlFailed, Session({}), "ctlsim_nocontrol.dll"},
      {every, "2", kExitControlFailed, kRead, lib, "1"},
      {every, "2", kExitControlFailed, kRead, lib, "87"},
      {every, "2", kExitControlFailed, kRead, lib, "0xFFFFFFFF"},
      {{"/1"}, "5", kExitControlFailed, Wrote("7"), lib, nullptr, "1"},
      {{"/0"}, "5", kExitControlFailed, Wrote("0"), lib, nullptr, "1"},
      {{"/g"}, "5", kExitOk, kRead, lib, nullptr, "1"},  // reading ignores the write status
  };
  for (const Case& c : cases) Check(c);
}

TEST_F(DispatchTest, GuardTurnsOutOfMemoryIntoAControlFailure) {
  OutOfMemoryBridge bridge;
  for (const char* tail : {"/g", "/1", "/0", ""}) {
    EXPECT_EQ(DispatchCommandGuarded(bridge, tail), kExitControlFailed) << "tail [" << tail << "]";
  }
  EXPECT_THROW(DispatchCommand(bridge, "/g"), CcExceptionMemory);
  // Unguarded, the answers are the same.
  SetEnvironmentVariableA("CTLSIM_STATE", "3");
  TestBridge working(BinFile("ctlsim.dll"));
  EXPECT_EQ(DispatchCommand(working, "/g"), kExitQuickBootOn);
}
