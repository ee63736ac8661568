#include "app/failed_call.h"

#include <windows.h>

#include "app/exit_code.h"

void EndAsFailedCall() {
  TerminateProcess(GetCurrentProcess(), kExitControlFailed);
  for (;;) {
  }
}

// The runtime's default terminate handler, replaced. libstdc++'s own one prints the uncaught
// exception's type through its C++ name demangler, which alone is about 46 KB of the image, and
// this program prints nothing.
namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() {
  EndAsFailedCall();
}

}  // namespace __gnu_cxx
