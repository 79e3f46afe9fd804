// Speed of the whole record loop on a large generated dose-rate file: every record read,
// integrated and its rows formatted (as the coefficient files get them, but not written),
// for all ages and all regions and for one age and one region, on one thread and on worker
// threads.
//
// The working directory comes from KESTRANE_BENCH_DIR; by default kestrane-sample (beside
// this program) makes one of about 200 MB per dose-rate file in /tmp/kestrane-bench-loop.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "dose/hermite.h"
#include "dose/hermite_rows.h"
#include "dose/record_loop.h"
#include "hwy/targets.h"
#include "input/dose_rate_file.h"
#include "input/integration_times.h"
#include "input/line_reader.h"
#include "output/coefficient_files.h"

namespace {

using namespace kestrane;

const std::filesystem::path& bench_dir() {
  static const std::filesystem::path dir = [] {
    if (const char* env = std::getenv("KESTRANE_BENCH_DIR")) return std::filesystem::path(env);
    const std::filesystem::path d = "/tmp/kestrane-bench-loop";
    if (!std::filesystem::exists(d / "DATA" / "KVR13INH.DRT")) {
      const std::filesystem::path sample =
          std::filesystem::read_symlink("/proc/self/exe").parent_path() / "kestrane-sample";
      std::string command(1, '\'');
      command.append(sample.string()).append("' --dir '").append(d.string());
      command.append("' --size 200M --seed 7 >/dev/null");
      if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("cannot make the sample directory with " + sample.string());
      }
    }
    return d;
  }();
  return dir;
}

// Formats every record's rows, as the coefficient files would, and counts their bytes.
class FormattingSink : public RecordSink {
 public:
  explicit FormattingSink(const RunSetup& setup) : setup_(setup) {}
  void record_done(int position, const HeaderRecord& header,
                   const CoefficientTable& coef) override {
    PreparedRecord prepared = prepare(position, header, coef);
    record_prepared(position, header, coef, prepared);
  }
  PreparedRecord prepare(int, const HeaderRecord& header,
                         const CoefficientTable& coef) const override {
    PreparedRecord prepared;
    prepared.rows = coefficient_block(setup_.data_set, header.line, coef, setup_.times,
                                      static_cast<int>(setup_.regions.size()));
    return prepared;
  }
  void record_prepared(int, const HeaderRecord&, const CoefficientTable&,
                       PreparedRecord& prepared) override {
    bytes += prepared.rows.size();
  }
  std::size_t bytes = 0;

 private:
  const RunSetup& setup_;
};

