// Reading speed of a large dose-rate file: records read with every region, records passed
// over, single fields, and a line count of the same file as the floor to compare with.
//
// The file (about 100 MB, inhalation layout, L, H and B records) is generated once into
// /tmp; set KESTRANE_BENCH_FILE to read another file of the inhalation layout instead.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "hwy/targets.h"
#include "input/dose_rate_file.h"
#include "input/fast_fields.h"
#include "input/line_reader.h"
#include "input/vector_fields.h"

namespace {

using namespace kestrane;

constexpr std::uint64_t kTargetBytes = 100'000'000;

// Writes records of 60 time points (a third each L, H and B) until the file reaches
// kTargetBytes. Each region's rate starts between 1E-14 and 1E-6 and falls by up to 0.4
// decades per time point, so that a record spans up to 24 decades, as retained activity
// decays; the last digits are random.
void generate(const std::string& path) {
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> noise(1.0, 1.1);
  std::uniform_real_distribution<double> start(-14.0, -6.0);
  std::uniform_real_distribution<double> fall(0.0, 0.4);
  const std::string temp = path + ".part";
  std::ofstream out(temp, std::ios::binary);
  out << "Absorbed dose rates (benchmark data)\r\n  Organ";
  for (int c = 1; c <= 29; ++c) out << "  Region-" << c;
  out << "\r\n";
  const char* codes[] = {"1 L", "1 H", "2 B"};
  const int ages[] = {100, 365, 1825, 3650, 5475, 7300};
  std::uint64_t written = 0;
  std::string line;
  char field[64];
  for (int record = 0; written < kTargetBytes; ++record) {
    const int code = record % 3;
    const int n = 60;
    std::snprintf(field, sizeof field, "N-%-5d %5d     F         %3d %s", record % 10000,
                  ages[record % 6], n, codes[code]);
    out << field << "\r\n";
    written += std::strlen(field) + 2;
    const int lines = code == 2 ? 2 * n : n;
    double first[29];
    double slope[29];
    for (int c = 0; c < 29; ++c) {
      first[c] = start(rng);
      slope[c] = fall(rng);
    }
    for (int l = 0; l < lines; ++l) {
      const int point = l / (code == 2 ? 2 : 1);
      std::snprintf(field, sizeof field, "%9.3E", std::pow(10.0, -2.0 + 6.0 * point / n));
      line = field;
      for (int c = 0; c < 29; ++c) {
        std::snprintf(field, sizeof field, "%10.3E",
                      noise(rng) * std::pow(10.0, first[c] - slope[c] * point));
        line += field;
      }
      out << line << "\r\n";
      written += line.size() + 2;
    }
  }
  out.close();
  std::filesystem::rename(temp, path);
}

const std::string& bench_file() {
  static const std::string path = [] {
    if (const char* env = std::getenv("KESTRANE_BENCH_FILE")) return std::string(env);
    std::string p = "/tmp/kestrane_bench_inh_v2.drt";
    if (!std::filesystem::exists(p)) generate(p);
    return p;
  }();
  return path;
}

void set_bytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(bench_file())));
}

// Every record read with the given regions, as the record loop reads processed records.
void read_records(benchmark::State& state, const std::vector<int>& regions) {
  auto table = std::make_unique<RateTable>();
  for (auto _ : state) {
    LineReader reader(bench_file(), "DATA\\KVR13INH.DRT");
    read_region_names(reader);
    std::int64_t records = 0;
    while (!reader.at_end_of_file()) {
      const std::string_view line = reader.read_line();
      if (is_blank_header(line)) continue;
      const HeaderRecord header = decode_header(line, DataSet::inhalation, reader.line_number());
      validate_header(header, reader.display_name());
      read_data_block(reader, header, regions, 30, *table);
      ++records;
    }
    benchmark::DoNotOptimize(table->value[0][0][0]);
    benchmark::DoNotOptimize(records);
  }
  set_bytes(state);
}

void BM_ReadAllRegions(benchmark::State& state) {
  std::vector<int> regions;
  for (int r = 1; r <= 30; ++r) regions.push_back(r);
  read_records(state, regions);
}
BENCHMARK(BM_ReadAllRegions)->Unit(benchmark::kMillisecond);

void BM_ReadTwoRegions(benchmark::State& state) { read_records(state, {30, 1}); }
BENCHMARK(BM_ReadTwoRegions)->Unit(benchmark::kMillisecond);

// Every record passed over, as for records of ages not selected.
void BM_SkipAll(benchmark::State& state) {
  for (auto _ : state) {
    LineReader reader(bench_file(), "DATA\\KVR13INH.DRT");
    read_region_names(reader);
    while (!reader.at_end_of_file()) {
      const std::string_view line = reader.read_line();
      if (is_blank_header(line)) continue;
      const HeaderRecord header = decode_header(line, DataSet::inhalation, reader.line_number());
      validate_header(header, reader.display_name());
      skip_data_block(reader, header);
    }
  }
  set_bytes(state);
}
BENCHMARK(BM_SkipAll)->Unit(benchmark::kMillisecond);

