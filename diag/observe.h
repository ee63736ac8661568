// Observes the machine and the control library: the process and registry facts in the
// companion itself, the steps of "quickboot.exe /g" (the bridge's lookup, existence test, load,
// export lookup, one read, the unload) in its child probe, then what the library's file says:
// its headers, where each of its imports came from, its version and its signature.
#pragma once

#include "diag/report.h"

void ObserveProcess(ProcessFacts* facts);

// The manufacturer, model and firmware the registry records for the machine (no WMI).
void ObserveHardware(HardwareFacts* facts);

// Fills the registry, path and step facts of `report`. Never writes the state word. While a
// write holds its lock, loads nothing and notes that instead.
void ObserveControlLibrary(Report* report);
