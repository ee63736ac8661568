// The launcher that every system test relies on: exact command line, current directory,
// inherited environment, both output streams, exit code and time-out.
#include "tests/launcher/launch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kTimeoutMs = 20000;

std::string ProbePath() {
  return ThisProgramDirectory() + "\\launch_probe.exe";
}

std::string TemporaryDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetTempPathA(sizeof(path), path);
  std::string directory(path, length);
  while (directory.size() > 3 && directory.back() == '\\') directory.pop_back();
  return directory;
}

TEST(LaunchProgram, HandsOverTheCommandLineByteForByte) {
  const char* const lines[] = {
      "probe",
      "probe /g",
      "probe  \t/g ",
      "probe /g /1",
      "\"C:\\a directory\\probe.exe\"/g",
      "\"unbalanced quote \\\" and backslash\\\\",
      "probe \"\" '' %PATH% ^ & | < >",
  };
  for (const char* line : lines) {
    const LaunchResult result = LaunchProgram(ProbePath(), line, std::string(), kTimeoutMs);
    ASSERT_TRUE(result.started) << line;
    EXPECT_FALSE(result.timedOut) << line;
    EXPECT_EQ(result.standardOutput, line);
  }
}

TEST(LaunchProgram, StartsInTheChosenDirectory) {
  for (const std::string& directory : {ThisProgramDirectory(), TemporaryDirectory()}) {
    const LaunchResult result = LaunchProgram(ProbePath(), "probe", directory, kTimeoutMs);
    ASSERT_TRUE(result.started);
    EXPECT_EQ(lstrcmpiA(result.standardError.c_str(), directory.c_str()), 0)
        << result.standardError << " vs " << directory;
  }
}

TEST(LaunchProgram, ReportsTheExitCodeFromTheInheritedEnvironment) {
  for (const char* code : {"0", "1", "100", "0xC0000005"}) {
    ScopedEnvironmentVariable exitCode("PROBE_EXIT", code);
    const LaunchResult result = LaunchProgram(ProbePath(), "probe", std::string(), kTimeoutMs);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.exitCode, std::strtoul(code, nullptr, 0)) << code;
  }
}

TEST(LaunchProgram, ReadsBothStreamsBeyondThePipeBuffers) {
  ScopedEnvironmentVariable flood("PROBE_FLOOD", "1048576");
  const LaunchResult result = LaunchProgram(ProbePath(), "probe", std::string(), kTimeoutMs);
  ASSERT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.standardOutput.size(), 1048576u);
  EXPECT_EQ(result.standardError.size(), 1048576u);
  EXPECT_EQ(result.standardOutput.find_first_not_of('x'), std::string::npos);
}

TEST(LaunchProgram, EndsAProgramThatOutlivesTheTimeOut) {
  ScopedEnvironmentVariable sleep("PROBE_SLEEP", "60000");
  const LaunchResult result = LaunchProgram(ProbePath(), "probe", std::string(), 300);
  ASSERT_TRUE(result.started);
  EXPECT_TRUE(result.timedOut);
}

TEST(LaunchProgram, SaysSoWhenTheProgramCannotBeStarted) {
  const LaunchResult result = LaunchProgram(ThisProgramDirectory() + "\\no such program.exe", "x",
                                            std::string(), kTimeoutMs);
  EXPECT_FALSE(result.started);
  EXPECT_NE(result.launchError, 0u);
}

}  // namespace
