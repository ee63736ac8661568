#include "tests/launcher/launch.h"

#include <memory>
#include <vector>

namespace {

// Once the program has ended its pipes normally break at once; something it started may hold
// them longer, and is given this much before the reads are abandoned.
constexpr DWORD kDrainAfterExitMs = 2000;
constexpr DWORD kTimedOutExitCode = 0xDEAD;
// Under load, wine now and then fails to start a process with ERROR_INTERNAL_ERROR (about one
// start in a thousand), a fault of the emulation and not of the program started. Only that
// error is tried again; any other failure to start is the test's answer at once.
constexpr int kStartAttempts = 5;
constexpr DWORD kRetryPauseMs = 200;

// Owns one kernel handle; INVALID_HANDLE_VALUE, like null, means "none".
struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
using ScopedHandle = std::unique_ptr<void, HandleCloser>;

// A pipe of which only the write end, for the child, is inherited.
bool CreateOutputPipe(ScopedHandle* readEnd, ScopedHandle* childEnd) {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!CreatePipe(&read, &write, nullptr, 64 * 1024)) return false;
  readEnd->reset(read);
  childEnd->reset(write);
  return SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

// Appends what the pipe holds without waiting for more, so neither pipe can block the other;
// false once the pipe is empty and its write end is gone.
bool ReadAvailable(HANDLE pipe, std::string* bytes) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    if (available == 0) return true;
    char buffer[4096];
    DWORD count = 0;
    if (!ReadFile(pipe, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &count,
                  nullptr)) {
      return false;
    }
    bytes->append(buffer, count);
  }
}

}  // namespace

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const char* name, const char* value)
    : name_(name) {
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);  // NUL included; 0 when unset
  hadValue_ = size > 0;
  previous_.resize(size);
  if (hadValue_) previous_.resize(GetEnvironmentVariableA(name, &previous_[0], size));
  SetEnvironmentVariableA(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableA(name_.c_str(), hadValue_ ? previous_.c_str() : nullptr);
}

LaunchResult LaunchProgram(const std::string& programPath, const std::string& commandLine,
                           const std::string& currentDirectory, DWORD timeoutMs) {
  LaunchResult result;
  ScopedHandle output, childOutput, error, childError;
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  ScopedHandle childInput(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inheritable, OPEN_EXISTING, 0, nullptr));
  if (childInput.get() == INVALID_HANDLE_VALUE || !CreateOutputPipe(&output, &childOutput) ||
      !CreateOutputPipe(&error, &childError)) {
    result.launchError = GetLastError();
    return result;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = childInput.get();
  startup.hStdOutput = childOutput.get();
  startup.hStdError = childError.get();
  PROCESS_INFORMATION info = {};
  for (int attempt = 1;; ++attempt) {
    // CreateProcessA may write into the command line, so each attempt gets a fresh copy.
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    if (CreateProcessA(programPath.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                       nullptr, currentDirectory.empty() ? nullptr : currentDirectory.c_str(),
                       &startup, &info)) {
      break;
    }
    result.launchError = GetLastError();
    if (result.launchError != ERROR_INTERNAL_ERROR || attempt == kStartAttempts) return result;
    Sleep(kRetryPauseMs * attempt);
  }
  result.launchError = 0;
  result.started = true;
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  // From here only the child holds the write ends, so the pipes break when it lets go of them.
  childInput.reset();
  childOutput.reset();
  childError.reset();

  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  bool running = true, outputOpen = true, errorOpen = true;
  while (running || outputOpen || errorOpen) {
    outputOpen = outputOpen && ReadAvailable(output.get(), &result.standardOutput);
    errorOpen = errorOpen && ReadAvailable(error.get(), &result.standardError);
    // Pipes cannot be waited on, so the program is watched with short waits between the reads.
    const bool ended = WaitForSingleObject(process.get(), running ? 1 : 0) == WAIT_OBJECT_0;
    if (running && (ended || GetTickCount64() >= deadline)) {
      if (!ended) {
        TerminateProcess(process.get(), kTimedOutExitCode);
        WaitForSingleObject(process.get(), kDrainAfterExitMs);
        result.timedOut = true;
      }
      running = false;
      deadline = GetTickCount64() + kDrainAfterExitMs;
    } else if (!running) {
      if (GetTickCount64() >= deadline) break;  // something else still holds the pipes
      Sleep(1);
    }
  }
  GetExitCodeProcess(process.get(), &result.exitCode);
  return result;
}
