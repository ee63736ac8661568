// Drives the bridge through one load, one read and at most one write, and answers the exit
// code for the command tail.
#pragma once

class CZKT05B9;

int DispatchCommand(CZKT05B9& bridge, const char* tail);

// DispatchCommand, with CcExceptionMemory turned into kExitControlFailed.
int DispatchCommandGuarded(CZKT05B9& bridge, const char* tail);
