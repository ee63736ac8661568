// Stands in for the diagnostic companion quickboot-diag.exe in the deployment tests, with the
// command line and answers of its current form: it runs quickboot.exe /g from its own folder for
// at most --timeout seconds (15 without it), prints a one-line verdict
//   quickboot-diag: <cause>: <what is wrong>[; fix: <what to do>]
// and exits with what the read answered (100 also for a read past the limit). A failed read is
// always explained as a 32-bit library, seen from the current directory. The text is written in
// the console output code page (the OEM code page where that is 0), as the companion writes to a
// pipe. Other options (--quiet, --json) are accepted and change nothing.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/launcher/launch.h"

namespace {

// Text in the code page the companion writes to a pipe.
std::string Narrow(const std::wstring& text) {
  UINT codePage = GetConsoleOutputCP();
  if (codePage == 0) codePage = GetOEMCP();
  const int size = WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string narrow(size > 0 ? size : 0, '\0');
  if (size > 0) {
    WideCharToMultiByte(codePage, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], size,
                        nullptr, nullptr);
  }
  return narrow;
}

std::wstring CurrentDirectory() {
  wchar_t directory[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
  return length < MAX_PATH ? std::wstring(directory, length) : std::wstring();
}

}  // namespace

int main(int argc, char** argv) {
  DWORD seconds = 15;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--timeout") == 0) seconds = std::strtoul(argv[i + 1], nullptr, 10);
  }
  char path[MAX_PATH];
  std::string program(path, GetModuleFileNameA(nullptr, path, sizeof(path)));
  program = program.substr(0, program.find_last_of('\\') + 1) + "quickboot.exe";
  const LaunchResult read = LaunchProgram(program, "\"" + program + "\" /g", "", seconds * 1000);

  std::string verdict;
  int exitCode = 100;
  if (!read.started) {
    verdict = "program_missing: cannot start " + program + "; fix: install quickboot.exe beside it";
  } else if (read.timedOut) {
    verdict = "library_hung: CtrlQuickBoot did not return within " + std::to_string(seconds) +
              " seconds; fix: ask the library's vendor";
  } else if (read.exitCode == 0 || read.exitCode == 1) {
    exitCode = static_cast<int>(read.exitCode);
    verdict = exitCode ? "quick_boot_on: quick boot is on" : "quick_boot_off: quick boot is off";
  } else if (read.exitCode == 100) {
    verdict =
        "wrong_architecture: cannot load C:\\R&D (x86)\\ctl.dll: error 193: the file is a "
        "32-bit (x86) library; a 64-bit one is needed (seen from " +
        Narrow(CurrentDirectory()) + "); fix: install the vendor's 64-bit library";
  } else {
    exitCode = static_cast<int>(read.exitCode);
    verdict = "library_exited: the library ended the process with exit code " +
              std::to_string(exitCode) + "; fix: ask the library's vendor";
  }
  std::printf("quickboot-diag: %s\nquickboot-diag: the step report follows\n", verdict.c_str());
  return exitCode;
}
