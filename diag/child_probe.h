// The library's code (its load, one read of the setting and its unload) runs in a child process
// of the companion, so that a library that hangs, ends the process or crashes cannot take the
// report with it. The child is the companion itself, started with kChildProbeOption and the
// handle of a pipe; it walks the steps through the bridge quickboot.exe runs and sends one line
// per fact:
//
//   <key> <value as hexadecimal bytes>\n
//
// keys: step (load, read, unload: sent as each begins), path, attributes, load_error, load_ms,
// module_path, get_version_info, ctrl_quick_boot, module (every module loaded after the load),
// load_exception, read_status, state, read_ms, unload_exception, crash, internal (the probe's
// own code failed), done. An exception is
// "code address offset module". The parent reads the lines, waits at most the time limit, and
// ends a child that is still running.
#pragma once

#include "diag/report.h"

constexpr char kChildProbeOption[] = "--child-probe";

// The child's side. `handleText` is the pipe's handle value in decimal; answers the handle when
// it is the write end of a pipe made by the process that started this one, running this same
// program (and makes it non-inheritable), else null: the probe serves only the companion.
HANDLE CompanionPipe(const char* handleText);
// Walks the steps, sending the facts into `pipe`. Answers its exit code.
int RunChildProbe(HANDLE pipe);

// The parent's side: runs the child and fills the path, step and probe facts of `report`
// (report->probe.timeoutSeconds is the limit). Also answers the module paths the child listed.
void RunProbe(Report* report, std::vector<std::string>* modules);
