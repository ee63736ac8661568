// A kernel handle owned for as long as it lives; INVALID_HANDLE_VALUE is held as none.
#pragma once

#include <windows.h>

struct ScopedHandle {
  HANDLE handle = nullptr;
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE opened)
      : handle(opened == INVALID_HANDLE_VALUE ? nullptr : opened) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Close(); }
  void Close() {
    if (handle) CloseHandle(handle);
    handle = nullptr;
  }
};
