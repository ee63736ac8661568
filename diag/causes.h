// Why "quickboot.exe /g" answers what it does: one table of causes, each with its stable token
// (the JSON "cause" and the verdict's code), its meaning and what to do. The text report, the
// JSON report and the README's table of causes all come from it.
#pragma once

#include <cstddef>

enum class Cause {
  kQuickBootOff,
  kQuickBootOn,
  kKeyMissing,
  kKeyAccessDenied,
  kKeyUnreadable,
  kOnly32BitView,
  kOnlyCurrentUser,
  kValueNotString,
  kValueMissing,
  kUnexpandedVariable,
  kValueHasQuotes,
  kValueHasSpaces,
  kDllNameHasPath,
  kInstPathIsFile,
  kNotInAnsiCodePage,
  kPathTooLong,
  kPathOverAnsiLimit,
  kFileMissing,
  kDirectory,
  kNotALibrary,
  kWrongArchitecture,
  kDependencyMissing,
  kBlockedByPolicy,
  kStartUpFailed,
  kLoadFailed,
  kExportMissing,
  kLibraryCrashed,
  kLibraryHung,
  kLibraryExited,
  kUnloadCrashed,
  kReadFailed,
  kWriteInProgress,
  kInternalError,
};

struct CauseRow {
  Cause cause;
  const char* token;    // [a-z0-9_]+, never changes once published
  const char* meaning;  // what it means, in an administrator's words
  const char* fix;      // what to do; empty when all is well
};

// The row of `cause`.
const CauseRow& CauseOf(Cause cause);
// Every row, in the table's order.
const CauseRow* AllCauses(size_t* count);
