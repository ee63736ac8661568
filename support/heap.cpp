#include "support/heap.h"

#include "support/platform.h"

namespace {

heap_test::Counters g_counters;
uint32_t g_refuseFirst = 0;  // 0: refuse nothing
uint32_t g_refuseCount = 0;

}  // namespace

void* HeapRequest(size_t bytes) {
  const uint32_t number = ++g_counters.requests;
  g_counters.lastBytes = bytes;
  if (g_refuseFirst != 0 && number >= g_refuseFirst && number - g_refuseFirst < g_refuseCount) {
    ++g_counters.refused;
    return nullptr;
  }
  return HeapAlloc(GetProcessHeap(), 0, bytes);
}

void HeapRelease(void* block) {
  if (!block) return;
  ++g_counters.releases;
  HeapFree(GetProcessHeap(), 0, block);
}

namespace heap_test {

void Reset() {
  g_counters = Counters();
  g_refuseFirst = 0;
  g_refuseCount = 0;
}

void RefuseRequests(uint32_t first, uint32_t count) {
  g_refuseFirst = first;
  g_refuseCount = count;
}

const Counters& Current() {
  return g_counters;
}

}  // namespace heap_test
