#include "diag/causes.h"

namespace {

// Fixes that name a registry change say "reg add": quickboot-diag --fix prints the exact lines.
const CauseRow kCauses[] = {
    {Cause::kQuickBootOff, "quick_boot_off", "All is well: quick boot is off.", ""},
    {Cause::kQuickBootOn, "quick_boot_on", "All is well: quick boot is on.", ""},
    {Cause::kKeyMissing, "key_missing",
     "The key HKLM\\SOFTWARE\\Vantrel\\ZKT05B9 does not exist: the control library was never "
     "registered.",
     "install the control library, or add InstPath and DllName with reg add ... /reg:64"},
    {Cause::kKeyAccessDenied, "key_access_denied",
     "The key exists, but its permissions keep this account from reading it (a copy elsewhere "
     "does not count).",
     "give SYSTEM, Administrators and Users read access to the key (regedit, Permissions)"},
    {Cause::kKeyUnreadable, "key_unreadable",
     "The key cannot be opened for another reason; the system text says why.",
     "repair the key's permissions, or delete it and register the library again"},
    {Cause::kOnly32BitView, "only_32bit_view",
     "The key or a value is only in the 32-bit registry view (WOW6432Node), where a 32-bit "
     "installer or reg writes it.",
     "write the values to the 64-bit view with reg add ... /reg:64"},
    {Cause::kOnlyCurrentUser, "only_current_user",
     "The key is only in a user's hive (HKEY_CURRENT_USER, or HKEY_USERS when run as SYSTEM).",
     "write the values under HKLM with reg add ... /reg:64"},
    {Cause::kValueNotString, "value_not_string",
     "A value is not a string (REG_DWORD, REG_BINARY ...), so it reads as empty.",
     "delete the value and add it again as REG_SZ with reg add ... /t REG_SZ /reg:64"},
    {Cause::kValueMissing, "value_missing", "InstPath or DllName is missing or empty.",
     "add the value with reg add ... /t REG_SZ /reg:64"},
    {Cause::kUnexpandedVariable, "unexpanded_variable",
     "A value holds an environment variable such as %SystemDrive%; quickboot.exe uses it "
     "unexpanded, even in a REG_EXPAND_SZ.",
     "store the expanded path as REG_SZ with reg add ... /reg:64"},
    {Cause::kValueHasQuotes, "value_has_quotes",
     "A value is stored with quotes around it; they become part of the path.",
     "store the value without quotes with reg add ... /reg:64"},
    {Cause::kValueHasSpaces, "value_has_spaces",
     "A value starts or ends with a blank; it becomes part of the path.",
     "store the value without the blanks with reg add ... /reg:64"},
    {Cause::kDllNameHasPath, "dllname_has_path",
     "DllName holds a path; quickboot.exe puts InstPath in front of it.",
     "put the folder in InstPath and only the file name in DllName (reg add ... /reg:64)"},
    {Cause::kInstPathIsFile, "instpath_is_file",
     "InstPath names the library file itself instead of its folder.",
     "set InstPath to the folder and DllName to the file name (reg add ... /reg:64)"},
    {Cause::kNotInAnsiCodePage, "not_in_ansi_code_page",
     "A value has characters outside the system's ANSI code page; quickboot.exe reads them as "
     "'?'.",
     "move the library into a folder whose path has only ANSI characters and set InstPath"},
    {Cause::kPathTooLong, "path_too_long",
     "InstPath and DllName together are over quickboot.exe's 520-byte limit.",
     "move the library into a shorter folder and set InstPath to it"},
    {Cause::kPathOverAnsiLimit, "path_over_ansi_limit",
     "The path is over 259 bytes: within the 520-byte limit, but the ANSI file calls refuse it "
     "(error 206 or 3).",
     "move the library into a folder whose path stays under 260 bytes and set InstPath"},
    {Cause::kFileMissing, "file_missing", "No file at the path InstPath and DllName give.",
     "install the library, or correct InstPath and DllName"},
    {Cause::kDirectory, "directory", "The path names a folder, not a library file.",
     "make DllName name the library file itself"},
    {Cause::kNotALibrary, "not_a_library",
     "The file is not a Windows library at all (damaged or wrong file).",
     "reinstall the control library"},
    {Cause::kWrongArchitecture, "wrong_architecture",
     "The library is built for another processor (for example 32-bit x86).",
     "install the vendor's 64-bit (x86-64) library"},
    {Cause::kDependencyMissing, "dependency_missing",
     "A DLL the library needs is neither beside the library nor in the system folder; a copy "
     "on PATH or in the current folder does not count, as the loader does not look there.",
     "install what it needs (often a C++ runtime package)"},
    {Cause::kBlockedByPolicy, "blocked_by_policy",
     "A policy refused the load: Smart App Control, WDAC, AppLocker or an antivirus (errors "
     "4551, 1260, 225, 226, 577).",
     "allow the library in the policy, or get a signed build from its vendor"},
    {Cause::kStartUpFailed, "start_up_failed",
     "The library's own start-up code refused to load (error 1114).",
     "a question for the library's vendor; reinstalling it may help"},
    {Cause::kLoadFailed, "load_failed", "Any other load error; the system text says why.",
     "reinstall the library; the error text names the cause"},
    {Cause::kExportMissing, "export_missing",
     "The file is not the control library, or a version without its entry points.",
     "install the right version of the control library"},
    {Cause::kLibraryCrashed, "library_crashed",
     "The library crashed while starting or reading the setting.",
     "send this line to the library's vendor"},
    {Cause::kLibraryHung, "library_hung",
     "The library did not return within the time limit (--timeout); quickboot.exe would hang.",
     "restart the machine; if it stays, send this line to the library's vendor"},
    {Cause::kLibraryExited, "library_exited",
     "The library ended the process itself; the exit code is the library's own.",
     "send this line to the library's vendor"},
    {Cause::kUnloadCrashed, "unload_crashed",
     "The setting was read, but the library crashed while being unloaded; the exit code is the "
     "setting.",
     "send this line to the library's vendor"},
    {Cause::kReadFailed, "read_failed",
     "The library refused to read the setting; the status is the vendor's own code.",
     "a question for the library's vendor"},
    {Cause::kWriteInProgress, "write_in_progress",
     "A write (quickboot.exe /1 or /0) is still running, one left running or one from another "
     "kit; no second write is started and the library is not called meanwhile.",
     "wait for the running write to end, then run again"},
    {Cause::kInternalError, "internal_error", "quickboot-diag itself failed.",
     "run it again; if it stays, report this line to quickboot's maintainers"},
};

}  // namespace

const CauseRow& CauseOf(Cause cause) {
  for (const CauseRow& row : kCauses) {
    if (row.cause == cause) return row;
  }
  return kCauses[sizeof(kCauses) / sizeof(kCauses[0]) - 1];
}

const CauseRow* AllCauses(size_t* count) {
  *count = sizeof(kCauses) / sizeof(kCauses[0]);
  return kCauses;
}
