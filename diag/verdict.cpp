#include "diag/verdict.h"

#include <cstdio>
#include <cstring>

#include "app/dispatch.h"
#include "app/exit_code.h"
#include "bridge/czkt05b9.h"
#include "diag/crash_guard.h"
#include "diag/pe_header.h"
#include "diag/text.h"
#include "support/cc_registry.h"

namespace {

constexpr size_t kMaxVerdictPathBytes = 100;
// A fix made of reg add lines goes into the verdict when it is no longer than this.
constexpr size_t kMaxInlineFixBytes = 190;
// The longest path the ANSI file calls take (MAX_PATH less the terminator).
constexpr uint32_t kMaxAnsiPathBytes = MAX_PATH - 1;

// Load errors that mean a policy or a scanner refused the file, not that it is broken.
constexpr DWORD kPolicyErrors[] = {
    4551,  // ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION: WDAC, Smart App Control
    4553,  // ERROR_SYSTEM_INTEGRITY_REPUTATION_MALICIOUS
    4556,  // ERROR_SYSTEM_INTEGRITY_REPUTATION_UNFRIENDLY_FILE
    4580,  // ERROR_SYSTEM_INTEGRITY_REPUTATION_UNATTAINABLE
    1260,  // ERROR_ACCESS_DISABLED_BY_POLICY: AppLocker, software restriction
    225,   // ERROR_VIRUS_INFECTED
    226,   // ERROR_VIRUS_DELETED
    577,   // ERROR_INVALID_IMAGE_HASH: code integrity
};

struct Finding {
  Cause cause;
  std::string what;
  std::vector<std::string> commands;  // reg add lines that mend it
};

std::string Quoted(const std::string& text) {
  return "\"" + ShortenMiddle(EscapeText(text), kMaxVerdictPathBytes) + "\"";
}

// The reg add line that stores `data` as the REG_SZ value `name` in the 64-bit view. A final
// backslash is doubled, or reg would read it as escaping the closing quote.
std::string RegAdd(const char* name, const std::string& data) {
  std::string quoted = data;
  if (!quoted.empty() && quoted.back() == '\\') quoted += '\\';
  return std::string("reg add \"") + kControlKeyName + "\" /v " + name + " /t REG_SZ /d \"" +
         quoted + "\" /reg:64 /f";
}

std::string Trimmed(const std::string& text, const char* characters) {
  const size_t first = text.find_first_not_of(characters);
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

// ---- Mistakes in a value that is there and is a string: checked before a file is blamed ----

struct NamedValue {
  const char* name;
  const ValueFacts* facts;
};

using ValueCheck = bool (*)(const Report& report, const NamedValue& value, Finding* finding);

bool UnexpandedVariable(const Report&, const NamedValue& value, Finding* finding) {
  const std::string& text = value.facts->text;
  const size_t percent = text.find('%');
  if (percent == std::string::npos || text.find('%', percent + 1) == std::string::npos) {
    return false;
  }
  char expanded[1024];
  const DWORD length = ExpandEnvironmentStringsA(text.c_str(), expanded, sizeof(expanded));
  if (length == 0 || length > sizeof(expanded) || text == expanded) return false;
  *finding = {Cause::kUnexpandedVariable,
              std::string(value.name) + " " + Quoted(text) +
                  " holds an environment variable, which quickboot.exe uses unexpanded",
              {RegAdd(value.name, expanded)}};
  return true;
}

bool HasQuotes(const Report&, const NamedValue& value, Finding* finding) {
  const std::string& text = value.facts->text;
  if (text.find('"') == std::string::npos) return false;
  *finding = {Cause::kValueHasQuotes,
              std::string(value.name) + " is stored with quotes: " + Quoted(text),
              {RegAdd(value.name, Trimmed(text, "\" "))}};
  return true;
}

bool HasSpaces(const Report&, const NamedValue& value, Finding* finding) {
  const std::string& text = value.facts->text;
  const char* blanks = " \t";
  if (text.empty() || (!std::strchr(blanks, text.front()) && !std::strchr(blanks, text.back()))) {
    return false;
  }
  *finding = {Cause::kValueHasSpaces,
              std::string(value.name) + " starts or ends with a blank: " + Quoted(text),
              {RegAdd(value.name, Trimmed(text, blanks))}};
  return true;
}

bool DllNameHasPath(const Report& report, const NamedValue& value, Finding* finding) {
  const std::string& text = value.facts->text;
  if (std::strcmp(value.name, CZKT05B9::kFileValue) != 0 ||
      text.find_first_of("\\/:") == std::string::npos) {
    return false;
  }
  const bool absolute = text.find(':') != std::string::npos || text.rfind("\\\\", 0) == 0;
  const std::string& directory = report.registry.instPath.text;
  std::string folder = DirectoryPart(text);
  if (!absolute && !directory.empty()) {
    folder =
        directory + (CZKT05B9::NeedsSeparator(CcString(directory.c_str())) ? "\\" : "") + folder;
  }
  *finding = {
      Cause::kDllNameHasPath,
      "DllName holds a path " + Quoted(text) + ", and InstPath goes in front of it",
      {RegAdd(CZKT05B9::kDirectoryValue, folder), RegAdd(CZKT05B9::kFileValue, FilePart(text))}};
  return true;
}

bool InstPathIsFile(const Report&, const NamedValue& value, Finding* finding) {
  const std::string text = value.facts->text;
  if (std::strcmp(value.name, CZKT05B9::kDirectoryValue) != 0 || text.empty() ||
      !IsFile(Trimmed(text, "\\"))) {
    return false;
  }
  const std::string file = Trimmed(text, "\\");
  *finding = {Cause::kInstPathIsFile,
              "InstPath " + Quoted(text) + " names the library file, not its folder",
              {RegAdd(CZKT05B9::kDirectoryValue, DirectoryPart(file)),
               RegAdd(CZKT05B9::kFileValue, FilePart(file))}};
  return true;
}

bool NotInAnsiCodePage(const Report& report, const NamedValue& value, Finding* finding) {
  if (!value.facts->ansiLossy) return false;
  *finding = {Cause::kNotInAnsiCodePage,
              std::string(value.name) + " has characters outside the ANSI code page " +
                  std::to_string(report.process.ansiCodePage) + ", read as " +
                  Quoted(value.facts->text),
              {}};
  return true;
}

// In the order they are looked for; the first one found is the verdict.
constexpr ValueCheck kValueChecks[] = {UnexpandedVariable, HasQuotes,      HasSpaces,
                                       DllNameHasPath,     InstPathIsFile, NotInAnsiCodePage};

bool FindValueTextMistake(const Report& report, Finding* finding) {
  const RegistryFacts& registry = report.registry;
  const NamedValue values[] = {{CZKT05B9::kDirectoryValue, &registry.instPath},
                               {CZKT05B9::kFileValue, &registry.dllName}};
  for (const ValueCheck check : kValueChecks) {
    for (const NamedValue& value : values) {
      if (value.facts->present && CcRegistry::IsStringType(value.facts->type) &&
          check(report, value, finding)) {
        return true;
      }
    }
  }
  if (report.path.stored && report.path.bytes > kMaxAnsiPathBytes &&
      report.exists.outcome == Outcome::kFailed) {
    *finding = {Cause::kPathOverAnsiLimit,
                "the path is " + std::to_string(report.path.bytes) +
                    " bytes; within the limit of 520, but the ANSI file calls stop at 259 (" +
                    ErrorText(report.exists.error) + ")",
                {}};
    return true;
  }
  return false;
}

// ---- Missing values, the key itself ----

// What became of one value, as far as quickboot.exe is concerned.
enum class ValueState { kUsable, kMissing, kEmpty, kNotString, kOnly32BitView, kOnlyUser };

ValueState StateOf(const ValueFacts& value, bool in32BitView, bool inUserHive) {
  if (value.present && CcRegistry::IsStringType(value.type)) {
    return value.text.empty() ? ValueState::kEmpty : ValueState::kUsable;
  }
  if (value.present) return ValueState::kNotString;
  if (in32BitView) return ValueState::kOnly32BitView;
  if (inUserHive) return ValueState::kOnlyUser;
  return ValueState::kMissing;
}

Cause CauseOfState(ValueState state) {
  switch (state) {
    case ValueState::kNotString:
      return Cause::kValueNotString;
    case ValueState::kOnly32BitView:
      return Cause::kOnly32BitView;
    case ValueState::kOnlyUser:
      return Cause::kOnlyCurrentUser;
    default:
      return Cause::kValueMissing;
  }
}

// "DllName is missing", "InstPath and DllName are only under HKEY_CURRENT_USER", ...
std::string ValuePhrase(const char* subject, bool plural, ValueState state, DWORD type,
                        const std::string& userHive) {
  const std::string be = plural ? " are " : " is ";
  switch (state) {
    case ValueState::kMissing:
      return subject + be + "missing";
    case ValueState::kEmpty:
      return subject + be + "empty";
    case ValueState::kOnly32BitView:
      return subject + be + "only in the 32-bit registry view (WOW6432Node)";
    case ValueState::kOnlyUser:
      return subject + be + "only under " + userHive;
    case ValueState::kNotString:
      if (plural) return subject + be + "not strings, so they read as empty";
      return subject + be + "a " + RegistryTypeName(type) +
             " value, not a string, so it reads as empty";
    default:
      return std::string();
  }
}

// The lines that copy the values found elsewhere into the 64-bit view of HKLM.
std::vector<std::string> CopyCommands(const ElsewhereFacts& from) {
  std::vector<std::string> commands;
  if (from.hasInstPath) commands.push_back(RegAdd(CZKT05B9::kDirectoryValue, from.instPath));
  if (from.hasDllName) commands.push_back(RegAdd(CZKT05B9::kFileValue, from.dllName));
  return commands;
}

// The registry mistake behind a failure, when there is one: DllName's first, as without it the
// path names no library; InstPath's only when the file was not found.
bool FindValueMistake(const Report& report, bool fileNotFound, Finding* finding) {
  const RegistryFacts& registry = report.registry;
  const ValueState directory =
      StateOf(registry.instPath, registry.view32.hasInstPath, registry.user.hasInstPath);
  const ValueState file =
      StateOf(registry.dllName, registry.view32.hasDllName, registry.user.hasDllName);
  const bool directoryCounts = directory != ValueState::kUsable && fileNotFound;
  ValueState state = file;
  if (file != ValueState::kUsable) {
    const bool both = directoryCounts && directory == file;
    finding->cause = CauseOfState(file);
    finding->what = ValuePhrase(both ? "InstPath and DllName" : "DllName", both, file,
                                registry.dllName.type, registry.user.where);
  } else if (directoryCounts) {
    state = directory;
    finding->cause = CauseOfState(directory);
    finding->what =
        ValuePhrase("InstPath", false, directory, registry.instPath.type, registry.user.where);
  } else {
    return false;
  }
  if (state == ValueState::kOnly32BitView) finding->commands = CopyCommands(registry.view32);
  if (state == ValueState::kOnlyUser) finding->commands = CopyCommands(registry.user);
  return true;
}

Finding KeyFinding(const RegistryFacts& registry) {
  const DWORD error = registry.openError.code;
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    const ElsewhereFacts& copy = registry.view32.keyPresent ? registry.view32 : registry.user;
    const std::string stale =
        copy.keyPresent ? "; the copy under " + copy.where + " is not read" : std::string();
    if (error == ERROR_ACCESS_DENIED) {
      return {Cause::kKeyAccessDenied,
              std::string("this account may not read ") + kControlKeyName + " (error 5)" + stale,
              {}};
    }
    return {Cause::kKeyUnreadable,
            std::string("cannot open ") + kControlKeyName + ": " + ErrorText(registry.openError) +
                stale,
            {}};
  }
  if (registry.view32.keyPresent) {
    return {Cause::kOnly32BitView,
            std::string("the key ") + kControlKeyName +
                " is only in the 32-bit registry view (WOW6432Node)",
            CopyCommands(registry.view32)};
  }
  if (registry.user.keyPresent) {
    return {Cause::kOnlyCurrentUser,
            "the key is only under " + registry.user.where + "\\" + CZKT05B9::kKeyPath +
                ", not under HKEY_LOCAL_MACHINE",
            CopyCommands(registry.user)};
  }
  return {Cause::kKeyMissing, std::string("the key ") + kControlKeyName + " does not exist", {}};
}

// ---- The steps ----

bool IsPolicyError(DWORD code) {
  for (const DWORD policy : kPolicyErrors) {
    if (code == policy) return true;
  }
  return false;
}

Finding LoadFinding(const Report& report) {
  const LoadFacts& load = report.load;
  const std::string path = ShortenMiddle(report.path.text, kMaxVerdictPathBytes);
  const std::string start = "cannot load " + path + ": error " + std::to_string(load.error.code);
  if (report.exists.attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return {Cause::kDirectory, start + ": it is a folder, not a library file", {}};
  }
  if (load.crash.code != 0) {
    return {
        Cause::kLibraryCrashed, "the library crashed while starting: " + CrashText(load.crash), {}};
  }
  if (IsPolicyError(load.error.code)) {
    return {Cause::kBlockedByPolicy,
            start + ": a policy or a virus scanner refused it (" + load.error.message + ")",
            {}};
  }
  if (load.error.code == ERROR_BAD_EXE_FORMAT && load.headerRead) {
    if (!load.isImage) {
      return {
          Cause::kNotALibrary, start + ": the file is not a library (no Windows image at all)", {}};
    }
    if (load.machine == 0x014C) {
      return {Cause::kWrongArchitecture,
              start + ": the file is a 32-bit (x86) library; a 64-bit one is needed",
              {}};
    }
    if (load.machine != kMachineX64) {
      return {Cause::kWrongArchitecture,
              start + ": the file is a library for " + MachineName(load.machine) +
                  "; an x86-64 one is needed",
              {}};
    }
  }
  if (load.error.code == ERROR_MOD_NOT_FOUND) {
    if (load.missingDependencies.empty()) {
      return {Cause::kDependencyMissing, start + ": a library it needs cannot be found", {}};
    }
    std::string names, ignored;
    for (const Dependency& dependency : load.missingDependencies) {
      names += (names.empty() ? "" : ", ") + dependency.name;
      if (ignored.empty()) ignored = dependency.ignoredAt;
    }
    if (!CZKT05B9::NamesItsFolder(report.path.text.c_str())) {
      return {
          Cause::kDependencyMissing, start + ": it needs " + names + ", which cannot be found", {}};
    }
    return {Cause::kDependencyMissing,
            start + ": it needs " + names +
                ", which is neither beside the library nor in the system folder" +
                (ignored.empty() ? "" : "; the copy in " + Quoted(ignored) + " is not used"),
            {}};
  }
  if (load.error.code == ERROR_DLL_INIT_FAILED) {
    return {Cause::kStartUpFailed, start + ": the library's own start-up code refused to load", {}};
  }
  return {Cause::kLoadFailed,
          start + ": " + (load.error.message.empty() ? "(no system text)" : load.error.message),
          {}};
}

const char* StepPhrase(const std::string& step) {
  if (step == "read") return "reading the setting";
  if (step == "unload") return "being unloaded";
  return "loading";
}

Finding FailureFinding(const Report& report) {
  const ProbeFacts& probe = report.probe;
  if (probe.end == ProbeEnd::kHung) {
    return {Cause::kLibraryHung,
            std::string("the library did not return within ") +
                std::to_string(probe.timeoutSeconds) + " s while " + StepPhrase(probe.lastStep),
            {}};
  }
  if (probe.end == ProbeEnd::kExited && IsErrorException(probe.exitCode)) {
    // An exception status as exit code: a crash no handler saw (a fail-fast, a stack overflow).
    const char* name = ExceptionName(probe.exitCode);
    return {Cause::kLibraryCrashed,
            "the process ended while " + std::string(StepPhrase(probe.lastStep)) +
                " with exception " + Hex32(probe.exitCode) +
                (name ? std::string(" (") + name + ")" : std::string()),
            {}};
  }
  if (probe.end == ProbeEnd::kExited) {
    return {Cause::kLibraryExited,
            "the library ended the process with exit code " + std::to_string(probe.exitCode) +
                " while " + StepPhrase(probe.lastStep),
            {}};
  }
  if (probe.end == ProbeEnd::kNotStarted || probe.end == ProbeEnd::kFailed) {
    return {Cause::kInternalError,
            probe.end == ProbeEnd::kFailed ? "the probe process failed itself"
                                           : "the probe process could not be started",
            {}};
  }
  if (report.unload.outcome == Outcome::kCrashed && probe.end == ProbeEnd::kCrashed) {
    return {Cause::kLibraryCrashed,
            "the library crashed while being unloaded: " + CrashText(report.unload.crash),
            {}};
  }
  if (report.read.outcome == Outcome::kCrashed) {
    return {Cause::kLibraryCrashed,
            "the library crashed while reading the setting: " + CrashText(report.read.crash),
            {}};
  }
  if (report.read.outcome == Outcome::kFailed) {
    return {Cause::kReadFailed,
            "the library could not read the setting: status " + std::to_string(report.read.status) +
                " (" + Hex32(static_cast<uint32_t>(report.read.status)) + ")",
            {}};
  }
  if (report.load.outcome == Outcome::kCrashed) {
    return {Cause::kLibraryCrashed,
            "the library crashed while starting: " + CrashText(report.load.crash),
            {}};
  }

  Finding finding;
  if (!report.path.stored) {
    if (report.registry.openError.code != 0) return KeyFinding(report.registry);
    if (report.path.bytes > static_cast<uint32_t>(CZKT05B9::kMaxPathBytes)) {
      return {Cause::kPathTooLong,
              "the path is " + std::to_string(report.path.bytes) + " bytes, over the limit of " +
                  std::to_string(CZKT05B9::kMaxPathBytes),
              {}};
    }
    if (FindValueMistake(report, true, &finding)) return finding;
    return {Cause::kValueMissing, "InstPath and DllName give no path", {}};
  }

  const bool fileNotFound = report.exists.outcome == Outcome::kFailed;
  const bool loadFailed = report.load.outcome == Outcome::kFailed;
  if ((fileNotFound || loadFailed) && FindValueTextMistake(report, &finding)) return finding;
  Finding step;
  const std::string path = ShortenMiddle(report.path.text, kMaxVerdictPathBytes);
  if (fileNotFound) {
    step = {Cause::kFileMissing, "cannot find " + path + ": " + ErrorText(report.exists.error), {}};
  } else if (loadFailed) {
    step = LoadFinding(report);
  } else {
    const bool neither = !report.exports.getVersionInfo && !report.exports.ctrlQuickBoot;
    step = {Cause::kExportMissing,
            path + " lacks the entry point " +
                (neither                         ? "GetVersionInfo and CtrlQuickBoot"
                 : report.exports.getVersionInfo ? "CtrlQuickBoot"
                                                 : "GetVersionInfo"),
            {}};
  }
  if (!FindValueMistake(report, fileNotFound, &finding)) return step;
  // A DllName mistake says it all; an InstPath one explains why the bare name was not found.
  if (finding.what.rfind("InstPath is", 0) == 0) finding.what += "; " + step.what;
  return finding;
}

// The verdict line: the code, what is wrong cut to leave room for the fix, and the fix.
std::string VerdictLine(const std::string& token, const std::string& what, const std::string& fix) {
  const std::string start = "quickboot-diag: " + token + ": ";
  std::string said = OneLine(EscapeText(what));
  // A system text ends with a full stop; the fix follows after a semicolon.
  if (!said.empty() && said.back() == '.') said.pop_back();
  const std::string end = fix.empty() ? std::string() : "; fix: " + OneLine(EscapeText(fix));
  const size_t room = kMaxVerdictBytes > start.size() + end.size() + 8
                          ? kMaxVerdictBytes - start.size() - end.size()
                          : 8;
  return ShortenEnd(start + ShortenEnd(said, room) + end, kMaxVerdictBytes);
}

std::string Milliseconds(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f ms", value);
  return text;
}

// An identity text in the report's ANSI code page, control characters escaped.
std::string IdentityText(const std::wstring& text) {
  return EscapeText(WideToCodePage(text, CP_ACP));
}

std::string ValueLine(const char* name, const ValueFacts& value) {
  std::string line = std::string("  ") + name + ": ";
  if (!value.present) return line + "missing";
  line += std::string(RegistryTypeName(value.type)) + ", " + std::to_string(value.size) + " bytes";
  if (!CcRegistry::IsStringType(value.type)) return line + ": not a string type, read as empty";
  line += ": \"" + Bounded(EscapeText(value.text)) + "\"";
  if (value.type == REG_EXPAND_SZ) line += " (used unexpanded)";
  if (value.type == REG_MULTI_SZ) line += " (first string used)";
  if (value.ansiLossy) line += " (characters outside the ANSI code page read as ?)";
  return line;
}

std::string ElsewhereLine(const char* where, const ElsewhereFacts& facts) {
  std::string line = std::string("  ") + where + ": ";
  if (!facts.keyPresent) return line + "no key";
  return line + "key present" + (facts.where.empty() ? "" : " (" + facts.where + ")") +
         ", InstPath " + (facts.hasInstPath ? "present" : "missing") + ", DllName " +
         (facts.hasDllName ? "present" : "missing");
}

// How the probe ended: the JSON's token and the text report's words.
struct ProbeEndNames {
  ProbeEnd end;
  const char* token;
  const char* words;
};

constexpr ProbeEndNames kProbeEnds[] = {
    {ProbeEnd::kFinished, "finished", "finished"},
    {ProbeEnd::kCrashed, "crashed", "crashed"},
    {ProbeEnd::kExited, "exited", "ended by the library"},
    {ProbeEnd::kHung, "hung", "ended at the time limit"},
    {ProbeEnd::kFailed, "failed", "failed itself"},
    {ProbeEnd::kNotStarted, "not_started", "not started"},
};

const ProbeEndNames& NamesOf(ProbeEnd end) {
  for (const ProbeEndNames& names : kProbeEnds) {
    if (names.end == end) return names;
  }
  return kProbeEnds[sizeof(kProbeEnds) / sizeof(kProbeEnds[0]) - 1];
}

}  // namespace

