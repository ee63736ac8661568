// Copy cost of CcString against std::string (16 B, 1 KiB, 1 MiB), and append cost across the
// capacity classes: appends that stay in their block against those that cross a class border.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "support/cc_string.h"

namespace {

void CopyCcString(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'c');
  const CcString source(text.c_str());
  for (auto _ : state) {
    CcString copy(source);
    benchmark::DoNotOptimize(copy.Text());
  }
}
BENCHMARK(CopyCcString)->Arg(16)->Arg(1024)->Arg(1 << 20);

void CopyStdString(benchmark::State& state) {
  const std::string source(static_cast<size_t>(state.range(0)), 'c');
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(CopyStdString)->Arg(16)->Arg(1024)->Arg(1 << 20);

constexpr int64_t kBorderLengths[] = {63, 64, 127, 128, 255, 256, 511, 512};

// The baseline for the next one: build a string of the length and let it go.
void Build(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'a');
  for (auto _ : state) {
    CcString s(text.c_str());
    benchmark::DoNotOptimize(s.Text());
  }
}

// The same plus one appended byte: just below a border it stays in place, at the border it
// takes a new block of the next class. The append's cost is the difference to Build.
void BuildAndAppendByte(benchmark::State& state) {
  const std::string text(static_cast<size_t>(state.range(0)), 'a');
  bool moved = false;
  for (auto _ : state) {
    CcString s(text.c_str());
    const char* before = s.Text();
    s.Append("x");
    moved = s.Text() != before;
    benchmark::DoNotOptimize(s.Text());
  }
  state.SetLabel(moved ? "new block" : "in place");
}

void BorderLengths(benchmark::internal::Benchmark* bench) {
  for (int64_t length : kBorderLengths) bench->Arg(length);
}
BENCHMARK(Build)->Apply(BorderLengths);
BENCHMARK(BuildAndAppendByte)->Apply(BorderLengths);

// Eight-byte appends that always fit: the block is emptied in place once it is full.
void AppendInPlace(benchmark::State& state) {
  CcString s("");
  s.OpenBuffer(64);
  s.CloseBuffer(0);
  for (auto _ : state) {
    if (s.Length() == 64) s.Assign("");
    s.Append("01234567");
    benchmark::DoNotOptimize(s.Text());
  }
}
BENCHMARK(AppendInPlace);

// Eight-byte appends from empty to 512 bytes: 64 appends, four of which cross a border.
void AppendGrowingTo512(benchmark::State& state) {
  for (auto _ : state) {
    CcString s;
    for (int i = 0; i < 64; ++i) s.Append("01234567");
    benchmark::DoNotOptimize(s.Text());
  }
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(AppendGrowingTo512);

}  // namespace

BENCHMARK_MAIN();
