// Tests against the simulated control library (ctlsim*.dll beside the test program): a bridge
// whose path comes from the test, and a fixture giving each test a clean simulator
// environment, a fixed state word and its own event log.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "bridge/czkt05b9.h"
#include "support/owned_text.h"
#include "tests/support/test_files.h"

using Lines = std::vector<std::string>;

// A file beside the test program, where the build puts the simulated libraries.
inline std::string BinFile(const char* name) {
  return ThisProgramDirectory() + "\\" + name;
}

// The lookup stores `path` (nothing when empty) and answers `found`, instead of the registry.
class TestBridge : public CZKT05B9 {
 public:
  explicit TestBridge(const std::string& path, bool found = true) : path_(path), found_(found) {}
  int ResolveLibraryPath() override {
    ++resolveCalls;
    if (!path_.empty()) SetOwnedText(&libraryPath, path_.c_str(), -1);
    return found_ ? 1 : 0;
  }
  void HoldPath(const char* path) { SetOwnedText(&libraryPath, path, -1); }
  HMODULE Module() const { return module; }

  int resolveCalls = 0;

 private:
  std::string path_;
  bool found_;
};

class SimulatorTest : public testing::Test {
 protected:
  void SetUp() override {
    errorMode_ = SetErrorMode(SEM_FAILCRITICALERRORS);  // no dialog may hold up a failed load
    char unique[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(TemporaryDirectory().c_str(), "qbl", 0, unique), 0u);
    logPath_ = unique;
    ResetSimulator();
    ASSERT_EQ(GetModuleHandleA("ctlsim.dll"), nullptr) << "left loaded by an earlier test";
  }
  void TearDown() override {
    ClearVariables();
    DeleteFileA(logPath_.c_str());
    SetErrorMode(errorMode_);
  }

  // Empties the log and drops every setting; the state word starts at 0 (set, so that the
  // simulator keeps none in a file beside it).
  void ResetSimulator() {
    ClearVariables();
    DeleteFileA(logPath_.c_str());
    SetEnvironmentVariableA("CTLSIM_LOG", logPath_.c_str());
    SetEnvironmentVariableA("CTLSIM_STATE", "0");
  }

  Lines Log() const { return ReadLines(logPath_); }

 private:
  static void ClearVariables() {
    for (const char* name : {"CTLSIM_STATE", "CTLSIM_READ_STATUS", "CTLSIM_WRITE_STATUS",
                             "CTLSIM_LOG", "CTLSIM_CRASH"}) {
      SetEnvironmentVariableA(name, nullptr);
    }
  }

  std::string logPath_;
  UINT errorMode_ = 0;
};
