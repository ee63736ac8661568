// Exceptions as the companion sees them: what an exception record says about where it was
// raised, and the guard that turns a fault in the companion itself into one prepared answer.
#pragma once

#include <windows.h>

#include <string>

#include "diag/report.h"

// Code, address, module and offset of the exception.
CrashFacts DescribeCrash(const EXCEPTION_RECORD& record);
// Errors only (severity bits 11); informational and warning codes such as debug output pass.
bool IsErrorException(DWORD code);
// True when `address` lies in a mapped image (an EXE or DLL).
bool InMappedImage(const void* address);

// From now on, an exception nothing handles, an uncaught C++ exception or a fault in unmapped
// code ends the process with exit code 100 after writing `answer` (prepared now, so that
// nothing need be built then) to standard output, once, whichever thread fails.
void InstallInternalErrorGuard(const std::string& answer);
// Writes the prepared answer (once) and ends the process with exit code 100.
[[noreturn]] void EndWithInternalError();
