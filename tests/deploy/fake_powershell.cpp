// Stands in for Windows PowerShell, which wine does not have, in the start-up script's tests. It
// does what the script's PowerShell command does, whatever its own command line says: runs
// QB_RUN with QB_ARGUMENTS for at most QB_SECONDS seconds, then prints "line " and the first
// line the program printed (when there is one) and "exit " and its exit code; "exit timeout"
// when it had to be ended, "exit error" when it could not be started.
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

int main() {
  const std::string program = Variable("QB_RUN");
  const std::string arguments = Variable("QB_ARGUMENTS");
  const DWORD seconds = std::strtoul(Variable("QB_SECONDS").c_str(), nullptr, 10);
  // The command line .NET composes from a file name and an argument string.
  const std::string commandLine =
      "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
  const LaunchResult run = LaunchProgram(program, commandLine, "", seconds * 1000);
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
