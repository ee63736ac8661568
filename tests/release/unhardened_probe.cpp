// The image gate's counter-example: built without the hardening (tests/release/CMakeLists.txt)
// and calling a banned string function, so that scripts/check-image must reject it on each count.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
  char copy[64];
  lstrcpyA(copy, tail);
  return lstrlenA(copy);
}