// Arguments: data set (0 inhalation, 1 ingestion), all ages and regions (1) or the adult
// group and "Lung" (0), threads (0 automatic, 1 one thread).
void BM_ProcessRecords(benchmark::State& state) {
  const auto data_set = state.range(0) == 0 ? DataSet::inhalation : DataSet::ingestion;
  const std::filesystem::path file =
      bench_dir() / "DATA" / std::string(data_set_file_name(data_set));
  RunSetup setup;
  setup.data_set = data_set;
  setup.times = read_integration_times(bench_dir() / "data" / "Kestrane.ini", "Kestrane.ini");
  setup.threads = static_cast<int>(state.range(2));
  std::size_t out_bytes = 0;
  for (auto _ : state) {
    LineReader reader(file, "DATA\\" + std::string(data_set_file_name(data_set)));
    const auto names = read_region_names(reader);
    setup.lung_region = static_cast<int>(names.size()) + 1;
    if (state.range(1) == 1) {
      setup.age_groups = {1, 2, 3, 4, 5, 6};
      setup.regions.clear();
      for (int r = 1; r <= setup.lung_region; ++r) setup.regions.push_back(r);
    } else {
      setup.age_groups = {6};
      setup.regions = {setup.lung_region};
    }
    FormattingSink sink(setup);
    process_records(reader, setup, sink, nullptr);
    out_bytes = sink.bytes;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(file)));
  state.counters["rows_MB"] = static_cast<double>(out_bytes) / 1e6;
}
BENCHMARK(BM_ProcessRecords)
    ->ArgNames({"ingestion", "all", "threads"})
    ->Args({0, 1, 1})
    ->Args({0, 1, 0})
    ->Args({0, 0, 1})
    ->Args({0, 0, 0})
    ->Args({1, 1, 1})
    ->Args({1, 1, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The numerics of one record of 150 time points with 30 regions in both tables: slopes and
// six integrals of each of its 60 rows, by single calls per row and time (as the loop made
// them before) and by HermiteRows, which shares the work that depends on the times alone.
struct Record {
  static constexpr int kPoints = 150;
  static constexpr int kRows = 60;
  std::array<double, kPoints> x{};
  std::array<std::array<double, kPoints>, kRows> f{};
  std::vector<double> times = {1, 7, 30, 365, 1825, 18250};
  Record() {
    for (int i = 0; i < kPoints; ++i) x[i] = 0.05 * std::pow(1.08, i);
    for (int r = 0; r < kRows; ++r) {
      for (int i = 0; i < kPoints; ++i) {
        const double t = x[i];
        f[r][i] = i > 140 - r
                      ? 0.0
                      : (1 + r) * 1e-12 * (std::exp(-t / (1 + r)) + 0.1 * std::exp(-t / 900)) *
                            (1 - std::exp(-3 * t));
      }
    }
  }
};

void BM_RecordNumericsSingleCalls(benchmark::State& state) {
  const Record rec;
  std::array<double, Record::kPoints> d;
  for (auto _ : state) {
    for (const auto& f : rec.f) {
      estimate_monotone_slopes(rec.x, f, d);
      for (const double T : rec.times) {
        benchmark::DoNotOptimize(integrate_hermite(rec.x, f, d, 0.0, T));
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * Record::kRows);
}
BENCHMARK(BM_RecordNumericsSingleCalls);

void BM_RecordNumericsHermiteRows(benchmark::State& state) {
  const Record rec;
  std::array<double, Record::kPoints> d;
  std::array<double, 6> out;
  HermiteRows rows;
  for (auto _ : state) {
    rows.prepare(rec.x, 0.0, rec.times);
    for (const auto& f : rec.f) {
      rows.slopes(f, d);
      rows.integrate(f, d, out);
      benchmark::DoNotOptimize(out);
    }
  }
  state.SetItemsProcessed(state.iterations() * Record::kRows);
}
BENCHMARK(BM_RecordNumericsHermiteRows);

void BM_RecordSlopesHermiteRows(benchmark::State& state) {
  const Record rec;
  std::array<double, Record::kPoints> d;
  HermiteRows rows;
  rows.prepare(rec.x, 0.0, rec.times);
  for (auto _ : state) {
    for (const auto& f : rec.f) {
      benchmark::DoNotOptimize(rows.slopes(f, d));
      benchmark::DoNotOptimize(d);
    }
  }
  state.SetItemsProcessed(state.iterations() * Record::kRows);
}
BENCHMARK(BM_RecordSlopesHermiteRows);

// The slopes of the same 60 rows side by side in vector lanes, in the record's two tables of
// 30 rows as the record loop hands them over; the argument forces a Highway target (0 the
// best the processor has: 2048 AVX2, 4096 SSE4).
void BM_RecordSlopesAcrossRows(benchmark::State& state) {
  const Record rec;
  std::array<SlopeResult, Record::kRows / 2> results;
  HermiteRows rows;
  rows.prepare(rec.x, 0.0, rec.times);
  hwy::SetSupportedTargetsForTest(state.range(0));
  for (auto _ : state) {
    for (int t = 0; t < 2; ++t) {
      rows.slopes_of_rows(rec.f[t * 30].data(), Record::kPoints, 30, results);
      benchmark::DoNotOptimize(rows.row_slopes(29).d[149]);
    }
  }
  hwy::SetSupportedTargetsForTest(0);
  state.SetItemsProcessed(state.iterations() * Record::kRows);
}
BENCHMARK(BM_RecordSlopesAcrossRows)->Arg(0)->Arg(HWY_AVX2)->Arg(HWY_SSE4);

// The whole numerics of the record as the record loop now makes them (compare
// BM_RecordNumericsHermiteRows, row by row): the slopes and the sums over whole intervals of
// each table's 30 rows side by side, and their integrals and the parts outside the table. The
// argument forces a Highway target as above.
void BM_RecordNumericsAcrossRows(benchmark::State& state) {
  const Record rec;
  std::array<SlopeResult, Record::kRows / 2> results;
  std::array<std::array<double, 6>, Record::kRows / 2> values, outside;
  HermiteRows rows;
  hwy::SetSupportedTargetsForTest(state.range(0));
  for (auto _ : state) {
    rows.prepare(rec.x, 0.0, rec.times);
    for (int t = 0; t < 2; ++t) {
      const double* f = rec.f[t * 30].data();
      rows.slopes_of_rows(f, Record::kPoints, 30, results);
      rows.integrate_rows(f, Record::kPoints, 30, values[0].data(), 6, outside[0].data(), 6);
      benchmark::DoNotOptimize(outside);
    }
  }
  hwy::SetSupportedTargetsForTest(0);
  state.SetItemsProcessed(state.iterations() * Record::kRows);
}
BENCHMARK(BM_RecordNumericsAcrossRows)->Arg(0)->Arg(HWY_AVX2)->Arg(HWY_SSE4);

}  // namespace

BENCHMARK_MAIN();
