// Exceptions inside the control library while the companion runs one of its steps. An exception
// nothing handles, or one raised in unmapped code (a library that unloaded itself and returned
// into its own code), marks the watched step crashed and ends the run
// through the handler given to InstallCrashHandler.
#pragma once

#include <windows.h>

#include "diag/report.h"

// Called once the watched step is marked crashed; prints the report and ends the process.
using CrashHandler = void (*)();

void InstallCrashHandler(CrashHandler handler);

// Watches one step for as long as it lives: records the first exception raised in it (the
// library may handle that one itself) and, on a crash, marks the step.
class CrashWatch {
 public:
  CrashWatch(Outcome* outcome, CrashFacts* crash);
  CrashWatch(const CrashWatch&) = delete;
  CrashWatch& operator=(const CrashWatch&) = delete;
  ~CrashWatch();

  // Keeps the first exception seen.
  void Note(const CrashFacts& crash) {
    if (crash_->code == 0) *crash_ = crash;
  }
  void MarkCrashed(const CrashFacts& crash) {
    *outcome_ = Outcome::kCrashed;
    *crash_ = crash;
  }

 private:
  Outcome* outcome_;
  CrashFacts* crash_;
};

// True when `address` lies in a mapped image (an EXE or DLL).
bool InMappedImage(const void* address);
