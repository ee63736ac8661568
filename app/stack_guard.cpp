#include "app/stack_guard.h"

#include <windows.h>

#include <ntsecapi.h>

#include <cstdint>

extern "C" {

uintptr_t __stack_chk_guard = 0x5F3B9C2E74D1A600;

// A function's guard word was overwritten before it returned.
[[noreturn]] void __stack_chk_fail() {
  EndOnSmashedStack();
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
