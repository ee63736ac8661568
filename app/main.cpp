// Process entry of quickboot.exe: no window, no output; the exit code is the answer.
#include <windows.h>

#include "app/command_tail.h"
#include "app/dispatch.h"
#include "app/exit_code.h"
#include "app/failed_call.h"
#include "app/unmapped_code.h"
#include "app/write_lock.h"
#include "bridge/czkt05b9.h"

namespace {

// Defined before the bridge, so that it is let go of only after the library is unloaded.
WriteLock g_writeLock;

// Constructed empty at start-up; its destructor runs from the exit list after WinMain returns,
// unloading the control library and freeing its path.
CZKT05B9 g_bridge;

// A crash that no frame handled, in the control library or anywhere else.
LONG WINAPI EndOnCrash(EXCEPTION_POINTERS*) {
  EndAsFailedCall();
}

// The unhandled-exception filter is reached only through a frame walk, which a fault in unmapped
// code derails. A vectored handler runs before any walk; it ends the run for that fault only,
// so a library's own first-chance faults and C++ exceptions take their ordinary course.
LONG WINAPI EndOnFaultInUnmappedCode(EXCEPTION_POINTERS* exception) {
  if (IsFaultInUnmappedCode(*exception->ExceptionRecord)) EndAsFailedCall();
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Before any file test or library load: no system error dialog may stop an unattended run.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  AddVectoredExceptionHandler(1, EndOnFaultInUnmappedCode);
  SetUnhandledExceptionFilter(EndOnCrash);

  // The runtime's lpCmdLine follows rules of its own; the tail is cut from the real line.
  const char* tail = FindCommandTail(GetCommandLineA());
  // A write while another runs would reach the library twice at once: refused before the load.
  if (IsWriteCommand(tail) && !g_writeLock.Take()) return kExitControlFailed;
  return DispatchCommandGuarded(g_bridge, tail);
}
