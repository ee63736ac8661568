// The stack protector's guard word and failure path (-fstack-protector-strong), in place of the
// runtime's (libssp), which prints a message and aborts. Each program that links
// stack_guard.cpp says how it ends on a smashed stack by defining EndOnSmashedStack.
#pragma once

// Called when a guard word was overwritten; must end the process without returning.
[[noreturn]] void EndOnSmashedStack();

// Windows' fast-fail request (the __fastfail intrinsic, which mingw-w64 does not offer): the
// kernel ends the process at once, running no handler in it. The last resort when even
// TerminateProcess on the own process has failed.
[[noreturn]] inline void FastFail(unsigned int code) {
  __asm__ volatile("int $0x29" : : "c"(code) : "memory");
  __builtin_unreachable();
}
