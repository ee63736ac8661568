// Long seeded sequences of copies, writes, buffers and releases on strings that share blocks,
// each step checked against a std::string model, the block counts and the heap balance.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "tests/fuzz/cc_string_model.h"

namespace {

// mt19937's output is fixed by the C++ standard: a seed gives one sequence on every platform.
class SeededChoices {
 public:
  explicit SeededChoices(uint32_t seed) : engine(seed) {}
  uint32_t operator()(uint32_t n) { return static_cast<uint32_t>(engine() % n); }

 private:
  std::mt19937 engine;
};

constexpr int kSteps = 20000;

}  // namespace

TEST(CcStringModel, RandomSequencesMatchTheModel) {
  for (uint32_t seed : {1u, 2u, 3u, 20240611u, 0xC0FFEEu}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    SeededChoices choices(seed);
    cc_string_model::Driver<SeededChoices> driver(choices);
    for (int step = 0; step < kSteps; ++step) {
      const std::string fault = driver.Step();
      if (!fault.empty()) {
        ADD_FAILURE() << "step " << step << ": " << fault;
        break;
      }
    }
    EXPECT_EQ(driver.ReleaseAll(), "");
  }
}
