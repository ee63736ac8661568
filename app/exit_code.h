// The program's exit codes, its only answer.
#pragma once

enum ExitCode : int {
  kExitOk = 0,               // "/g": quick boot off; "/1", "/0": written; any other tail
  kExitQuickBootOn = 1,      // "/g": quick boot on
  kExitControlFailed = 100,  // the control library was not located, loaded or called
};
