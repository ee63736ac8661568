// The command tail: the process command line with the program name and the blanks after it
// cut off. Our own walk, not the C runtime's.
#pragma once

// Points into `commandLine` (null is walked as the empty text) at the first byte after the
// program name and any bytes 0x01..0x20 that follow it; blanks at the end stay in the tail.
const char* FindCommandTail(const char* commandLine);
