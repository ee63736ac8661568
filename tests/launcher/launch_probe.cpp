// The launcher's test subject: writes its command line to stdout and its current directory to
// stderr, or with PROBE_FLOOD=N instead N bytes to each, interleaved; then sleeps PROBE_SLEEP
// milliseconds and exits with PROBE_EXIT. All three are inherited from the launching process.
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

unsigned long NumberVariable(const char* name) {
  char value[32];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
  return length == 0 || length >= sizeof(value) ? 0 : std::strtoul(value, nullptr, 0);
}

void WriteAll(HANDLE file, const char* bytes, DWORD count) {
  DWORD written = 0;
  while (count > 0 && WriteFile(file, bytes, count, &written, nullptr) && written > 0) {
    bytes += written;
    count -= written;
  }
}

}  // namespace

int main() {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  const unsigned long flood = NumberVariable("PROBE_FLOOD");
  static char chunk[8192];
  std::memset(chunk, 'x', sizeof(chunk));
  for (unsigned long left = flood; left > 0;) {
    const DWORD count = left < sizeof(chunk) ? static_cast<DWORD>(left) : sizeof(chunk);
    WriteAll(output, chunk, count);
    WriteAll(error, chunk, count);
    left -= count;
  }
  if (flood == 0) {
    WriteAll(output, GetCommandLineA(), static_cast<DWORD>(std::strlen(GetCommandLineA())));
    char directory[MAX_PATH];
    WriteAll(error, directory, GetCurrentDirectoryA(sizeof(directory), directory));
  }
  Sleep(NumberVariable("PROBE_SLEEP"));
  return static_cast<int>(NumberVariable("PROBE_EXIT"));
}
