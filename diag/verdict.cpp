#include "diag/verdict.h"

#include <cstdio>

#include "app/dispatch.h"
#include "app/exit_code.h"
#include "bridge/czkt05b9.h"
#include "diag/pe_header.h"
#include "diag/text.h"

namespace {

constexpr char kKeyName[] = "HKLM\\SOFTWARE\\Vantrel\\ZKT05B9";
constexpr size_t kMaxVerdictPathBytes = 120;

// What became of one value, as far as quickboot.exe is concerned.
enum class ValueState { kUsable, kMissing, kEmpty, kNotString, kOnly32BitView, kOnlyCurrentUser };

ValueState StateOf(const ValueFacts& value, bool in32BitView, bool inCurrentUser) {
  if (value.present && IsStringType(value.type)) {
    return value.text.empty() ? ValueState::kEmpty : ValueState::kUsable;
  }
  if (value.present) return ValueState::kNotString;
  if (in32BitView) return ValueState::kOnly32BitView;
  if (inCurrentUser) return ValueState::kOnlyCurrentUser;
  return ValueState::kMissing;
}

struct Finding {
  Cause cause;
  std::string text;
};

Cause CauseOf(ValueState state) {
  switch (state) {
    case ValueState::kNotString:
      return Cause::kValueNotString;
    case ValueState::kOnly32BitView:
      return Cause::kOnly32BitView;
    case ValueState::kOnlyCurrentUser:
      return Cause::kOnlyCurrentUser;
    default:
      return Cause::kValueMissing;
  }
}

// "DllName is missing", "InstPath and DllName are only under HKEY_CURRENT_USER", ...
std::string ValuePhrase(const char* subject, bool plural, ValueState state, DWORD type) {
  const std::string be = plural ? " are " : " is ";
  switch (state) {
    case ValueState::kMissing:
      return subject + be + "missing";
    case ValueState::kEmpty:
      return subject + be + "empty";
    case ValueState::kOnly32BitView:
      return subject + be + "only in the 32-bit registry view (WOW6432Node)";
    case ValueState::kOnlyCurrentUser:
      return subject + be + "only under HKEY_CURRENT_USER";
    case ValueState::kNotString:
      if (plural) return subject + be + "not strings, so they read as empty";
      return subject + be + "a " + RegistryTypeName(type) +
             " value, not a string, so it reads as empty";
    default:
      return std::string();
  }
}

// The registry mistake behind a failure, when there is one: DllName's first, as without it the
// path names no library; InstPath's only when the file was not found.
bool FindValueMistake(const Report& report, bool fileNotFound, Finding* finding) {
  const RegistryFacts& registry = report.registry;
  const ValueState directory =
      StateOf(registry.instPath, registry.view32.instPath, registry.currentUser.instPath);
  const ValueState file =
      StateOf(registry.dllName, registry.view32.dllName, registry.currentUser.dllName);
  const bool directoryCounts = directory != ValueState::kUsable && fileNotFound;
  if (file != ValueState::kUsable) {
    const bool both = directoryCounts && directory == file;
    finding->cause = CauseOf(file);
    finding->text =
        ValuePhrase(both ? "InstPath and DllName" : "DllName", both, file, registry.dllName.type);
    return true;
  }
  if (directoryCounts) {
    finding->cause = CauseOf(directory);
    finding->text = ValuePhrase("InstPath", false, directory, registry.instPath.type);
    return true;
  }
  return false;
}

Finding KeyFinding(const RegistryFacts& registry) {
  if (registry.view32.keyPresent) {
    return {Cause::kOnly32BitView, std::string("the key ") + kKeyName +
                                       " is only in the 32-bit registry view (WOW6432Node)"};
  }
  if (registry.currentUser.keyPresent) {
    return {Cause::kOnlyCurrentUser,
            "the key is only under HKEY_CURRENT_USER\\SOFTWARE\\Vantrel\\ZKT05B9, not under "
            "HKEY_LOCAL_MACHINE"};
  }
  if (registry.openError.code == ERROR_FILE_NOT_FOUND) {
    return {Cause::kKeyMissing, std::string("the key ") + kKeyName + " does not exist"};
  }
  return {Cause::kKeyUnreadable,
          std::string("cannot open ") + kKeyName + ": " + ErrorText(registry.openError)};
}

Finding LoadFinding(const Report& report) {
  const LoadFacts& load = report.load;
  const std::string start = "cannot load " + ShortenMiddle(report.path.text, kMaxVerdictPathBytes) +
                            ": error " + std::to_string(load.error.code) + ": ";
  if (report.exists.attributes & FILE_ATTRIBUTE_DIRECTORY) {
    return {Cause::kDirectory, start + "it is a directory, not a library file"};
  }
  if (load.crash.code != 0) {
    return {Cause::kLibraryCrashed, "the library crashed while starting: " + CrashText(load.crash)};
  }
  if (load.error.code == ERROR_BAD_EXE_FORMAT && load.headerRead) {
    if (!load.isImage) {
      return {Cause::kNotALibrary, start + "the file is not a library (no Windows image at all)"};
    }
    if (load.machine == 0x014C) {
      return {Cause::kWrongArchitecture,
              start + "the file is a 32-bit (x86) library; a 64-bit one is needed"};
    }
    if (load.machine != kMachineX64) {
      return {Cause::kWrongArchitecture, start + "the file is a library for " +
                                             MachineName(load.machine) +
                                             "; an x86-64 one is needed"};
    }
  }
  if (load.error.code == ERROR_MOD_NOT_FOUND) {
    if (load.missingDependencies.empty()) {
      return {Cause::kDependencyMissing, start + "a library it needs cannot be found"};
    }
    std::string names;
    for (const std::string& name : load.missingDependencies) {
      names += (names.empty() ? "" : ", ") + name;
    }
    return {Cause::kDependencyMissing, start + "it needs " + names + ", which cannot be found"};
  }
  if (load.error.code == ERROR_DLL_INIT_FAILED) {
    return {Cause::kStartUpFailed, start + "its start-up code (DllMain) refused to load"};
  }
  return {Cause::kLoadFailed,
          start.substr(0, start.size() - 2) + ": " +
              (load.error.message.empty() ? "(no system text)" : load.error.message)};
}

Finding FailureFinding(const Report& report) {
  const std::string path = ShortenMiddle(report.path.text, kMaxVerdictPathBytes);
  if (report.read.outcome == Outcome::kCrashed) {
    return {Cause::kLibraryCrashed,
            "the library crashed in CtrlQuickBoot: " + CrashText(report.read.crash)};
  }
  if (report.read.outcome == Outcome::kFailed) {
    return {Cause::kReadFailed, "CtrlQuickBoot could not read the state: status " +
                                    std::to_string(report.read.status) + " (" +
                                    Hex32(static_cast<uint32_t>(report.read.status)) + ")"};
  }
  if (report.load.outcome == Outcome::kCrashed) {
    return {Cause::kLibraryCrashed,
            "the library crashed while starting: " + CrashText(report.load.crash)};
  }

  Finding finding;
  if (!report.path.stored) {
    if (report.registry.openError.code != 0) return KeyFinding(report.registry);
    if (report.path.bytes > static_cast<uint32_t>(CZKT05B9::kMaxPathBytes)) {
      return {Cause::kPathTooLong, "the path is " + std::to_string(report.path.bytes) +
                                       " bytes, over the limit of " +
                                       std::to_string(CZKT05B9::kMaxPathBytes)};
    }
    if (FindValueMistake(report, true, &finding)) return finding;
    return {Cause::kValueMissing, "InstPath and DllName give no path"};
  }

  const bool fileNotFound = report.exists.outcome == Outcome::kFailed;
  Finding step;
  if (fileNotFound) {
    step = {Cause::kFileMissing, "cannot find " + path + ": " + ErrorText(report.exists.error)};
  } else if (report.load.outcome == Outcome::kFailed) {
    step = LoadFinding(report);
  } else {
    const bool neither = !report.exports.getVersionInfo && !report.exports.ctrlQuickBoot;
    step = {Cause::kExportMissing, path + " does not export " +
                                       (neither ? "GetVersionInfo and CtrlQuickBoot"
                                        : report.exports.getVersionInfo ? "CtrlQuickBoot"
                                                                        : "GetVersionInfo")};
  }
  if (!FindValueMistake(report, fileNotFound, &finding)) return step;
  // A DllName mistake says it all; an InstPath one explains why the bare name was not found.
  if (finding.text.rfind("InstPath is", 0) == 0) finding.text += "; " + step.text;
  return finding;
}

std::string Milliseconds(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f ms", value);
  return text;
}

std::string ValueLine(const char* name, const ValueFacts& value) {
  std::string line = std::string("  ") + name + ": ";
  if (!value.present) return line + "missing";
  line += std::string(RegistryTypeName(value.type)) + ", " + std::to_string(value.size) + " bytes";
  if (!IsStringType(value.type)) return line + ": not a string type, read as empty";
  line += ": \"" + EscapeText(value.text) + "\"";
  if (value.type == REG_EXPAND_SZ) line += " (used unexpanded)";
  if (value.type == REG_MULTI_SZ) line += " (first string used)";
  return line;
}

std::string ElsewhereLine(const char* where, const ElsewhereFacts& facts) {
  std::string line = std::string("  ") + where + ": ";
  if (!facts.keyPresent) return line + "no key";
  return line + "key present, InstPath " + (facts.instPath ? "present" : "missing") + ", DllName " +
         (facts.dllName ? "present" : "missing");
}

}  // namespace

