// quickboot-diag.exe: tells why quickboot.exe answers what it does on this machine, and what to
// do about it. It walks the steps of "quickboot.exe /g" through the same code (the library's
// part in a child process with a time limit), reports each, and answers the same exit code. It
// reads only: one read of the state word at most, no registry or file writes.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/exit_code.h"
#include "diag/child_probe.h"
#include "diag/crash_guard.h"
#include "diag/json_report.h"
#include "diag/observe.h"
#include "diag/text.h"
#include "diag/verdict.h"
#include "qb_version.h"

namespace {

constexpr int kExitUsage = 2;
constexpr unsigned long kDefaultTimeoutSeconds = 15;
constexpr unsigned long kMaxTimeoutSeconds = 3600;

constexpr char kUsage[] =
    "usage: quickboot-diag.exe [--json | --quiet | --fix] [--timeout SECONDS]\n"
    "\n"
    "Reports why quickboot.exe answers what it does on this machine, and what to do: the\n"
    "registry values it reads, the library path, the library's load, one read of the quick-boot\n"
    "setting and the unload, run in a child process with a time limit. The first line is the\n"
    "verdict: \"quickboot-diag: <cause>: <what is wrong>; fix: <what to do>\". Nothing is "
    "changed.\n"
    "\n"
    "  --json              one JSON object (ASCII) instead of the text report\n"
    "  --quiet             the verdict line only\n"
    "  --fix               the verdict, then the reg add lines that would mend a registry\n"
    "                      cause (printed, never run)\n"
    "  --timeout SECONDS   the limit for the library's code (default 15)\n"
    "  --help, /?          this text\n"
    "  --version           the version\n"
    "\n"
    "Exit code: what \"quickboot.exe /g\" answers here (0 off, 1 on, 100 the control library\n"
    "could not be located, loaded or called, or it hung); the library's own code when it ends\n"
    "the process; 2 for a usage error.\n";

enum class Form { kText, kJson, kQuiet, kFix };

void Print(FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

int UsageError(const std::string& problem) {
  Print(stderr, "quickboot-diag: " + problem + "\n" + kUsage);
  return kExitUsage;
}

// What the companion prints if it fails itself, made before anything can fail.
std::string InternalErrorAnswer(Form form) {
  const CauseRow& row = CauseOf(Cause::kInternalError);
  const std::string verdict = std::string("quickboot-diag: ") + row.token +
                              ": the diagnosis itself failed; fix: " + row.fix;
  if (form != Form::kJson) return verdict + "\n";
  return "{\"schema_version\":" + std::to_string(kJsonSchemaVersion) +
         ",\"tool\":\"quickboot-diag\",\"version\":\"" QB_VERSION_TEXT "\",\"verdict\":\"" +
         verdict + "\",\"exit_code\":" + std::to_string(kExitControlFailed) + ",\"cause\":\"" +
         row.token + "\"}\n";
}

std::string Render(const Report& report, Form form) {
  switch (form) {
    case Form::kJson:
      return RenderJson(report);
    case Form::kQuiet:
      return report.verdict + "\n";
    case Form::kFix: {
      std::string text = report.verdict + "\n";
      for (const std::string& command : report.fixCommands) text += command + "\n";
      return text;
    }
    default:
      return RenderText(report);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], kChildProbeOption) == 0) {
    const HANDLE pipe = CompanionPipe(argv[2]);
    if (!pipe)
      return UsageError(std::string(kChildProbeOption) + " is for the companion's own use");
    return RunChildProbe(pipe);
  }

  Form form = Form::kText;
  bool formGiven = false;
  unsigned long timeout = kDefaultTimeoutSeconds;
  bool timeoutGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (argc == 2 && (option == "--help" || option == "/?")) {
      Print(stdout, kUsage);
      return 0;
    }
    if (argc == 2 && option == "--version") {
      Print(stdout, "quickboot-diag " QB_VERSION_TEXT "\n");
      return 0;
    }
    if (option == "--timeout") {
      if (timeoutGiven || i + 1 >= argc) return UsageError("--timeout needs one number");
      const char* number = argv[++i];
      char* end = nullptr;
      timeout = std::strtoul(number, &end, 10);
      if (*number < '0' || *number > '9' || *end != '\0' || timeout < 1 ||
          timeout > kMaxTimeoutSeconds) {
        return UsageError("--timeout takes whole seconds from 1 to 3600");
      }
      timeoutGiven = true;
      continue;
    }
    Form chosen;
    if (option == "--json") {
      chosen = Form::kJson;
    } else if (option == "--quiet") {
      chosen = Form::kQuiet;
    } else if (option == "--fix") {
      chosen = Form::kFix;
    } else {
      return UsageError("unknown option " + EscapeText(ShortenEnd(option, 60)));
    }
    if (formGiven) return UsageError("one of --json, --quiet and --fix at most");
    form = chosen;
    formGiven = true;
  }

  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  InstallInternalErrorGuard(InternalErrorAnswer(form));
  try {
    Report report;
    report.probe.timeoutSeconds = static_cast<uint32_t>(timeout);
    ObserveProcess(&report.process);
    ObserveHardware(&report.hardware);
    ObserveControlLibrary(&report);
    Conclude(&report);
    const std::string output = Render(report, form);
    if (form == Form::kJson) {
      DWORD written = 0;
      WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), output.data(), static_cast<DWORD>(output.size()),
                &written, nullptr);
    } else {
      WriteOutput(output);
    }
    return report.exitCode;
  } catch (...) {
    EndWithInternalError();
  }
}
