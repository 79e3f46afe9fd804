// The record loop: reads the nuclide records of a dose-rate file one after another, integrates
// the rates of every record whose age was selected and hands its coefficients on, on the
// calling thread or through the pipeline of dose/record_pipeline.h; both read the records
// through the one RecordReader.
#include "dose/record_loop.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

#include "base/ascii.h"
#include "dose/hermite.h"
#include "dose/record_pipeline.h"

namespace kestrane {

namespace {

constexpr int kLow = 0;
constexpr int kHigh = 1;

// Which tables a table code asks to integrate. Blanks after the letter do not count, as the
// header check accepts them.
struct TablesToIntegrate {
  bool low = false;
  bool high = false;
};

TablesToIntegrate tables_to_integrate(RecordTables tables) {
  return {holds_low(tables), holds_high(tables)};
}

[[noreturn]] void refuse_record(const HeaderRecord& header, const std::string& file_name,
                                const std::string& reason) {
  refuse_in_record(file_name, header.line_number, reason, header.line, header.line_number);
}

// The first time point (from 1) whose time is not later than the one before it, or 0.
int first_time_out_of_order(int n, const double* x) {
  for (int i = 1; i < n; ++i) {
    if (!(x[i - 1] < x[i])) return i + 1;
  }
  return 0;
}

[[noreturn]] void refuse_integration(const HeaderRecord& header, const RateTable& rates,
                                     const std::string& file_name, SlopeStatus status) {
  std::string reason;
  if (status == SlopeStatus::too_few_points) {
    reason = "the record has " + std::to_string(header.n) +
             (header.n == 1 ? " time point" : " time points") +
             ", too few to integrate its rates (at least two are needed)";
  } else if (const int i = first_time_out_of_order(header.n, rates.x.data()); i > 0) {
    // Refused at the line that holds the time, naming the line of the time before it.
    const std::int64_t line = time_point_line(header, i);
    const std::int64_t line_before = time_point_line(header, i - 1);
    reason = "the time of time point " + std::to_string(i) + " is not later than the one before it";
    if (line_before != 0) reason += " (line " + std::to_string(line_before) + ")";
    reason += ", so the rates cannot be integrated";
    if (line != 0) {
      refuse_in_record(file_name, line, reason, header.line, header.line_number);
    }
  } else {
    reason = "the rates of the record cannot be integrated";
  }
  refuse_record(header, file_name, reason);
}

// Integrates table t of every selected region from 0 to each time (the limits `work` has been
// prepared with, for the record's times). The rows are handed over all at once: their slopes
// are estimated together and serve every time.
void integrate_table(int t, const HeaderRecord& header, const RateTable& rates, int region_count,
                     const std::string& file_name, HermiteRows& work, CoefficientTable& coef) {
  std::array<SlopeResult, kMaxSelectedRegions> results;
  work.slopes_of_rows(rates.value[t][0].data(), kMaxTimePoints, region_count, results);
  for (int j = 0; j < region_count; ++j) {
    if (results[j].status != SlopeStatus::ok) {
      refuse_integration(header, rates, file_name, results[j].status);
    }
  }
  // A limit beyond the table only continues the end piece (its part outside is recorded
  // beside it); a refusal of the table holds for every time alike.
  const IntegralStatus status = work.integrate_rows(
      rates.value[t][0].data(), kMaxTimePoints, region_count, coef.coef[t][0].data(),
      kMaxIntegrationTimes, coef.outside[t][0].data(), kMaxIntegrationTimes);
  if (refused(status)) refuse_integration(header, rates, file_name, SlopeStatus::ok);
  coef.integrated[t] = true;
}

// integrate_table with the rate models of `tails` (prepared for the record's times) before the
// first and after the last tabulated time.
void integrate_table_with_tails(int t, const HeaderRecord& header, const RateTable& rates,
                                int region_count, const std::string& file_name, TailRows& tails,
                                CoefficientTable& coef) {
  std::array<SlopeResult, kMaxSelectedRegions> results;
  tails.inside().slopes_of_rows(rates.value[t][0].data(), kMaxTimePoints, region_count, results);
  for (int j = 0; j < region_count; ++j) {
    if (results[j].status != SlopeStatus::ok) {
      refuse_integration(header, rates, file_name, results[j].status);
    }
  }
  const IntegralStatus status = tails.integrate_rows(
      rates.value[t][0].data(), kMaxTimePoints, region_count, coef.coef[t][0].data(),
      kMaxIntegrationTimes, coef.outside[t][0].data(), kMaxIntegrationTimes, coef.tail_fallbacks);
  if (refused(status)) refuse_integration(header, rates, file_name, SlopeStatus::ok);
  coef.integrated[t] = true;
}

// The shortest text that reads back as `value`.
std::string shortest(double value) {
  std::array<char, 32> text{};
  const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
  return std::string(text.data(), end);
}

// Refuses the record when a coefficient, or its part outside the table, is infinite or not a
// number (rates near the double range, or an integration time far beyond the record), or when
// a coefficient is too large for the single-precision numbers of the coefficient file: such a
// value must never reach a file.
constexpr double kLargestDouble = std::numeric_limits<double>::max();

void check_finite(const HeaderRecord& header, const CoefficientTable& coef,
                  std::span<const double> times, int region_count, const std::string& file_name,
                  std::span<const std::string> region_names) {
  // One pass without branches over every cell first: a comparison that is false for NaN
  // flags it with the values too large, and the flags are or-ed, which the compiler does in
  // vector registers. Only a record with a flagged cell is looked at cell by cell below.
  unsigned flagged = 0;
  for (std::size_t t = 0; t < 2; ++t) {
    for (int j = 0; j < region_count; ++j) {
      const auto& value = coef.coef[t][static_cast<std::size_t>(j)];
      const auto& outside = coef.outside[t][static_cast<std::size_t>(j)];
      for (std::size_t m = 0; m < times.size(); ++m) {
        flagged |= static_cast<unsigned>(!(std::fabs(value[m]) < kCoefficientFileLimit)) |
                   static_cast<unsigned>(!(std::fabs(outside[m]) <= kLargestDouble));
      }
    }
  }
  if (flagged == 0) return;
  for (int t : {kLow, kHigh}) {
    for (int j = 0; j < region_count; ++j) {
      for (std::size_t m = 0; m < times.size(); ++m) {
        const double value = coef.coef[t][j][m];
        const bool whole = !std::isfinite(value);
        const bool too_large = !whole && std::fabs(value) >= kCoefficientFileLimit;
        if (!whole && !too_large && std::isfinite(coef.outside[t][j][m])) continue;
        std::string region = "selected region " + std::to_string(j + 1);
        if (static_cast<std::size_t>(j) < region_names.size()) {
          region += " (" + printable_excerpt(region_names[static_cast<std::size_t>(j)]) + ")";
        }
        const std::string cell = std::string(t == kLow ? "low" : "high") +
                                 "-table coefficient of " + region + " for the integration time " +
                                 shortest(times[m]) + " days";
        if (too_large) {
          refuse_record(header, file_name,
                        "the " + cell + " is " + shortest(value) +
                            ", too large for the single-precision numbers of the coefficient "
                            "file (at most 3.4028235e+38)");
        }
        refuse_record(header, file_name,
                      std::string(whole ? "the " : "the part outside the tabulated times of the ") +
                          cell + " is not a finite number");
      }
    }
  }
}

void zero_table(int t, std::size_t time_count, int region_count, CoefficientTable& coef) {
  for (int j = 0; j < region_count; ++j) {
    std::fill_n(coef.coef[t][j].begin(), time_count, 0.0);
    std::fill_n(coef.outside[t][j].begin(), time_count, 0.0);
  }
  coef.integrated[t] = false;
}

}  // namespace

int match_age(std::int32_t age_days, std::span<const int> age_groups) {
  for (std::size_t k = 0; k < age_groups.size(); ++k) {
    const int group = age_groups[k];
    if (group < 1 || group > kAgeGroupCount) continue;
    const std::int32_t g = kAgeGroups[static_cast<std::size_t>(group - 1)].days;
    if ((g > kAdultThresholdDays && age_days > kAdultThresholdDays) || g == age_days) {
      return static_cast<int>(k) + 1;
    }
  }
  return 0;
}

void clear_rates(RateTable& rates, int region_count, const HeaderRecord& header) {
  const int points = std::clamp(header.n, 0, kMaxTimePoints);
  const std::array<bool, 2> filled = tables_filled_by_block(header);
  for (std::size_t t = 0; t < 2; ++t) {
    if (filled[t]) continue;
    for (int j = 0; j < region_count; ++j) {
      std::fill_n(rates.value[t][static_cast<std::size_t>(j)].begin(), points, 0.0);
    }
  }
}

void compute_coefficients(const HeaderRecord& header, const RateTable& rates,
                          std::span<const double> times, int region_count,
                          const std::string& file_name, CoefficientTable& coef, TailModels models) {
  HermiteRows work;
  compute_coefficients(header, rates, times, region_count, file_name, coef, work, {}, models);
}

void compute_coefficients(const HeaderRecord& header, const RateTable& rates,
                          std::span<const double> times, int region_count,
                          const std::string& file_name, CoefficientTable& coef, HermiteRows& work,
                          std::span<const std::string> region_names, TailModels models,
                          TailRows* tails) {
  const int n = std::clamp(header.n, 0, kMaxTimePoints);
  coef.tail_fallbacks = 0;
  coef.first_time = n > 0 ? rates.x[0] : 0.0;
  coef.last_time = n > 0 ? rates.x[static_cast<std::size_t>(n - 1)] : 0.0;
  if (header.n == 1) {
    // A single time point carries the coefficients themselves, for every time.
    for (int t : {kLow, kHigh}) {
      for (int j = 0; j < region_count; ++j) {
        std::fill_n(coef.coef[t][j].begin(), times.size(), rates.value[t][j][0]);
        std::fill_n(coef.outside[t][j].begin(), times.size(), 0.0);
      }
      coef.integrated[t] = false;
    }
    check_finite(header, coef, times, region_count, file_name, region_names);
    return;
  }
  const TablesToIntegrate tables = tables_to_integrate(header.tables);
  if (!models.extend_both() && (tables.low || tables.high)) {
    std::unique_ptr<TailRows> own;
    if (tails == nullptr) tails = (own = std::make_unique<TailRows>()).get();
    tails->prepare(std::span<const double>(rates.x.data(), static_cast<std::size_t>(n)), times,
                   models);
    for (int t : {kLow, kHigh}) {
      if (t == kLow ? tables.low : tables.high) {
        integrate_table_with_tails(t, header, rates, region_count, file_name, *tails, coef);
      } else {
        zero_table(t, times.size(), region_count, coef);
      }
    }
    check_finite(header, coef, times, region_count, file_name, region_names);
    return;
  }
  if (tables.low || tables.high) {
    work.prepare(std::span<const double>(rates.x.data(), static_cast<std::size_t>(n)), 0.0, times);
  }
  if (tables.low) {
    integrate_table(kLow, header, rates, region_count, file_name, work, coef);
  } else {
    zero_table(kLow, times.size(), region_count, coef);
  }
  if (tables.high) {
    integrate_table(kHigh, header, rates, region_count, file_name, work, coef);
  } else {
    zero_table(kHigh, times.size(), region_count, coef);
  }
  check_finite(header, coef, times, region_count, file_name, region_names);
}

namespace {

void check_setup(const RunSetup& setup) {
  if (setup.regions.size() > static_cast<std::size_t>(kMaxSelectedRegions)) {
    throw std::invalid_argument("more selected regions than the rate table holds");
  }
  if (setup.most_times() > static_cast<std::size_t>(kMaxIntegrationTimes)) {
    throw std::invalid_argument("more integration times than the coefficient table holds");
  }
  for (const int region : setup.regions) {
    if (region != setup.lung_region && (region < 1 || region > kMaxRegionNames)) {
      throw std::invalid_argument("region number " + std::to_string(region) +
                                  " has no column in the dose-rate file");
    }
  }
}

void process_serially(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                      ProgressObserver* progress) {
  RecordReader records(reader, setup);
  const auto space = std::make_unique<RecordWorkspace>();
  RecordText record;
  while (records.next(record)) {
    read_rates(record, setup, reader.display_name(), *space);
    if (progress != nullptr) {
      progress->record_processed(record.header, record.bytes_done, reader.total_bytes());
    }
    compute_record(record, setup, reader.display_name(), *space);
    PreparedRecord prepared =
        sink.prepare_from(record.position - 1, record.header, space->rates, space->coef);
    sink.record_prepared(record.position - 1, record.header, space->coef, prepared);
  }
}

constexpr int kMaxThreads = 64;

int thread_count(int requested) {
  if (requested > 0) return std::min(requested, kMaxThreads);
  const unsigned processors = std::thread::hardware_concurrency();
  return processors == 0 ? 1 : std::min(static_cast<int>(processors), kMaxThreads);
}

}  // namespace

RecordReader::RecordReader(LineReader& reader, const RunSetup& setup)
    : reader_(reader), setup_(setup) {}

namespace {

// Whether `nuclide` is among `listed` (upper-case, no trailing blanks); any is when none is.
bool is_listed_nuclide(std::string_view nuclide, const std::vector<std::string>& listed) {
  if (listed.empty()) return true;
  const std::string name = ascii::to_upper(ascii::trim_right(nuclide));
  return std::find(listed.begin(), listed.end(), name) != listed.end();
}

}  // namespace

bool RecordReader::next(RecordText& record) {
  // The test for the end of the file comes after each record, so the first header line is
  // read without one. A line of blanks where a header is expected is passed over, and so is
  // a record of an age that was not selected.
  for (;;) {
    if (started_ && reader_.at_end_of_file()) return false;
    started_ = true;
    const std::string_view line = reader_.read_line();
    if (is_blank_header(line)) continue;
    HeaderRecord header = decode_header(line, setup_.data_set, reader_.line_number());
    validate_header(header, reader_.display_name());
    const int position = match_age(header.age_days, setup_.age_groups);
    if (position == 0 || !is_listed_nuclide(header.nuclide, setup_.nuclides)) {
      skip_data_block(reader_, header);
      if (setup_.passed_over != nullptr) ++*setup_.passed_over;
      continue;
    }
    take_data_block_text(reader_, header, record.block);
    record.position = position;
    record.header = std::move(header);
    record.bytes_done = reader_.bytes_consumed();
    return true;
  }
}

void read_rates(const RecordText& record, const RunSetup& setup, const std::string& file_name,
                RecordWorkspace& space) {
  const int region_count = static_cast<int>(setup.regions.size());
  clear_rates(space.rates, region_count, record.header);
  parse_data_block(record.block.view(), record.header, setup.regions, setup.lung_region,
                   space.rates, file_name);
}

void compute_record(const RecordText& record, const RunSetup& setup, const std::string& file_name,
                    RecordWorkspace& space) {
  compute_coefficients(record.header, space.rates, setup.times_of(record.position - 1),
                       static_cast<int>(setup.regions.size()), file_name, space.coef, space.work,
                       setup.region_names, setup.tails, &space.tails);
}

void process_records(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                     ProgressObserver* progress) {
  check_setup(setup);
  const int threads = thread_count(setup.threads);
  if (threads <= 1) {
    process_serially(reader, setup, sink, progress);
    return;
  }
  // The calling thread computes too whenever it would otherwise wait.
  process_in_pipeline(reader, setup, sink, progress, threads - 1);
}

}  // namespace kestrane
