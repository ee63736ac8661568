// launcher.exe PROGRAM DIRECTORY TIMEOUT-MS COMMAND-LINE
//
// Runs PROGRAM (full path) in DIRECTORY with COMMAND-LINE as its exact command line: everything
// of this launcher's own command line after the blank or tab that follows TIMEOUT-MS, byte for
// byte. Prints one line, "exit=N stdout=BYTES stderr=BYTES", and exits 0; on a time-out it
// prints "timed-out stdout=BYTES stderr=BYTES" and exits 3; exits 2 when PROGRAM cannot be
// started and 1 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/launcher/launch.h"

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// One argument under the usual rules: quotes group, 2n backslashes before a quote give n and
// the quote groups, 2n+1 give n and a literal quote. Null when there is no argument left.
const char* ReadArgument(const char* at, std::string* argument) {
  while (IsBlank(*at)) ++at;
  if (*at == '\0') return nullptr;
  argument->clear();
  for (bool quoted = false; *at != '\0' && (quoted || !IsBlank(*at));) {
    size_t backslashes = 0;
    for (; *at == '\\'; ++at) ++backslashes;
    if (*at == '"') {
      argument->append(backslashes / 2, '\\');
      if (backslashes % 2 == 1) argument->push_back('"');
      if (backslashes % 2 == 0) quoted = !quoted;
      ++at;
    } else {
      argument->append(backslashes, '\\');
      if (*at != '\0' && (quoted || !IsBlank(*at))) argument->push_back(*at++);
    }
  }
  return at;
}

}  // namespace

int main() {
  std::string program, directory, timeoutText;
  const char* at = ReadArgument(GetCommandLineA(), &program);  // this launcher's own name first
  if (!at || !(at = ReadArgument(at, &program)) || !(at = ReadArgument(at, &directory)) ||
      !(at = ReadArgument(at, &timeoutText))) {
    std::fprintf(stderr, "usage: launcher.exe PROGRAM DIRECTORY TIMEOUT-MS COMMAND-LINE\n");
    return 1;
  }
  char* end = nullptr;
  const unsigned long timeoutMs = std::strtoul(timeoutText.c_str(), &end, 10);
  if (timeoutText.empty() || *end != '\0') {
    std::fprintf(stderr, "launcher.exe: TIMEOUT-MS must be a number of milliseconds\n");
    return 1;
  }
  if (IsBlank(*at)) ++at;  // the one separator; what follows is the command line as it stands

  const LaunchResult result = LaunchProgram(program, at, directory, timeoutMs);
  if (!result.started) {
    std::fprintf(stderr, "launcher.exe: cannot start %s (error %lu)\n", program.c_str(),
                 static_cast<unsigned long>(result.launchError));
    return 2;
  }
  const auto outputBytes = static_cast<unsigned long>(result.standardOutput.size());
  const auto errorBytes = static_cast<unsigned long>(result.standardError.size());
  if (result.timedOut) {
    std::printf("timed-out stdout=%lu stderr=%lu\n", outputBytes, errorBytes);
    return 3;
  }
  std::printf("exit=%lu stdout=%lu stderr=%lu\n", static_cast<unsigned long>(result.exitCode),
              outputBytes, errorBytes);
  return 0;
}
