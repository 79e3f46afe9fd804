// Speed of forming the coefficient rows of one record with every region selected, as the
// record loop hands them to the coefficient files.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "output/coefficient_files.h"

namespace {

void BM_RecordRows(benchmark::State& state) {
  const auto data_set = static_cast<kestrane::DataSet>(state.range(0));
  const auto times_count = static_cast<std::size_t>(state.range(1));
  auto table = std::make_unique<kestrane::CoefficientTable>();
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> exponent(-22, -8);
  for (auto& by_table : table->coef) {
    for (auto& by_region : by_table) {
      for (double& c : by_region) c = std::pow(10.0, exponent(rng));
    }
  }
  std::vector<double> times(times_count);
  for (std::size_t m = 0; m < times_count; ++m) times[m] = std::pow(10.0, static_cast<double>(m));
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrane::coefficient_block(
        data_set, "I-131   07300     F          30 1 L", *table, times, 30));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<long>(times_count));
}
BENCHMARK(BM_RecordRows)->Args({0, 4})->Args({1, 4})->Args({0, 100});

}  // namespace

BENCHMARK_MAIN();
