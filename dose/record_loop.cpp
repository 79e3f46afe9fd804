// The record loop: reads the nuclide records of a dose-rate file one after another, integrates
// the rates of every record whose age was selected and hands its coefficients on.
#include "dose/record_loop.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "dose/hermite.h"

namespace kestrane {

namespace {

constexpr int kLow = 0;
constexpr int kHigh = 1;

// Which tables a table code asks to integrate. The code is compared as a whole, so a letter
// followed by blanks names no table.
struct TablesToIntegrate {
  bool low = false;
  bool high = false;
};

TablesToIntegrate tables_of_code(std::string_view code) {
  if (code == "L") return {true, false};
  if (code == "H") return {false, true};
  if (code == "B") return {true, true};
  return {};
}

[[noreturn]] void refuse_record(const HeaderRecord& header, const std::string& file_name,
                                const std::string& reason) {
  throw InputError(file_name + ", line " + std::to_string(header.line_number) + ": " + reason +
                   ". Header line: \"" + header.line + "\"");
}

// The first time point (from 1) whose time is not later than the one before it, or 0.
int first_time_out_of_order(int n, const double* x) {
  for (int i = 1; i < n; ++i) {
    if (!(x[i - 1] < x[i])) return i + 1;
  }
  return 0;
}

[[noreturn]] void refuse_integration(const HeaderRecord& header, const RateTable& rates,
                                     const std::string& file_name, int status) {
  std::string reason;
  if (status == -1) {
    reason = "the record has " + std::to_string(header.n) +
             (header.n == 1 ? " time point" : " time points") +
             ", too few to integrate its rates (at least two are needed)";
  } else if (const int i = first_time_out_of_order(header.n, rates.x.data()); i > 0) {
    reason = "the time of time point " + std::to_string(i) +
             " is not later than the one before it, so the rates cannot be integrated";
  } else {
    reason = "the rates of the record cannot be integrated (status " + std::to_string(status) + ")";
  }
  refuse_record(header, file_name, reason);
}

// Integrates table t of every selected region from 0 to each time. The slopes of a row are
// estimated once and serve every time.
void integrate_table(int t, const HeaderRecord& header, const RateTable& rates,
                     std::span<const double> times, int region_count, const std::string& file_name,
                     CoefficientTable& coef) {
  const int n = header.n;
  const double* x = rates.x.data();
  std::array<double, kMaxTimePoints> d;
  for (int j = 0; j < region_count; ++j) {
    const double* f = rates.value[t][j].data();
    int status = 0;
    estimate_monotone_slopes(n, x, f, d.data(), status);
    if (status < 0) refuse_integration(header, rates, file_name, status);
    double* out = coef.coef[t][j].data();
    for (std::size_t m = 0; m < times.size(); ++m) {
      int skip = 0;
      out[m] = integrate_hermite(n, x, f, d.data(), skip, 0.0, times[m], status);
      // Status 1 to 3 only says that a limit lies beyond the table: the end piece is extended.
      if (status < 0) refuse_integration(header, rates, file_name, status);
    }
  }
}

void zero_table(int t, std::size_t time_count, int region_count, CoefficientTable& coef) {
  for (int j = 0; j < region_count; ++j) {
    std::fill_n(coef.coef[t][j].begin(), time_count, 0.0);
  }
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

void clear_rates(RateTable& rates, int region_count, int n) {
  const int points = std::clamp(n, 0, kMaxTimePoints);
  for (auto& table : rates.value) {
    for (int j = 0; j < region_count; ++j) {
      std::fill_n(table[static_cast<std::size_t>(j)].begin(), points, 0.0);
    }
  }
}

void compute_coefficients(const HeaderRecord& header, const RateTable& rates,
                          std::span<const double> times, int region_count,
                          const std::string& file_name, CoefficientTable& coef) {
  if (header.n == 1) {
    // A single time point carries the coefficients themselves, for every time.
    for (int t : {kLow, kHigh}) {
      for (int j = 0; j < region_count; ++j) {
        std::fill_n(coef.coef[t][j].begin(), times.size(), rates.value[t][j][0]);
      }
    }
    return;
  }
  const TablesToIntegrate tables = tables_of_code(header.table_code);
  if (tables.low) {
    integrate_table(kLow, header, rates, times, region_count, file_name, coef);
  } else {
    zero_table(kLow, times.size(), region_count, coef);
  }
  if (tables.high) {
    integrate_table(kHigh, header, rates, times, region_count, file_name, coef);
  } else {
    zero_table(kHigh, times.size(), region_count, coef);
  }
}

void process_records(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                     ProgressObserver* progress) {
  if (setup.regions.size() > static_cast<std::size_t>(kMaxSelectedRegions)) {
    throw std::invalid_argument("more selected regions than the rate table holds");
  }
  if (setup.times.size() > static_cast<std::size_t>(kMaxIntegrationTimes)) {
    throw std::invalid_argument("more integration times than the coefficient table holds");
  }
  const int region_count = static_cast<int>(setup.regions.size());
  const std::span<const double> times(setup.times);
  const std::string& file_name = reader.display_name();

  // The tables are set up once for the whole run and reused from record to record.
  struct Tables {
    RateTable rates;
    CoefficientTable coef;
  };
  const auto tables = std::make_unique<Tables>();
  HeaderRecord header;

  // The test for the end of the file comes after each record, so the first header line is
  // read without one. A line of blanks where a header is expected is passed over.
  do {
    const std::string_view line = reader.read_line();
    if (is_blank_header(line)) continue;
    header = decode_header(line, setup.data_set, reader.line_number());
    validate_header(header, file_name);

    const int position = match_age(header.age_days, setup.age_groups);
    if (position == 0) {
      skip_data_block(reader, header);
      continue;
    }
    clear_rates(tables->rates, region_count, header.n);
    read_data_block(reader, header, setup.regions, setup.lung_region, tables->rates);
    if (progress != nullptr) {
      progress->record_processed(header, reader.bytes_consumed(), reader.total_bytes());
    }
    compute_coefficients(header, tables->rates, times, region_count, file_name, tables->coef);
    sink.record_done(position - 1, header, tables->coef);
  } while (!reader.at_end_of_file());
}

}  // namespace kestrane
