// What quickboot-diag.exe finds on the machine, step by step: filled by the observers (the
// registry and the machine in the companion, the library's steps in its child probe), concluded
// into one verdict, printed as text or JSON.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diag/causes.h"

enum class Outcome {
  kNotReached,  // an earlier step failed, or the probe ended before it
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
  UINT oemCodePage = 0;
  UINT outputCodePage = 0;     // the console output code page; 0 without a console
  int elevated = -1;           // 1 or 0; -1 when the token could not be asked
  std::string windowsVersion;  // major.minor.build
  std::string computer;
  std::string account;           // DOMAIN\name
  std::string time;              // UTC, ISO 8601
  std::string currentDirectory;  // where a bare DllName is looked for first
  std::string processArchitecture;
  std::string machineArchitecture;
};

// One of the two values in the key quickboot.exe reads.
struct ValueFacts {
  bool present = false;
  DWORD type = REG_NONE;
  DWORD size = 0;          // bytes as stored
  std::string text;        // as quickboot.exe reads it: empty unless of a string type
  std::string utf8;        // the same value read as Unicode, in UTF-8
  bool ansiLossy = false;  // holds characters the ANSI code page has not
};

// The key where quickboot.exe does not look: the 32-bit view, or a user's hive.
struct ElsewhereFacts {
  bool keyPresent = false;
  std::string where;  // "HKEY_CURRENT_USER", "HKEY_USERS\S-1-5-..."
  std::string instPath;
  std::string dllName;
  bool hasInstPath = false;
  bool hasDllName = false;
};

struct RegistryFacts {
  Win32Error openError;  // code 0: the key is open to KEY_READ
  ValueFacts instPath;
  ValueFacts dllName;
  ElsewhereFacts view32;
  ElsewhereFacts user;  // HKEY_CURRENT_USER, else the first hive under HKEY_USERS with the key
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

// A DLL the library imports and the directory that served it (empty: not loaded).
struct Dependency {
  std::string name;
  std::string directory;
  std::string ignoredAt;  // not found by the rule, but a copy lies here (PATH, current directory)
};

struct LoadFacts {
  Outcome outcome = Outcome::kNotReached;
  Win32Error error;
  double milliseconds = 0;
  std::string modulePath;  // the module actually loaded
  // From the file's headers.
  bool headerRead = false;
  bool isImage = false;  // MZ and PE signatures present
  uint16_t machine = 0;
  std::vector<Dependency> dependencies;
  std::vector<Dependency> missingDependencies;
  std::string fileVersion;  // a.b.c.d; empty: none
  std::string signature;    // "signed", "not_signed", "invalid" or "unknown"
  CrashFacts crash;         // an exception that ended the load
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

struct UnloadFacts {
  Outcome outcome = Outcome::kNotReached;
  CrashFacts crash;
};

// How the child process that ran the library's code ended.
enum class ProbeEnd {
  kFinished,  // every step ran
  kCrashed,   // an exception nothing handled ended it
  kExited,    // the library ended the process itself
  kHung,      // still running at the time limit, so it was ended
  kFailed,    // the probe's own code failed
  kNotStarted,
};

struct ProbeFacts {
  ProbeEnd end = ProbeEnd::kNotStarted;
  std::string lastStep;  // "load", "read" or "unload": the step it was in
  DWORD exitCode = 0;
  uint32_t timeoutSeconds = 15;
  double milliseconds = 0;
};

constexpr size_t kMaxIdentityChars = 64;

// The machine's identity as its firmware gives it, each at most kMaxIdentityChars characters;
// empty when missing.
struct HardwareFacts {
  std::wstring manufacturer;
  std::wstring model;
  std::wstring firmwareVersion;
  std::wstring firmwareDate;
};

struct Report {
  ProcessFacts process;
  HardwareFacts hardware;
  bool writeInProgress = false;  // a write held the lock, so nothing was loaded
  RegistryFacts registry;
  PathFacts path;
  ExistsFacts exists;
  LoadFacts load;
  ExportFacts exports;
  ReadFacts read;
  UnloadFacts unload;
  ProbeFacts probe;

  // The conclusion: what "quickboot.exe /g" answers here, and why.
  int exitCode = 100;
  Cause cause = Cause::kInternalError;
  std::string what;                      // what is wrong, or the answer
  std::string fix;                       // what to do; empty on success
  std::string verdict;                   // the first line
  std::vector<std::string> fixCommands;  // reg add lines that would mend a registry cause
};
