// Fuzz target: the input chooses a sequence of copies, writes, buffers, releases and refused
// heap requests on strings that share blocks; every step is checked against the model.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/cc_string_model.h"

namespace {

class InputChoices {
 public:
  explicit InputChoices(FuzzedDataProvider& input) : input(input) {}
  uint32_t operator()(uint32_t n) { return input.ConsumeIntegralInRange<uint32_t>(0, n - 1); }
  bool Exhausted() const { return input.remaining_bytes() == 0; }

 private:
  FuzzedDataProvider& input;
};

void Fail(const std::string& fault) {
  std::fprintf(stderr, "model mismatch: %s\n", fault.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  InputChoices choices(input);
  cc_string_model::Driver<InputChoices> driver(choices);
  while (!choices.Exhausted()) {
    const std::string fault = driver.Step();
    if (!fault.empty()) Fail(fault);
  }
  const std::string fault = driver.ReleaseAll();
  if (!fault.empty()) Fail(fault);
  return 0;
}
