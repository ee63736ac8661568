// quickboot-diag.exe: tells why quickboot.exe answers what it does on this machine. It walks the
// steps of "quickboot.exe /g" through the same code, reports each, and answers the same exit
// code. It reads only: one read of the state word at most, no registry or file writes.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/exit_code.h"
#include "diag/crash_guard.h"
#include "diag/json_report.h"
#include "diag/observe.h"
#include "diag/verdict.h"
#include "qb_version.h"

namespace {

constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: quickboot-diag.exe [--json]\n"
    "\n"
    "Reports why quickboot.exe answers what it does on this machine: the registry values it\n"
    "reads, the library path, the library's load and exports, and one read of the quick-boot\n"
    "state. The first line is the verdict. Nothing is changed.\n"
    "\n"
    "  --json      one JSON object instead of the text report\n"
    "  --help, /?  this text\n"
    "  --version   the version\n"
    "\n"
    "Exit code: what \"quickboot.exe /g\" answers here (0 off, 1 on, 100 the control library\n"
    "could not be located, loaded or called); 2 for a usage error.\n";

Report g_report;
bool g_json = false;

void Print(FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

void PrintReport() {
  Conclude(&g_report);
  Print(stdout, g_json ? RenderJson(g_report) : RenderText(g_report));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    Print(stderr, std::string("quickboot-diag: one option at most\n") + kUsage);
    return kExitUsage;
  }
  if (argc == 2) {
    const char* option = argv[1];
    if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "/?") == 0) {
      Print(stdout, kUsage);
      return 0;
    }
    if (std::strcmp(option, "--version") == 0) {
      Print(stdout, "quickboot-diag " QB_VERSION_TEXT "\n");
      return 0;
    }
    if (std::strcmp(option, "--json") != 0) {
      Print(stderr, "quickboot-diag: unknown option " + std::string(option) + "\n" + kUsage);
      return kExitUsage;
    }
    g_json = true;
  }

  // As quickboot.exe does before its load, so that the library meets the same error mode.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  InstallCrashHandler(PrintReport);

  ObserveProcess(&g_report.process);
  ObserveControlLibrary(&g_report);
  PrintReport();
  return g_report.exitCode;
}
