#include "app/failed_call.h"

#include <windows.h>

#include <ntsecapi.h>

#include <cstdint>

#include "app/exit_code.h"

namespace {

// Windows' fast-fail request (the __fastfail intrinsic, which mingw-w64 does not offer): the
// kernel ends the process at once, running no handler in it.
[[noreturn]] void FastFail(unsigned int code) {
  __asm__ volatile("int $0x29" : : "c"(code) : "memory");
  __builtin_unreachable();
}

}  // namespace

void EndAsFailedCall() {
  TerminateProcess(GetCurrentProcess(), kExitControlFailed);
  // TerminateProcess on the own process returns only when it failed.
  FastFail(FAST_FAIL_FATAL_APP_EXIT);
}

// The runtime's default terminate handler, replaced. libstdc++'s own one prints the uncaught
// exception's type through its C++ name demangler, which alone is about 46 KB of the image, and
// this program prints nothing.
namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() {
  EndAsFailedCall();
}

}  // namespace __gnu_cxx

// The stack protector's guard and failure paths (-fstack-protector-strong, _FORTIFY_SOURCE),
// instead of the runtime's (libssp), which print a message and abort.
extern "C" {

uintptr_t __stack_chk_guard = 0x5F3B9C2E74D1A600;

// A function's guard word was overwritten before it returned.
[[noreturn]] void __stack_chk_fail() {
  EndAsFailedCall();
}

// A checked memory or string call would have written past its buffer.
[[noreturn]] void __chk_fail() {
  EndAsFailedCall();
}

}  // extern "C"

namespace {

// Gives the guard a random value before any other constructor runs. It must not guard its own
// frame, whose guard word it changes. The lowest byte stays zero, so that a runaway string copy
// cannot write the value back.
[[gnu::constructor(101), gnu::no_stack_protector]] void SeedStackGuard() {
  uintptr_t seed = 0;
  if (!RtlGenRandom(&seed, sizeof(seed))) {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    seed = static_cast<uintptr_t>(counter.QuadPart) ^ GetTickCount64() ^
           (static_cast<uintptr_t>(GetCurrentProcessId()) << 32) ^
           reinterpret_cast<uintptr_t>(&counter);
  }
  __stack_chk_guard = seed & ~uintptr_t{0xFF};
}

}  // namespace
