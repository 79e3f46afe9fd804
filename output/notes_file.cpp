// The notes files: which records hold coefficients that are negative or rest on the extended
// interpolant, summarised one row per record among the files of the run.
#include "output/notes_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "output/csv_file.h"

namespace kestrane {
namespace {

// A number in the shortest text that reads back to it, straight from std::to_chars.
template <typename Number>
void append_number(std::string& out, Number value) {
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

// What the notes row of one record says, gathered over its integrated coefficients.
struct RecordSummary {
  std::int64_t coefficients = 0;
  std::int64_t negative = 0;
  std::int64_t extended = 0;
  double largest = -1;  // the largest share; -1 before the first coefficient
  std::size_t at_time = 0;
  std::size_t at_region = 0;
  std::size_t at_table = 0;
};

// Gathers the summary of table `t`, a row of the table at a time: the shares of the row in one
// simple loop (which the compiler can run on several coefficients at once), then the place of
// its largest share, which among equal shares is the first in the order of the coefficient
// file (time, region, low before high).
void summarise_table(const CoefficientTable& coef, std::size_t t, std::size_t region_count,
                     std::size_t time_count, RecordSummary& summary) {
  if (time_count == 0) return;
  std::array<double, kMaxIntegrationTimes> shares{};
  for (std::size_t j = 0; j < region_count; ++j) {
    const double* const values = coef.coef[t][j].data();
    const double* const outside = coef.outside[t][j].data();
    std::int64_t negative = 0;
    std::int64_t extended = 0;
    double largest = -1;
    for (std::size_t m = 0; m < time_count; ++m) {
      const double out = std::abs(outside[m]);
      const double whole = std::abs(values[m] - outside[m]) + out;
      const double share = whole == 0.0 ? 0.0 : out / whole;  // as share_outside()
      shares[m] = share;
      negative += values[m] < 0.0 ? 1 : 0;
      extended += share > kExtendedShareThreshold ? 1 : 0;
      largest = std::max(largest, share);
    }
    summary.negative += negative;
    summary.extended += extended;
    if (largest < summary.largest) continue;
    std::size_t m = 0;
    while (shares[m] != largest) ++m;
    const bool earlier =
        m < summary.at_time ||
        (m == summary.at_time &&
         (j < summary.at_region || (j == summary.at_region && t < summary.at_table)));
    if (largest > summary.largest || earlier) {
      summary.largest = largest;
      summary.at_time = m;
      summary.at_region = j;
      summary.at_table = t;
    }
  }
  summary.coefficients += static_cast<std::int64_t>(region_count * time_count);
}

}  // namespace

std::string notes_file_name(std::int32_t age_days, DataSet data_set) {
  return "OUTPUT\\DC" + std::to_string(age_days) + data_set_letter(data_set) + "-notes.csv";
}

std::string notes_header(DataSet data_set) {
  return std::string("nuclide,") + (data_set == DataSet::inhalation ? "class" : "f1") +
         ",age_days,header_line,first_time_d,last_time_d,coefficients,negative,extended,"
         "largest_share_outside,at_region,at_table,at_time_d,tail_fallbacks";
}

double share_outside(double coefficient, double outside) {
  const double in = std::abs(coefficient - outside);
  const double out = std::abs(outside);
  const double whole = in + out;
  return whole == 0.0 ? 0.0 : out / whole;
}

void append_note_row(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                     std::span<const double> times, std::span<const std::string> region_names,
                     NoteCounts& counts) {
  RecordSummary summary;
  for (std::size_t t = 0; t < 2; ++t) {
    if (coef.integrated[t]) {
      summarise_table(coef, t, region_names.size(), times.size(), summary);
    }
  }
  // Fallbacks come only from integrated tables.
  const std::int64_t fallbacks = coef.tail_fallbacks;
  if (summary.negative == 0 && summary.extended == 0 && fallbacks == 0) return;
  append_csv_field(out, trim_spaces(header.nuclide));
  out += ',';
  append_csv_field(out, trim_spaces(header.class_or_f1));
  out += ',';
  append_number(out, header.age_days);
  out += ',';
  append_number(out, header.line_number);
  out += ',';
  append_number(out, coef.first_time);
  out += ',';
  append_number(out, coef.last_time);
  for (const std::int64_t n : {summary.coefficients, summary.negative, summary.extended}) {
    out += ',';
    append_number(out, n);
  }
  out += ',';
  append_number(out, summary.largest);
  out += ',';
  append_csv_field(out, region_names[summary.at_region]);
  out += summary.at_table == 0 ? ",low," : ",high,";
  append_number(out, times[summary.at_time]);
  out += ',';
  append_number(out, fallbacks);
  out += '\n';
  counts += {summary.negative, summary.extended, 1, fallbacks};
}

RunNotes::RunNotes(OutputFiles& files, DataSet data_set, std::span<const int> age_groups,
                   PositionTimes times, std::vector<std::string> region_names)
    : files_(files),
      header_(notes_header(data_set) + "\n"),
      times_(std::move(times)),
      region_names_(std::move(region_names)) {
  for (const int group : age_groups) {
    const std::int32_t days = kAgeGroups[static_cast<std::size_t>(group - 1)].days;
    index_.push_back(files_.add_optional(notes_file_name(days, data_set)));
    of_file_.emplace_back();
  }
}

void RunNotes::record(int position, const HeaderRecord& header, const CoefficientTable& coef) {
  text_.clear();
  const NoteCounts counts = format(text_, position, header, coef);
  add(position, text_, counts);
}

NoteCounts RunNotes::format(std::string& out, int position, const HeaderRecord& header,
                            const CoefficientTable& coef) const {
  NoteCounts counts;
  append_note_row(out, header, coef, times_.of(position), region_names_, counts);
  return counts;
}

void RunNotes::add(int position, std::string_view rows, const NoteCounts& counts) {
  if (rows.empty()) return;
  const auto at = static_cast<std::size_t>(position);
  const int index = index_.at(at);
  if (of_file_[at].records == 0) {
    // The column line goes with the first row, in the same write.
    std::string first = header_;
    first.append(rows);
    files_.write(index, first);
    if (on_new_file_) on_new_file_();
  } else {
    files_.write(index, rows);
  }
  of_file_[at] += counts;
  counts_ += counts;
}

std::vector<int> RunNotes::files_with_rows() const {
  std::vector<int> indices;
  for (std::size_t at = 0; at < index_.size(); ++at) {
    if (of_file_[at].records > 0) indices.push_back(index_[at]);
  }
  return indices;
}

}  // namespace kestrane
