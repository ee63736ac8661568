// The launcher's test subject. By default it writes its command line to stdout and its current
// directory to stderr. Environment, inherited from the launching process:
//   PROBE_FLOOD  instead write this many bytes to each of stdout and stderr, interleaved
//   PROBE_SLEEP  milliseconds to wait before exiting
//   PROBE_EXIT   exit code (default 0)
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

unsigned long NumberVariable(const char* name, unsigned long fallback) {
  char value[32];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  if (length == 0 || length >= sizeof(value)) return fallback;
  return std::strtoul(value, nullptr, 0);
}

void WriteAll(HANDLE file, const char* bytes, DWORD count) {
  while (count > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, count, &written, nullptr) || written == 0) return;
    bytes += written;
    count -= written;
  }
}

}  // namespace

int main() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  const unsigned long flood = NumberVariable("PROBE_FLOOD", 0);
  if (flood > 0) {
    static char chunk[8192];
    std::memset(chunk, 'x', sizeof(chunk));
    for (unsigned long left = flood; left > 0;) {
      const DWORD count = left < sizeof(chunk) ? static_cast<DWORD>(left) : sizeof(chunk);
      WriteAll(output, chunk, count);
      WriteAll(error, chunk, count);
      left -= count;
    }
  } else {
    const char* line = GetCommandLineA();
    WriteAll(output, line, static_cast<DWORD>(std::strlen(line)));
    char directory[MAX_PATH];
    const DWORD length = GetCurrentDirectoryA(sizeof(directory), directory);
    if (length > 0 && length < sizeof(directory)) WriteAll(error, directory, length);
  }
  Sleep(NumberVariable("PROBE_SLEEP", 0));
  return static_cast<int>(NumberVariable("PROBE_EXIT", 0));
}
