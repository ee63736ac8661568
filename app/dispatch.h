// Drives the bridge through one load, one read and at most one write, and answers the exit
// code for the command tail.
#pragma once

#include <cstdint>

class CZKT05B9;

// The "/g" answer for a state word that was read: its quick-boot bit (bit 1), 0 or 1.
inline int ReadAnswer(uint32_t state) {
  return (state >> 1) & 1;
}

int DispatchCommand(CZKT05B9& bridge, const char* tail);

// DispatchCommand, with CcExceptionMemory turned into kExitControlFailed.
int DispatchCommandGuarded(CZKT05B9& bridge, const char* tail);
