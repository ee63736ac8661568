// A program that has quickboot.exe's failure paths and installs no handler of its own: like
// quickboot.exe, it must end with 100 and write nothing when its command tail asks for
//   (empty)  an exception that nothing catches (the replaced default terminate handler);
//   smash    a write past a stack buffer (the stack protector's failure path);
//   overrun  a library call (memset) past a stack buffer (the stack protector's failure path, on
//            return).
#include <windows.h>

#include <cstring>

namespace {

[[gnu::noinline]] void Smash(size_t count) {
  char buffer[8];
  volatile char* at = buffer;
  for (size_t i = 0; i < count; ++i) at[i] = 'x';
  OutputDebugStringA(buffer);
}

[[gnu::noinline]] void Overrun(size_t count) {
  char buffer[8];
  std::memset(buffer, 'x', count);
  OutputDebugStringA(buffer);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int) {
  const size_t count = 16 * std::strlen(tail);  // past the buffers, unknown when compiling
  if (std::strcmp(tail, "smash") == 0) Smash(count);
  if (std::strcmp(tail, "overrun") == 0) Overrun(count);
  throw 1;
}
