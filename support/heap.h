// The program's one door to the general-purpose heap. Every request goes through here, so that
// tests can count requests and refuse chosen ones; a refused request answers null, as the heap
// itself does when it cannot meet one.
#pragma once

#include <cstddef>
#include <cstdint>

void* HeapRequest(size_t bytes);  // null when the heap cannot supply the block
void HeapRelease(void* block);    // null is allowed and does nothing

// Test hook. Requests are numbered from 1 after each Reset.
namespace heap_test {

struct Counters {
  uint32_t requests = 0;  // requests made, refused ones included
  uint32_t refused = 0;
  uint32_t releases = 0;  // releases of non-null blocks
  size_t lastBytes = 0;   // size of the latest request
};

void Reset();  // clears the counters and every refusal
// Refuses `count` requests starting with request number `first` (counted since Reset).
void RefuseRequests(uint32_t first, uint32_t count = 1);
const Counters& Current();

}  // namespace heap_test
