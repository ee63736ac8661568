// One readable page followed by one that faults on any access: a text placed at the end of the
// readable page shows that nothing past its terminator is read.
#pragma once

#include <cstddef>
#include <cstring>

#include "support/platform.h"

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

class GuardedPage {
 public:
  GuardedPage() {
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    size_ = info.dwPageSize;
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, 2 * size_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    if (base_ && !VirtualProtect(base_ + size_, size_, PAGE_NOACCESS, &previous)) Release();
#else
    size_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* mapped =
        mmap(nullptr, 2 * size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = mapped == MAP_FAILED ? nullptr : static_cast<char*>(mapped);
    if (base_ && mprotect(base_ + size_, size_, PROT_NONE) != 0) Release();
#endif
  }
  ~GuardedPage() {
    Release();
  }
  GuardedPage(const GuardedPage&) = delete;
  GuardedPage& operator=(const GuardedPage&) = delete;

  bool Ready() const {
    return base_ != nullptr;
  }
  // Copies `count` bytes so that the last of them is the last readable byte.
  const char* PlaceAtEnd(const char* bytes, size_t count) {
    return static_cast<const char*>(std::memcpy(base_ + size_ - count, bytes, count));
  }
  // The first byte that faults.
  const char* Forbidden() const {
    return base_ + size_;
  }

 private:
  void Release() {
    if (!base_) return;
#ifdef _WIN32
    VirtualFree(base_, 0, MEM_RELEASE);
#else
    munmap(base_, 2 * size_);
#endif
    base_ = nullptr;
  }

  char* base_ = nullptr;
  size_t size_ = 0;
};
