// How quickboot.exe ends when a call into the control library fails beyond an answer: a crash
// anywhere, the control library included, or an exception that nothing caught.
#pragma once

// Ends the process at once with kExitControlFailed: no error-reporting dialog, no debugger, and
// nothing more run in the process.
[[noreturn]] void EndAsFailedCall();