void Conclude(Report* report) {
  const bool read = report->read.outcome == Outcome::kOk;
  const ProbeEnd end = report->probe.end;
  Finding finding;
  if (read && end == ProbeEnd::kFinished) {
    report->exitCode = ReadAnswer(report->read.state);
    const std::string answer = std::string("quick boot is ") + (report->exitCode ? "on" : "off") +
                               " (state word " + Hex32(report->read.state) + ")";
    if (report->unload.outcome == Outcome::kCrashed) {
      finding = {Cause::kUnloadCrashed,
                 answer + ", but the library crashed while being unloaded: " +
                     CrashText(report->unload.crash),
                 {}};
    } else {
      finding = {report->exitCode == kExitQuickBootOn ? Cause::kQuickBootOn : Cause::kQuickBootOff,
                 answer,
                 {}};
    }
  } else if (report->writeInProgress) {
    finding = {Cause::kWriteInProgress,
               "a write (quickboot.exe /1 or /0) holds the lock Global\\quickboot-write, so the "
               "library was not loaded",
               {}};
    report->exitCode = kExitControlFailed;
  } else {
    finding = FailureFinding(*report);
    // Ended by the library, the process answers what the library chose, as quickboot.exe does.
    report->exitCode = report->probe.end == ProbeEnd::kExited
                           ? static_cast<int>(report->probe.exitCode)
                           : kExitControlFailed;
  }
  report->cause = finding.cause;
  report->what = finding.what;
  report->fixCommands = finding.commands;
  report->fix = CauseOf(finding.cause).fix;
  std::string commands;
  for (const std::string& command : finding.commands) {
    commands += (commands.empty() ? "" : " & ") + command;
  }
  if (!commands.empty() && commands.size() <= kMaxInlineFixBytes) report->fix = commands;
  report->verdict = VerdictLine(CauseName(finding.cause), report->what, report->fix);
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kOk:
      return "ok";
    case Outcome::kFailed:
      return "failed";
    case Outcome::kCrashed:
      return "crashed";
    default:
      return "not_reached";
  }
}

