// The runtime's default terminate handler, replaced for quickboot.exe. libstdc++'s own one
// prints the uncaught exception's type through its C++ name demangler, which alone is about
// 46 KB of the image, and this program prints nothing. An exception nothing caught is a
// failed call, as it is once WinMain has installed its own handler.
#include <windows.h>

#include "app/exit_code.h"

namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() {
  TerminateProcess(GetCurrentProcess(), kExitControlFailed);
  for (;;) {
  }
}

}  // namespace __gnu_cxx
