// An exception that nothing catches, in a program that has quickboot.exe's replacement of the
// runtime's default terminate handler and installs no handler of its own: like quickboot.exe,
// it must end with 100 and write nothing.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  throw 1;
}