const char* ProbeEndName(ProbeEnd end) {
  return NamesOf(end).token;
}

const char* CauseName(Cause cause) {
  return CauseOf(cause).token;
}

std::string RenderText(const Report& report) {
  const ProcessFacts& process = report.process;
  const RegistryFacts& registry = report.registry;
  std::string text = report.verdict + "\n";
  text += "process: " + process.processArchitecture + " on " + process.machineArchitecture +
          ", Windows " +
          (process.windowsVersion.empty() ? "version unknown" : process.windowsVersion) +
          ", ANSI code page " + std::to_string(process.ansiCodePage) + ", OEM code page " +
          std::to_string(process.oemCodePage) + ", elevated " +
          (process.elevated < 0 ? "unknown"
           : process.elevated   ? "yes"
                                : "no") +
          "\n";
  text += "  time " + process.time + ", current directory \"" +
          Bounded(EscapeText(process.currentDirectory)) + "\"\n";
  const HardwareFacts& hardware = report.hardware;
  text += "machine: manufacturer \"" + IdentityText(hardware.manufacturer) + "\", model \"" +
          IdentityText(hardware.model) + "\", firmware \"" +
          IdentityText(hardware.firmwareVersion) + "\" of \"" +
          IdentityText(hardware.firmwareDate) + "\"\n";
  if (report.writeInProgress) text += "write lock: held by a running write; nothing loaded\n";

  text += std::string("registry: ") + kControlKeyName + " (64-bit view): ";
  if (registry.openError.code != 0) {
    text += "cannot open: " + ErrorText(registry.openError) + "\n";
  } else {
    text += "open\n" + ValueLine("InstPath", registry.instPath) + "\n" +
            ValueLine("DllName", registry.dllName) + "\n";
  }
  text += ElsewhereLine("32-bit view (WOW6432Node)", registry.view32) + "\n";
  text += ElsewhereLine("user hives", registry.user) + "\n";

  const PathFacts& path = report.path;
  const std::string limit = std::to_string(path.bytes) + " of at most " +
                            std::to_string(CZKT05B9::kMaxPathBytes) + " bytes, " +
                            (path.separatorAdded ? "separator added" : "no separator added");
  if (path.stored) {
    text += "path: \"" + Bounded(EscapeText(path.text)) + "\" (" + limit + ")\n";
  } else if (registry.openError.code == 0) {
    text += "path: none stored (composed: " + limit + ")\n";
  } else {
    text += "path: none stored\n";
  }

  const ProbeFacts& probe = report.probe;
  text += std::string("probe: ") + NamesOf(probe.end).words + ", exit code " +
          std::to_string(probe.exitCode) + ", last step " +
          (probe.lastStep.empty() ? "none" : probe.lastStep) + ", limit " +
          std::to_string(probe.timeoutSeconds) + " s (" + Milliseconds(probe.milliseconds) + ")\n";

  const ExistsFacts& exists = report.exists;
  text += std::string("exists: ") + OutcomeName(exists.outcome);
  if (exists.outcome == Outcome::kOk) {
    text += std::string(": ") +
            (exists.attributes & FILE_ATTRIBUTE_DIRECTORY ? "directory" : "file") +
            " (attributes " + Hex32(exists.attributes) + ")";
  } else if (exists.outcome == Outcome::kFailed) {
    text += ": " + ErrorText(exists.error);
  }
  text += "\n";

  const LoadFacts& load = report.load;
  text += std::string("load: ") + OutcomeName(load.outcome);
  if (load.outcome == Outcome::kFailed) text += ": " + ErrorText(load.error);
  if (load.crash.code) text += "; " + CrashText(load.crash);
  if (load.outcome == Outcome::kOk || load.outcome == Outcome::kFailed) {
    text += " (" + Milliseconds(load.milliseconds) + ")";
  }
  text += "\n";
  if (!load.modulePath.empty()) {
    text += "  module: \"" + Bounded(EscapeText(load.modulePath)) + "\"\n";
  }
  if (load.headerRead) {
    text += load.isImage ? "  file: Windows image for " + std::string(MachineName(load.machine)) +
                               " (machine " + Hex16(load.machine) + ")"
                         : std::string("  file: not a Windows image");
    text += ", version " + (load.fileVersion.empty() ? std::string("none") : load.fileVersion) +
            ", signature " + (load.signature.empty() ? std::string("unknown") : load.signature) +
            "\n";
  }
  for (const Dependency& dependency : load.dependencies) {
    text += "  needs " + dependency.name + ": from \"" +
            Bounded(EscapeText(dependency.directory), 200) + "\"\n";
  }
  for (const Dependency& dependency : load.missingDependencies) {
    text += "  needs " + dependency.name + ": not found" +
            (dependency.ignoredAt.empty()
                 ? std::string()
                 : " (a copy in \"" + Bounded(EscapeText(dependency.ignoredAt), 200) +
                       "\" is not used)") +
            "\n";
  }

  const ExportFacts& exports = report.exports;
  text += std::string("exports: ") + OutcomeName(exports.outcome);
  if (exports.outcome != Outcome::kNotReached) {
    text += std::string(": GetVersionInfo ") + (exports.getVersionInfo ? "yes" : "no") +
            ", CtrlQuickBoot " + (exports.ctrlQuickBoot ? "yes" : "no");
  }
  text += "\n";

  const ReadFacts& read = report.read;
  text += std::string("read: ") + OutcomeName(read.outcome);
  if (read.outcome == Outcome::kCrashed) text += ": " + CrashText(read.crash);
  if (read.outcome == Outcome::kOk || read.outcome == Outcome::kFailed) {
    text += ": status " + std::to_string(read.status);
  }
  if (read.outcome == Outcome::kOk) {
    text += ", state word " + Hex32(read.state) + ", quick-boot bit " +
            std::to_string(ReadAnswer(read.state));
  }
  if (read.outcome == Outcome::kOk || read.outcome == Outcome::kFailed) {
    text += " (" + Milliseconds(read.milliseconds) + ")";
  }
  text += "\n";
  text += std::string("unload: ") + OutcomeName(report.unload.outcome);
  if (report.unload.crash.code) text += ": " + CrashText(report.unload.crash);
  text += "\n";
  for (const std::string& command : report.fixCommands) {
    text += "fix: " + Bounded(EscapeText(command)) + "\n";
  }
  text += "answer: quickboot.exe /g answers " + std::to_string(report.exitCode) + "\n";
  if (text.size() > kMaxReportBytes) text = ShortenEnd(text, kMaxReportBytes - 1) + "\n";
  return text;
}
