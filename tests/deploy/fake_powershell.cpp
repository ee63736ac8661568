// Stands in for Windows PowerShell, which wine does not have, in the start-up script's tests. It
// does what the script's PowerShell command does, whatever its own command line says: runs
// QB_RUN with QB_ARGUMENTS in its folder, waits at most QB_SECONDS seconds, then prints "line "
// and the first line the program printed (when there is one) and "exit " and its exit code;
// "exit error" when it could not be started. Past the limit it ends the program and prints
// "exit timeout" when QB_END is 1; otherwise it leaves it running, holding none of this
// program's handles, and prints "exit still_running". A run that is not ended (a write) takes
// QB_WRITE_EXIT, when set, as the library's CTLSIM_EXIT: a write that hangs after a read that
// answered.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/launcher/launch.h"

namespace {

std::string Variable(const char* name) {
  char value[1024];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return length < sizeof(value) ? std::string(value, length) : std::string();
}

}  // namespace

// Starts the program with no handles of this one and waits for it: the exit code, or
// "still_running" past the limit.
std::string RunDetached(const std::string& program, std::string commandLine,
                        const std::string& folder, DWORD milliseconds) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &process)) {
    return "error";
  }
  CloseHandle(process.hThread);
  std::string answer = "still_running";
  DWORD code = 0;
  if (WaitForSingleObject(process.hProcess, milliseconds) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, &code)) {
    answer = std::to_string(static_cast<int32_t>(code));
  }
  CloseHandle(process.hProcess);
  return answer;
}

int main() {
  const std::string program = Variable("QB_RUN");
  const std::string arguments = Variable("QB_ARGUMENTS");
  const DWORD seconds = std::strtoul(Variable("QB_SECONDS").c_str(), nullptr, 10);
  const std::string folder = program.substr(0, program.find_last_of('\\') + 1);
  // The command line .NET composes from a file name and an argument string.
  const std::string commandLine =
      "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
  if (Variable("QB_END") == "0") {
    const std::string writeExit = Variable("QB_WRITE_EXIT");
    if (!writeExit.empty()) SetEnvironmentVariableA("CTLSIM_EXIT", writeExit.c_str());
    std::printf("exit %s\n", RunDetached(program, commandLine, folder, seconds * 1000).c_str());
    return 0;
  }
  const LaunchResult run = LaunchProgram(program, commandLine, folder, seconds * 1000);
  if (!run.started) {
    std::puts("exit error");
  } else if (run.timedOut) {
    std::puts("exit timeout");
  } else {
    const std::string line = run.standardOutput.substr(0, run.standardOutput.find_first_of("\r\n"));
    if (!line.empty()) std::printf("line %s\n", line.c_str());
    std::printf("exit %ld\n", static_cast<long>(static_cast<int32_t>(run.exitCode)));
  }
  return 0;
}
