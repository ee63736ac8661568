// A dependency of the ctlsim_needshelper variant. It is built into a folder of its own, away from
// the programs, so that the loader finds it only where a test puts it (the current directory).
#include <windows.h>

extern "C" __declspec(dllexport) void WINAPI QbHelperEntry() {}
