// The notes files: which coefficients are negative or rest on the extended interpolant,
// formatted as rows and written among the files of the run beside the coefficient files.
#include "output/notes_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
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

// One coefficient to note, found before any row is written.
struct Note {
  double value;
  double share;
  std::uint32_t region;
  std::uint8_t table;
  std::uint8_t time;
  std::uint8_t reason;  // 1 negative, 2 extended, 3 both
};

// The texts of a row are copied 16 characters at a time, in moves of a fixed size that need no
// library call: each is kept with room for its last step, and a row has room after its end.
constexpr std::size_t kStep = 16;

// A text with room for the copy of its last step.
struct PaddedText {
  std::string padded;
  std::size_t size = 0;
  void assign(std::string_view text) {
    size = text.size();
    padded.assign(text);
    padded.append(kStep, '\0');
  }
};

char* put(char* at, const char* text, std::size_t size) {
  for (std::size_t i = 0; i < size; i += kStep) std::memcpy(at + i, text + i, kStep);
  return at + size;
}

char* put(char* at, const PaddedText& text) { return put(at, text.padded.data(), text.size); }

}  // namespace

NoteColumns::NoteColumns(std::span<const double> times, std::span<const std::string> region_names) {
  for (const double time : times) {
    std::string text;
    append_number(text, time);
    text += ',';
    longest_time = std::max(longest_time, text.size());
    time_fields.push_back(std::move(text));
  }
  for (const std::string& name : region_names) {
    std::string text;
    append_csv_field(text, name);
    text += ',';
    longest_region = std::max(longest_region, text.size());
    region_fields.push_back(std::move(text));
  }
  // Each field kept again with room for the copy of its last step.
  for (std::string& text : time_fields) text.append(kStep, '\0');
  for (std::string& text : region_fields) text.append(kStep, '\0');
}

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
  append_note_rows(out, header, coef, NoteColumns(times, region_names), counts);
}

void append_note_rows(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                      const NoteColumns& columns, NoteCounts& counts) {
  if (!coef.integrated[0] && !coef.integrated[1]) return;
  // The coefficients to note are found first, so that the rows are then written in one piece
  // of known length, in buffers of the thread that are reused from record to record.
  thread_local std::vector<Note> notes;
  notes.clear();
  const std::size_t time_count = columns.time_fields.size();
  const std::size_t region_count = columns.region_fields.size();
  for (std::size_t m = 0; m < time_count; ++m) {
    for (std::size_t j = 0; j < region_count; ++j) {
      for (std::size_t t = 0; t < 2; ++t) {
        if (!coef.integrated[t]) continue;
        const double value = coef.coef[t][j][m];
        const double outside = coef.outside[t][j][m];
        const bool negative = value < 0.0;
        if (!negative && is_surely_within_table(value, outside)) continue;
        const double share = share_outside(value, outside);
        const bool extended = share > kExtendedShareThreshold;
        if (!negative && !extended) continue;
        notes.push_back({value, share, static_cast<std::uint32_t>(j), static_cast<std::uint8_t>(t),
                         static_cast<std::uint8_t>(m),
                         static_cast<std::uint8_t>((negative ? 1 : 0) + (extended ? 2 : 0))});
      }
    }
  }
  if (notes.empty()) return;

  // The texts that every row of the record shares: "nuclide,class,age," and ",first,last,".
  thread_local std::string text;
  thread_local PaddedText prefix;
  thread_local PaddedText times_of_table;
  text.clear();
  append_csv_field(text, trim_spaces(header.nuclide));
  text += ',';
  append_csv_field(text, trim_spaces(header.class_or_f1));
  text += ',';
  append_number(text, header.age_days);
  text += ',';
  prefix.assign(text);
  text.assign(1, ',');
  append_number(text, coef.first_time);
  text += ',';
  append_number(text, coef.last_time);
  text += ',';
  times_of_table.assign(text);

  static constexpr char kTableNames[2][kStep] = {"low,", "high,"};
  static constexpr std::size_t kTableNameSizes[2] = {4, 5};
  static constexpr char kReasons[4][2 * kStep] = {"", "negative\n", "extended\n",
                                                  "negative;extended\n"};
  static constexpr std::size_t kReasonSizes[4] = {0, 9, 9, 18};
  const std::size_t longest_row = prefix.size + columns.longest_region + kTableNameSizes[1] +
                                  columns.longest_time + 2 * kMaxNumberChars + times_of_table.size +
                                  1 + kReasonSizes[3];
  const std::size_t start = out.size();
  out.resize(start + notes.size() * longest_row + kStep);
  char* const first = out.data() + start;
  char* at = first;
  for (const Note& note : notes) {
    at = put(at, prefix);
    const std::string& region = columns.region_fields[note.region];
    at = put(at, region.data(), region.size() - kStep);
    at = put(at, kTableNames[note.table], kTableNameSizes[note.table]);
    const std::string& time = columns.time_fields[note.time];
    at = put(at, time.data(), time.size() - kStep);
    at = std::to_chars(at, at + kMaxNumberChars, note.value).ptr;
    at = put(at, times_of_table);
    at = std::to_chars(at, at + kMaxNumberChars, note.share).ptr;
    *at++ = ',';
    at = put(at, kReasons[note.reason], kReasonSizes[note.reason]);
    counts.negative += note.reason & 1;
    counts.extended += note.reason >> 1;
  }
  counts.rows += static_cast<std::int64_t>(notes.size());
  out.resize(start + static_cast<std::size_t>(at - first));
}

RunNotes::RunNotes(OutputFiles& files, DataSet data_set, std::span<const int> age_groups,
                   std::vector<double> times, std::vector<std::string> region_names)
    : files_(files), header_(notes_header(data_set) + "\n"), columns_(times, region_names) {
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
  append_note_rows(out, header, coef, columns_, counts);
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
