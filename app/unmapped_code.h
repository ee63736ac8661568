// Faults that no frame can handle, because the code that raised them is no longer mapped.
#pragma once

#include <windows.h>

// True when the exception was raised at an address that holds no committed memory, such as the
// code of a library that unloaded itself and then returned into it. The frame walk that would
// reach an exception filter cannot start there: with no unwind data, the unwinder takes stale
// stack contents for return addresses and derails.
bool IsFaultInUnmappedCode(const EXCEPTION_RECORD& record);
