// The notes files: which coefficients are negative or rest on the extended interpolant,
// formatted as rows and written among the files of the run beside the coefficient files.
#include "output/notes_file.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "output/coefficient_files.h"
#include "output/csv_file.h"

namespace kestrane {
namespace {

// Room for the longest number of a row: a double in its shortest round-trip form.
constexpr std::size_t kMaxNumberChars = 32;

// A double in the shortest text that reads back to it, or an integer, straight from
// std::to_chars.
template <typename Number>
void append_number(std::string& out, Number value) {
  char buf[kMaxNumberChars];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

// True when a coefficient that is not negative surely has a share from outside the table of
// at most the threshold, by a comparison without the division: a share at most 99% of the
// threshold stays below it after the rounding of the division. Only the coefficients it does
// not settle are divided, so every share written is the one share_outside() gives. Tiny
// (subnormal) sums, where the product loses its relative precision, are left to the division.
bool is_surely_within_table(double value, double outside) {
  const double out = std::abs(outside);
  const double whole = std::abs(value - outside) + out;
  return whole >= 0x1p-960 && out <= 0.99 * kExtendedShareThreshold * whole;
}

}  // namespace

std::string notes_file_name(std::int32_t age_days, DataSet data_set) {
  return "OUTPUT\\DC" + std::to_string(age_days) + data_set_letter(data_set) + "-notes.csv";
}

std::string notes_header(DataSet data_set) {
  return std::string("nuclide,") + (data_set == DataSet::inhalation ? "class" : "f1") +
         ",age_days,region,table,time_d,coefficient,first_time_d,last_time_d,share_outside,"
         "reason";
}

double share_outside(double coefficient, double outside) {
  const double in = std::abs(coefficient - outside);
  const double out = std::abs(outside);
  const double whole = in + out;
  return whole == 0.0 ? 0.0 : out / whole;
}

void append_note_rows(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                      std::span<const double> times, std::span<const std::string> region_names,
                      NoteCounts& counts) {
  if (!coef.integrated[0] && !coef.integrated[1]) return;
  static constexpr std::string_view kTableNames[2] = {"low", "high"};
  static constexpr std::string_view kReasons[3] = {"extended\n", "negative\n",
                                                   "negative;extended\n"};
  // The texts that every row of the record shares are made once, with its first note, in
  // buffers of the thread that are reused from record to record.
  thread_local std::string prefix;          // "nuclide,class,age,"
  thread_local std::string times_of_table;  // ",first,last,"
  bool shared_made = false;
  char time_text[kMaxNumberChars];
  std::size_t time_length = 0;
  for (std::size_t m = 0; m < times.size(); ++m) {
    time_length = 0;
    for (std::size_t j = 0; j < region_names.size(); ++j) {
      for (std::size_t t = 0; t < 2; ++t) {
        if (!coef.integrated[t]) continue;
        const double value = coef.coef[t][j][m];
        const double outside = coef.outside[t][j][m];
        const bool negative = value < 0.0;
        if (!negative && is_surely_within_table(value, outside)) continue;
        const double share = share_outside(value, outside);
        const bool extended = share > kExtendedShareThreshold;
        if (!negative && !extended) continue;
        if (!shared_made) {
          shared_made = true;
          prefix.clear();
          append_csv_field(prefix, trim_spaces(header.nuclide));
          prefix += ',';
          append_csv_field(prefix, trim_spaces(header.class_or_f1));
          prefix += ',';
          append_number(prefix, header.age_days);
          prefix += ',';
          times_of_table.assign(1, ',');
          append_number(times_of_table, coef.first_time);
          times_of_table += ',';
          append_number(times_of_table, coef.last_time);
          times_of_table += ',';
        }
        if (time_length == 0) {
          time_length = static_cast<std::size_t>(
              std::to_chars(time_text, time_text + sizeof time_text, times[m]).ptr - time_text);
        }
        out += prefix;
        append_csv_field(out, region_names[j]);
        out += ',';
        out += kTableNames[t];
        out += ',';
        out.append(time_text, time_length);
        out += ',';
        append_number(out, value);
        out += times_of_table;
        append_number(out, share);
        out += ',';
        out += kReasons[(negative ? 1 : 0) + (negative && extended ? 1 : 0)];
        counts.negative += negative ? 1 : 0;
        counts.extended += extended ? 1 : 0;
        ++counts.rows;
      }
    }
  }
}

RunNotes::RunNotes(OutputFiles& files, DataSet data_set, std::span<const int> age_groups,
                   std::vector<double> times, std::vector<std::string> region_names)
    : files_(files),
      header_(notes_header(data_set) + "\n"),
      times_(std::move(times)),
      region_names_(std::move(region_names)) {
  for (const int group : age_groups) {
    const std::int32_t days = kAgeGroups[static_cast<std::size_t>(group - 1)].days;
    index_.push_back(files_.add_optional(notes_file_name(days, data_set)));
    rows_.push_back(0);
  }
}

void RunNotes::record(int position, const HeaderRecord& header, const CoefficientTable& coef) {
  text_.clear();
  const NoteCounts counts = format(text_, header, coef);
  add(position, text_, counts);
}

NoteCounts RunNotes::format(std::string& out, const HeaderRecord& header,
                            const CoefficientTable& coef) const {
  NoteCounts counts;
  append_note_rows(out, header, coef, times_, region_names_, counts);
  return counts;
}

void RunNotes::add(int position, std::string_view rows, const NoteCounts& counts) {
  if (rows.empty()) return;
  const auto at = static_cast<std::size_t>(position);
  const int index = index_.at(at);
  if (rows_[at] == 0) {
    // The column line goes with the first rows, in the same write.
    std::string first = header_;
    first.append(rows);
    files_.write(index, first);
    if (on_new_file_) on_new_file_();
  } else {
    files_.write(index, rows);
  }
  rows_[at] += counts.rows;
  counts_.negative += counts.negative;
  counts_.extended += counts.extended;
  counts_.rows += counts.rows;
}

std::vector<int> RunNotes::files_with_rows() const {
  std::vector<int> indices;
  for (std::size_t at = 0; at < index_.size(); ++at) {
    if (rows_[at] > 0) indices.push_back(index_[at]);
  }
  return indices;
}

}  // namespace kestrane
