// End to end: quickboot.exe "/g" against startup_baseline.exe, which does only the registry
// reads, the load and the read call, started alternately, each a few hundred times. Prints the
// minimum, median and 90th percentile of each and the median of the paired ratios
// (quickboot / baseline): about 1.00 means the program costs no more than the work it must do.
//
// Usage (under wine, from a Windows build folder):
//   startup_bench.exe [RUNS]        default 300
// The programs and ctlsim.dll lie beside it. For the run the control key names ctlsim.dll
// there; the key is put back as it was afterwards.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_files.h"
#include "tests/support/test_registry.h"

namespace {

constexpr REGSAM kView = KEY_WOW64_64KEY;
constexpr int kWarmUpRuns = 5;
constexpr DWORD kTimeoutMs = 20000;
constexpr DWORD kExpectedAnswer = 1;  // "/g" with the state word 2

// Puts the control key back as it was when it goes.
class SavedControlKey {
 public:
  SavedControlKey() = default;
  SavedControlKey(const SavedControlKey&) = delete;
  SavedControlKey& operator=(const SavedControlKey&) = delete;
  ~SavedControlKey() { WriteKey(HKEY_LOCAL_MACHINE, kControlKey, kView, saved_); }

 private:
  const KeyContent saved_ = ReadKey(HKEY_LOCAL_MACHINE, kControlKey, kView);
};

// Milliseconds from CreateProcessA until the program has ended; a negative value when it could
// not be started, did not end in time or gave another answer. The wait wakes at the end itself
// (no polling), so the figure holds the program's whole life and nothing of ours.
double TimedRun(const std::string& program) {
  std::string line = "\"" + program + "\" /g";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return -1;
  }
  const bool ended = WaitForSingleObject(info.hProcess, kTimeoutMs) == WAIT_OBJECT_0;
  QueryPerformanceCounter(&end);
  DWORD answer = 0;
  if (!ended) TerminateProcess(info.hProcess, 0);
  GetExitCodeProcess(info.hProcess, &answer);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  if (!ended || answer != kExpectedAnswer) return -1;
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

// The value below which `share` of the sorted values lie.
double Quantile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(share * static_cast<double>(values.size() - 1) + 0.5)];
}

void Report(const char* name, const std::vector<double>& times) {
  std::printf("%-24s min %7.2f ms   median %7.2f ms   p90 %7.2f ms\n", name, Quantile(times, 0.0),
              Quantile(times, 0.5), Quantile(times, 0.9));
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 300;
  if (runs < 1) {
    std::fprintf(stderr, "usage: startup_bench.exe [RUNS]\n");
    return 2;
  }
  const std::string bin = ThisProgramDirectory();
  const std::string programs[] = {bin + "\\quickboot.exe", bin + "\\startup_baseline.exe"};

  const SavedControlKey saved;
  if (!WriteKey(HKEY_LOCAL_MACHINE, kControlKey, kView,
                Values{{"InstPath", Text(bin)}, {"DllName", Text("ctlsim.dll")}})) {
    std::fprintf(stderr, "startup_bench: cannot record ctlsim.dll under HKLM\\%s\n", kControlKey);
    return 1;
  }
  // The simulated library starts from this state word and keeps no state file.
  SetEnvironmentVariableA("CTLSIM_STATE", "2");

  std::vector<double> times[2];
  std::vector<double> ratios;
  for (int run = -kWarmUpRuns; run < runs; ++run) {
    double pair[2];
    // Alternate which one goes first, so neither always follows the other.
    for (int step = 0; step < 2; ++step) {
      const int which = (run + step) & 1;
      pair[which] = TimedRun(programs[which]);
      if (pair[which] < 0) {
        std::fprintf(stderr, "startup_bench: %s /g did not answer %lu\n", programs[which].c_str(),
                     kExpectedAnswer);
        return 1;
      }
    }
    if (run < 0) continue;
    times[0].push_back(pair[0]);
    times[1].push_back(pair[1]);
    ratios.push_back(pair[0] / pair[1]);
  }
  std::printf("%d runs each, interleaved, after %d warm-up runs\n", runs, kWarmUpRuns);
  Report("quickboot.exe /g", times[0]);
  Report("startup_baseline.exe /g", times[1]);
  std::printf("paired ratio quickboot / baseline: median %.3f   p10 %.3f   p90 %.3f\n",
              Quantile(ratios, 0.5), Quantile(ratios, 0.1), Quantile(ratios, 0.9));
  return 0;
}
