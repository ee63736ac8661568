// The machine-wide write lock: quickboot.exe holds it while "/1" or "/0" runs, from before the
// load until the process ends, so that two writes never reach the control library at once. "/g"
// never takes it. The diagnostic companion looks for it by name before it loads anything.
#pragma once

#include <windows.h>

// In the global namespace, so that a write from a service, a start-up script and an
// administrator's session meet; only administrators and services may create global objects.
inline constexpr wchar_t kWriteLockName[] = L"Global\\quickboot-write";

// True for the tails that write, compared as dispatch compares them.
bool IsWriteCommand(const char* tail);

// Owns the lock's handle; the lock is held while the handle is open and the system lets go of
// it when the process ends, however it ends.
class WriteLock {
 public:
  WriteLock() = default;
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;
  ~WriteLock();

  // Takes the lock; false when another process holds it. An account that may not create global
  // objects writes unlocked when nobody holds the lock, as it did before there was one.
  bool Take();

 private:
  HANDLE handle_ = nullptr;
};
