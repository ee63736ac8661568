// Starts a program with an exact command line and collects what it leaves behind: exit code,
// the bytes it wrote to stdout and stderr, and whether it had to be ended after a time-out.
#pragma once

#include <windows.h>

#include <string>

// Sets (or, with a null value, removes) one variable of this process's environment, which
// launched programs inherit, and puts the previous state back when it goes.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const char* name, const char* value);
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;
  ~ScopedEnvironmentVariable();

 private:
  std::string name_;
  bool hadValue_ = false;
  std::string previous_;
};

struct LaunchResult {
  bool started = false;   // CreateProcessA succeeded
  DWORD launchError = 0;  // the last-error value when it did not
  bool timedOut = false;  // still running at the time-out, so it was terminated
  DWORD exitCode = 0;     // valid when started
  std::string standardOutput;
  std::string standardError;
};

// Runs `programPath` (handed to CreateProcessA as the application name) with `commandLine` as
// its whole command line, byte for byte, in `currentDirectory` (empty: this one), with this
// process's environment. Stdin reads from NUL; stdout and stderr go to pipes read until the
// program and whatever inherited them let go. After `timeoutMs` the program is terminated.
LaunchResult LaunchProgram(const std::string& programPath, const std::string& commandLine,
                           const std::string& currentDirectory, DWORD timeoutMs);
