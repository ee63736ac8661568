// What quickboot-diag.exe finds on the machine, step by step: filled by the observers around the
// bridge, concluded into one verdict, printed as text or JSON.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

enum class Outcome {
  kNotReached,  // an earlier step failed
  kOk,
  kFailed,
  kCrashed,  // an exception in the library that nothing handled
};

// A Win32 error number (0: none) and the system's text for it (empty when it has none).
struct Win32Error {
  DWORD code = 0;
  std::string message;
};

struct ProcessFacts {
  UINT ansiCodePage = 0;
  int elevated = -1;           // 1 or 0; -1 when the token could not be asked
  std::string windowsVersion;  // major.minor.build
};

// One of the two values in the key quickboot.exe reads.
struct ValueFacts {
  bool present = false;
  DWORD type = REG_NONE;
  DWORD size = 0;    // bytes as stored
  std::string text;  // as quickboot.exe reads it: empty unless of a string type
};

// The same key where quickboot.exe does not look: the 32-bit view, or HKEY_CURRENT_USER.
struct ElsewhereFacts {
  bool keyPresent = false;
  bool instPath = false;
  bool dllName = false;
};

struct RegistryFacts {
  Win32Error openError;  // code 0: the key is open to KEY_READ
  ValueFacts instPath;
  ValueFacts dllName;
  ElsewhereFacts view32;
  ElsewhereFacts currentUser;
};

struct PathFacts {
  bool stored = false;  // the lookup stored a path
  std::string text;     // the stored path
  uint32_t bytes = 0;   // its length; when nothing was stored, the length composed
  bool separatorAdded = false;
};

// An exception raised inside the library.
struct CrashFacts {
  DWORD code = 0;  // 0: none seen
  uintptr_t address = 0;
  std::string module;    // file name of the image holding the address; empty: none does
  uintptr_t offset = 0;  // the address within that image
};

struct ExistsFacts {
  Outcome outcome = Outcome::kNotReached;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  Win32Error error;
};

struct LoadFacts {
  Outcome outcome = Outcome::kNotReached;
  Win32Error error;
  double milliseconds = 0;
  // From the file's headers, read when the load failed.
  bool headerRead = false;
  bool isImage = false;  // MZ and PE signatures present
  uint16_t machine = 0;
  std::vector<std::string> missingDependencies;
  CrashFacts crash;  // the first exception raised during the load, handled or not
};

struct ExportFacts {
  Outcome outcome = Outcome::kNotReached;
  bool getVersionInfo = false;
  bool ctrlQuickBoot = false;
};

struct ReadFacts {
  Outcome outcome = Outcome::kNotReached;
  int32_t status = 0;
  uint32_t state = 0;
  double milliseconds = 0;
  CrashFacts crash;
};

// Why the answer is what it is; the JSON key "cause" spells these in lower case.
enum class Cause {
  kQuickBootOff,
  kQuickBootOn,
  kKeyMissing,
  kKeyUnreadable,
  kOnly32BitView,
  kOnlyCurrentUser,
  kValueNotString,
  kValueMissing,
  kPathTooLong,
  kFileMissing,
  kDirectory,
  kWrongArchitecture,
  kNotALibrary,
  kDependencyMissing,
  kStartUpFailed,
  kLoadFailed,
  kExportMissing,
  kLibraryCrashed,
  kReadFailed,
};

struct Report {
  ProcessFacts process;
  RegistryFacts registry;
  PathFacts path;
  ExistsFacts exists;
  LoadFacts load;
  ExportFacts exports;
  ReadFacts read;

  // The conclusion: what "quickboot.exe /g" answers here, and why.
  int exitCode = 100;
  Cause cause = Cause::kKeyMissing;
  std::string verdict;
};
