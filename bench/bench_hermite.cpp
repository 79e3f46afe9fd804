// Micro-benchmark of the dose numerics: slopes and four integrals of one 150-point rate row.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>

#include "dose/hermite.h"
#include "dose/hermite_rows.h"

namespace {

constexpr int kPoints = 150;

// A row shaped like the dose-rate tables: times from intake to 50 years, crowded towards
// intake; a rate that rises, peaks and decays, reaching exact zero for the last points.
struct Row {
  std::array<double, kPoints> x{}, f{}, d{};
  Row() {
    for (int i = 0; i < kPoints; ++i) {
      double u = static_cast<double>(i) / (kPoints - 1);
      x[i] = i == 0 ? 0.0 : 18250.0 * std::pow(u, 4.0);
      f[i] = i >= kPoints - 10 ? 0.0
                               : 3.0 * std::exp(-0.05 * x[i]) - 2.0 * std::exp(-2.0 * x[i]) +
                                     0.01 * std::exp(-0.001 * x[i]);
    }
  }
};

constexpr std::array<double, 4> kTimes = {1.0, 50.0, 1825.0, 18250.0};

void BM_SlopesAndFourIntegrals(benchmark::State& state) {
  Row row;
  for (auto _ : state) {
    kestrane::estimate_monotone_slopes(row.x, row.f, row.d);
    for (double T : kTimes) {
      benchmark::DoNotOptimize(kestrane::integrate_hermite(row.x, row.f, row.d, 0.0, T));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SlopesAndFourIntegrals);

void BM_Slopes(benchmark::State& state) {
  Row row;
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrane::estimate_monotone_slopes(row.x, row.f, row.d));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Slopes);

// The slopes of the same row by HermiteRows, prepared once for its times, as the record loop
// estimates them for every row of a record.
void BM_HermiteRowsSlopes(benchmark::State& state) {
  Row row;
  kestrane::HermiteRows rows;
  rows.prepare(row.x, 0.0, kTimes);
  for (auto _ : state) {
    benchmark::DoNotOptimize(rows.slopes(row.f, row.d));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_HermiteRowsSlopes);

void BM_OneIntegralToFiftyYears(benchmark::State& state) {
  Row row;
  kestrane::estimate_monotone_slopes(row.x, row.f, row.d);
  for (auto _ : state) {
    benchmark::DoNotOptimize(kestrane::integrate_hermite(row.x, row.f, row.d, 0.0, 18250.0));
  }
}
BENCHMARK(BM_OneIntegralToFiftyYears);

}  // namespace

BENCHMARK_MAIN();
