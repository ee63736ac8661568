// Stands in for the diagnostic companion quickboot-diag.exe in the deployment script tests: prints
// a fixed report whose first line is the verdict and exits 100, as the companion does when the
// control library cannot be loaded.
#include <cstdio>

int main() {
  std::fputs(
      "quickboot-diag: 100: cannot load C:\\R&D (x86)\\ctl.dll: error 193: the file is a 32-bit "
      "(x86) library; a 64-bit one is needed\n"
      "InstPath: C:\\R&D (x86)\n",
      stdout);
  return 100;
}
