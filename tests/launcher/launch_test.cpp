// The launcher that every system test relies on: exact command line, current directory,
// inherited environment, both output streams, exit code and time-out.
#include "tests/launcher/launch.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

constexpr DWORD kTimeoutMs = 20000;
const std::string kProbe = ThisProgramDirectory() + "\\launch_probe.exe";

TEST(LaunchProgram, HandsOverCommandLineAndDirectoryAndReturnsTheExitCode) {
  struct Row {
    const char* commandLine;
    std::string directory;
    const char* exitCode;
  };
  const Row rows[] = {
      {"probe", ThisProgramDirectory(), "0"},
      {"probe  \t/g ", TemporaryDirectory(), "1"},
      {"probe /g /1", ThisProgramDirectory(), "100"},
      {"\"C:\\a directory\\probe.exe\"/g", TemporaryDirectory(), "0xC0000005"},
      {"\"unbalanced quote \\\" and backslash\\\\", ThisProgramDirectory(), "0"},
      {"probe \"\" '' %PATH% ^ & | < >", TemporaryDirectory(), "0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.commandLine);
    ScopedEnvironmentVariable exitCode("PROBE_EXIT", row.exitCode);
    const LaunchResult result = LaunchProgram(kProbe, row.commandLine, row.directory, kTimeoutMs);
    ASSERT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.standardOutput, row.commandLine);
    EXPECT_EQ(lstrcmpiA(result.standardError.c_str(), row.directory.c_str()), 0)
        << result.standardError;
    EXPECT_EQ(result.exitCode, std::strtoul(row.exitCode, nullptr, 0));
  }
}

TEST(LaunchProgram, ReadsBothStreamsBeyondThePipeBuffers) {
  ScopedEnvironmentVariable flood("PROBE_FLOOD", "1048576");
  const LaunchResult result = LaunchProgram(kProbe, "probe", "", kTimeoutMs);
  ASSERT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.standardOutput, std::string(1048576, 'x'));
  EXPECT_EQ(result.standardError.size(), 1048576u);
}

TEST(LaunchProgram, EndsAProgramThatOutlivesTheTimeOutOrSaysItCouldNotStart) {
  ScopedEnvironmentVariable sleep("PROBE_SLEEP", "60000");
  EXPECT_TRUE(LaunchProgram(kProbe, "probe", "", 300).timedOut);
  const LaunchResult missing = LaunchProgram(kProbe + ".absent", "x", "", kTimeoutMs);
  EXPECT_FALSE(missing.started);
  EXPECT_NE(missing.launchError, 0u);
}

}  // namespace
