// Speed of the mask formatter on the two masks of the coefficient files, of the coefficient
// files' own path for those two fields, and of the C library's "%.*E" conversion on the same
// values for comparison.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "output/format_using.h"
#include "output/format_using_float.h"

namespace {

// Finite floats of every magnitude, as the coefficient files hand them over.
std::vector<double> random_floats() {
  std::mt19937 rng(1);
  std::vector<double> values;
  while (values.size() < 4096) {
    const float v = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    if (std::isfinite(v)) values.push_back(v);
  }
  return values;
}

void BM_TimeField(benchmark::State& state) {
  const std::vector<double> values = random_floats();
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrane::format_using("##.#^^^^", {values[i++ % values.size()]}));
  }
}
BENCHMARK(BM_TimeField);

void BM_CoefficientPair(benchmark::State& state) {
  const std::vector<double> values = random_floats();
  std::size_t i = 0;
  for (auto _ : state) {
    const double a = values[i++ % values.size()];
    const double b = values[i++ % values.size()];
    benchmark::DoNotOptimize(kestrane::format_using("##.##^^^^##.##^^^^ ", {a, b}));
  }
}
BENCHMARK(BM_CoefficientPair);

void BM_FloatTimeField(benchmark::State& state) {
  const std::vector<double> values = random_floats();
  std::size_t i = 0;
  char text[kestrane::kFloatFieldRoom];
  for (auto _ : state) {
    const auto v = static_cast<float>(values[i++ % values.size()]);
    benchmark::DoNotOptimize(kestrane::write_time_field(v, text));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FloatTimeField);

void BM_FloatCoefficientPair(benchmark::State& state) {
  const std::vector<double> values = random_floats();
  std::size_t i = 0;
  char text[2 * kestrane::kFloatFieldRoom + 1];
  for (auto _ : state) {
    const auto a = static_cast<float>(values[i++ % values.size()]);
    const auto b = static_cast<float>(values[i++ % values.size()]);
    char* t = kestrane::write_coefficient_field(a, text);
    t = kestrane::write_coefficient_field(b, t);
    *t = ' ';
    benchmark::DoNotOptimize(t);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FloatCoefficientPair);

void BM_LibraryPair(benchmark::State& state) {
  const std::vector<double> values = random_floats();
  std::size_t i = 0;
  char buf[64];
  for (auto _ : state) {
    const double a = values[i++ % values.size()];
    const double b = values[i++ % values.size()];
    benchmark::DoNotOptimize(std::snprintf(buf, sizeof buf, "%9.2E%9.2E ", a, b));
  }
}
BENCHMARK(BM_LibraryPair);

}  // namespace

BENCHMARK_MAIN();
