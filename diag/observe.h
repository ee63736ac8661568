// Walks the steps of "quickboot.exe /g" through the code quickboot.exe runs (the bridge's
// lookup, existence test, load and export lookup, then one read of the state word) and records
// what each did, with what the bridge does not keep: error numbers, value types, the file's
// headers, timings.
#pragma once

#include "diag/report.h"

void ObserveProcess(ProcessFacts* facts);

// Fills the registry, path and step facts of `report`. Never writes the state word. A crash in
// the library does not return here (crash_guard.h).
void ObserveControlLibrary(Report* report);
