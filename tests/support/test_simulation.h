// How the simulated control library (ctlsim*.dll) behaves in the programs a test starts: the
// CTLSIM_* variables of this process's environment, which those programs inherit.
#pragma once

#include <string>

#include "tests/launcher/launch.h"

// One run's settings; a null entry leaves the variable unset.
struct Simulation {
  const char* state = "0";
  const char* readStatus = nullptr;
  const char* writeStatus = nullptr;
  const char* crash = nullptr;
  const char* attach = nullptr;
  const char* exit = nullptr;
};

// Sets the variables for its scope; the library logs its events to `logPath` and, when one is
// given, the process error mode to `errorModeLogPath`.
class ScopedSimulation {
 public:
  ScopedSimulation(const Simulation& simulation, const std::string& logPath,
                   const char* errorModeLogPath = nullptr)
      : state_("CTLSIM_STATE", simulation.state),
        readStatus_("CTLSIM_READ_STATUS", simulation.readStatus),
        writeStatus_("CTLSIM_WRITE_STATUS", simulation.writeStatus),
        crash_("CTLSIM_CRASH", simulation.crash),
        attach_("CTLSIM_ATTACH", simulation.attach),
        exit_("CTLSIM_EXIT", simulation.exit),
        log_("CTLSIM_LOG", logPath.c_str()),
        errorModeLog_("CTLSIM_ERROR_MODE_LOG", errorModeLogPath) {}

 private:
  ScopedEnvironmentVariable state_, readStatus_, writeStatus_, crash_, attach_, exit_, log_,
      errorModeLog_;
};
