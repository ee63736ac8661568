// Stands in for eventcreate.exe, which wine does not have, in the start-up script's tests:
// appends its command line, one line, to the file named by QB_EVENT_LOG and prints nothing.
#include <windows.h>

#include <cstdio>

int main() {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("QB_EVENT_LOG", path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) return 1;
  FILE* log = std::fopen(path, "a");
  if (!log) return 1;
  std::fprintf(log, "%s\n", GetCommandLineA());
  std::fclose(log);
  return 0;
}
