// Scoped use of the heap module's test hook: counters start at 0, refusals end with the scope.
#pragma once

#include "support/heap.h"

class ScopedHeapProbe {
 public:
  ScopedHeapProbe() { heap_test::Reset(); }
  ~ScopedHeapProbe() { heap_test::Reset(); }
  ScopedHeapProbe(const ScopedHeapProbe&) = delete;
  ScopedHeapProbe& operator=(const ScopedHeapProbe&) = delete;

  // Refuses `count` requests from the `first` one counted from now (1 = the next request).
  void Refuse(uint32_t first, uint32_t count = 1) {
    heap_test::RefuseRequests(heap_test::Current().requests + first, count);
  }
  uint32_t Requests() const { return heap_test::Current().requests; }
  uint32_t Releases() const { return heap_test::Current().releases; }
  uint32_t Refused() const { return heap_test::Current().refused; }
  size_t LastBytes() const { return heap_test::Current().lastBytes; }
};
