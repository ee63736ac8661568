// The image gate's counter-example: built without the hardening (tests/release/CMakeLists.txt)
// and calling a banned string function, so that scripts/check-image must reject it on each count.
// Its checked copy takes the runtime's failure path, which prints and aborts.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
  char copy[64];
  lstrcpyA(copy, tail);
  char checked[16];
  std::memcpy(checked, tail, static_cast<size_t>(lstrlenA(tail)));
  return lstrlenA(copy) + checked[0];
}
