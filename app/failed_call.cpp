#include "app/failed_call.h"

#include <windows.h>

#include "app/exit_code.h"
#include "app/stack_guard.h"

void EndAsFailedCall() {
  TerminateProcess(GetCurrentProcess(), kExitControlFailed);
  // TerminateProcess on the own process returns only when it failed.
  FastFail(FAST_FAIL_FATAL_APP_EXIT);
}

// A smashed stack is a crash like any other.
void EndOnSmashedStack() {
  EndAsFailedCall();
}

// The runtime's default terminate handler, replaced. libstdc++'s own one prints the uncaught
// exception's type through its C++ name demangler, which alone is about 46 KB of the image, and
// this program prints nothing.
namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() {
  EndAsFailedCall();
}

}  // namespace __gnu_cxx