void Conclude(Report* report) {
  if (report->read.outcome == Outcome::kOk) {
    report->exitCode = ReadAnswer(report->read.state);
    report->cause =
        report->exitCode == kExitQuickBootOn ? Cause::kQuickBootOn : Cause::kQuickBootOff;
    report->verdict = std::string("quick boot is ") + (report->exitCode ? "on" : "off") +
                      " (state word " + Hex32(report->read.state) + ")";
  } else {
    const Finding finding = FailureFinding(*report);
    report->exitCode = kExitControlFailed;
    report->cause = finding.cause;
    report->verdict = finding.text;
  }
  report->verdict =
      ShortenEnd(OneLine(EscapeText("quickboot-diag: " + std::to_string(report->exitCode) + ": " +
                                    report->verdict)),
                 kMaxVerdictBytes);
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

const char* CauseName(Cause cause) {
  switch (cause) {
    case Cause::kQuickBootOff:
      return "quick_boot_off";
    case Cause::kQuickBootOn:
      return "quick_boot_on";
    case Cause::kKeyMissing:
      return "key_missing";
    case Cause::kKeyUnreadable:
      return "key_unreadable";
    case Cause::kOnly32BitView:
      return "only_32bit_view";
    case Cause::kOnlyCurrentUser:
      return "only_current_user";
    case Cause::kValueNotString:
      return "value_not_string";
    case Cause::kValueMissing:
      return "value_missing";
    case Cause::kPathTooLong:
      return "path_too_long";
    case Cause::kFileMissing:
      return "file_missing";
    case Cause::kDirectory:
      return "directory";
    case Cause::kWrongArchitecture:
      return "wrong_architecture";
    case Cause::kNotALibrary:
      return "not_a_library";
    case Cause::kDependencyMissing:
      return "dependency_missing";
    case Cause::kStartUpFailed:
      return "start_up_failed";
    case Cause::kLoadFailed:
      return "load_failed";
    case Cause::kExportMissing:
      return "export_missing";
    case Cause::kLibraryCrashed:
      return "library_crashed";
    case Cause::kReadFailed:
      return "read_failed";
  }
  return "unknown";
}

std::string RenderText(const Report& report) {
  const ProcessFacts& process = report.process;
  const RegistryFacts& registry = report.registry;
  std::string text = report.verdict + "\n";
  text += "process: ANSI code page " + std::to_string(process.ansiCodePage) + ", elevated " +
          (process.elevated < 0 ? "unknown"
           : process.elevated   ? "yes"
                                : "no") +
          ", Windows " +
          (process.windowsVersion.empty() ? "version unknown" : process.windowsVersion) + "\n";

  text += std::string("registry: ") + kKeyName + " (64-bit view): ";
  if (registry.openError.code != 0) {
    text += "cannot open: " + ErrorText(registry.openError) + "\n";
  } else {
    text += "open\n" + ValueLine("InstPath", registry.instPath) + "\n" +
            ValueLine("DllName", registry.dllName) + "\n";
  }
  text += ElsewhereLine("32-bit view (WOW6432Node)", registry.view32) + "\n";
  text += ElsewhereLine("HKEY_CURRENT_USER", registry.currentUser) + "\n";

  const PathFacts& path = report.path;
  const std::string limit = std::to_string(path.bytes) + " of at most " +
                            std::to_string(CZKT05B9::kMaxPathBytes) + " bytes, " +
                            (path.separatorAdded ? "separator added" : "no separator added");
  if (path.stored) {
    text += "path: \"" + EscapeText(path.text) + "\" (" + limit + ")\n";
  } else if (registry.openError.code == 0) {
    text += "path: none stored (composed: " + limit + ")\n";
  } else {
    text += "path: none stored\n";
  }

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
  if (load.outcome == Outcome::kCrashed || (load.outcome == Outcome::kFailed && load.crash.code)) {
    text += "; " + CrashText(load.crash);
  }
  if (load.outcome == Outcome::kOk || load.outcome == Outcome::kFailed) {
    text += " (" + Milliseconds(load.milliseconds) + ")";
  }
  text += "\n";
  if (load.headerRead) {
    text += load.isImage ? "  file: Windows image for " + std::string(MachineName(load.machine)) +
                               " (machine " + Hex16(load.machine) + ")\n"
                         : std::string("  file: not a Windows image\n");
  }
  for (const std::string& name : load.missingDependencies) {
    text += "  needs " + name + ": not found\n";
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
  text += "answer: quickboot.exe /g answers " + std::to_string(report.exitCode) + "\n";
  return text;
}