// The reader's share when parsing happens on another thread: the text of every data block, as
// the pipeline takes it (a view of the mapped file where the lines are plain).
void BM_ReadBlockText(benchmark::State& state) {
  for (auto _ : state) {
    LineReader reader(bench_file(), "DATA\\KVR13INH.DRT");
    read_region_names(reader);
    std::size_t bytes = 0;
    LinesText text;
    while (!reader.at_end_of_file()) {
      const std::string_view line = reader.read_line();
      if (is_blank_header(line)) continue;
      const HeaderRecord header = decode_header(line, DataSet::inhalation, reader.line_number());
      validate_header(header, reader.display_name());
      take_data_block_text(reader, header, text);
      bytes += text.view().size();
    }
    benchmark::DoNotOptimize(bytes);
  }
  set_bytes(state);
}
BENCHMARK(BM_ReadBlockText)->Unit(benchmark::kMillisecond);

// Lines only, through the reader.
void BM_ReaderLines(benchmark::State& state) {
  for (auto _ : state) {
    LineReader reader(bench_file(), "DATA\\KVR13INH.DRT");
    benchmark::DoNotOptimize(reader.skip_lines(INT64_MAX));
  }
  set_bytes(state);
}
BENCHMARK(BM_ReaderLines)->Unit(benchmark::kMillisecond);

// The floor: 1 MiB reads and a count of LF bytes, which is what `wc -l` does.
void BM_CountLf(benchmark::State& state) {
  std::vector<char> buf(1 << 20);
  for (auto _ : state) {
    const int fd = ::open(bench_file().c_str(), O_RDONLY);
    std::int64_t lines = 0;
    for (;;) {
      const ssize_t got = ::read(fd, buf.data(), buf.size());
      if (got <= 0) break;
      const char* p = buf.data();
      const char* const end = p + got;
      while ((p = static_cast<const char*>(
                  std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr) {
        ++lines;
        ++p;
      }
    }
    ::close(fd);
    benchmark::DoNotOptimize(lines);
  }
  set_bytes(state);
}
BENCHMARK(BM_CountLf)->Unit(benchmark::kMillisecond);

// Single fields of the forms the files hold, exponents drawn at random from a range (more
// than a branch predictor can learn).
void BM_ParseField(benchmark::State& state) {
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(static_cast<int>(state.range(0)),
                                              static_cast<int>(state.range(1)));
  std::vector<std::string> fields;
  char text[32];
  for (int i = 0; i < 65536; ++i) {
    std::snprintf(text, sizeof text, "%10.3E", mantissa(rng) * std::pow(10.0, exponent(rng)));
    fields.emplace_back(text);
  }
  for (auto _ : state) {
    double sum = 0;
    for (const auto& f : fields) sum += parse_number(f);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * fields.size()));
}
BENCHMARK(BM_ParseField)->Args({-19, -4})->Args({-32, -20})->Args({-32, -4});

// The 29 rate fields of each of the first 60,000 data lines of the file, read by the scalar
// reading (target -1) or in vector registers on one Highway target (0: the best there is),
// as when all regions are chosen.
void BM_LineFields(benchmark::State& state) {
  const std::int64_t target = state.range(0);
  if (target > 0 && (hwy::SupportedTargets() & target) == 0) {
    state.SkipWithError("the processor lacks this target");
    return;
  }
  std::vector<std::string> lines;
  LineReader reader(bench_file(), "DATA\\KVR13INH.DRT");
  read_region_names(reader);
  while (lines.size() < 60000 && !reader.at_end_of_file()) {
    const std::string_view line = reader.read_line();
    if (line.size() >= 299 && line[0] != 'N') lines.emplace_back(line.substr(9, 290));
  }
  if (target >= 0) hwy::SetSupportedTargetsForTest(target);
  double out[29];
  std::int64_t declined = 0;
  for (auto _ : state) {
    for (const auto& line : lines) {
      const bool read =
          target < 0 ? number_detail::parse_e_fields10(line.data(), 29, out)
                     : number_detail::parse_e_fields10_dispatched(line.data(), 29, out) == 29;
      declined += read ? 0 : 1;
      benchmark::DoNotOptimize(out);
    }
  }
  hwy::SetSupportedTargetsForTest(0);
  state.counters["declined"] = static_cast<double>(declined);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
}
BENCHMARK(BM_LineFields)
    ->Arg(-1)
    ->Arg(0)
    ->Arg(HWY_AVX2)
    ->Arg(HWY_SSE4)
    ->Arg(HWY_SSSE3)
    ->Arg(HWY_EMU128)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench_file();  // generate the file before any timing
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
