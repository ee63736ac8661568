// A read-only look at the control key: the 64-bit view of HKEY_LOCAL_MACHINE that quickboot.exe
// reads, value by value, and the places an installer may have written it by mistake.
#pragma once

#include "diag/report.h"

void ObserveRegistry(RegistryFacts* facts);
