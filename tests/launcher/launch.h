// Starts a program with an exact command line and collects what it leaves behind: exit code,
// the bytes it wrote to stdout and stderr, and whether it had to be ended after a time-out.
#pragma once

#include <windows.h>

#include <string>

// Owns one kernel handle; null and INVALID_HANDLE_VALUE both mean "none".
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedHandle() { Reset(nullptr); }

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void Reset(HANDLE handle) {
    if (Valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

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

// The directory of the running program, without a trailing backslash.
std::string ThisProgramDirectory();

struct LaunchResult {
  bool started = false;   // CreateProcessA succeeded
  DWORD launchError = 0;  // the last-error value when it did not
  bool timedOut = false;  // still running at the time-out, so it was terminated
  DWORD exitCode = 0;     // valid when started
  std::string standardOutput;
  std::string standardError;
};

// Runs `programPath` (full path, handed to CreateProcessA as the application name) with
// `commandLine` as its whole command line, byte for byte, in `currentDirectory`, with the
// environment of the calling process. Stdin reads from NUL; stdout and stderr go to pipes that
// are read until the program and everything that inherited the pipes let go of them. After
// `timeoutMs` the program is terminated and the result says so.
LaunchResult LaunchProgram(const std::string& programPath, const std::string& commandLine,
                           const std::string& currentDirectory, DWORD timeoutMs);
