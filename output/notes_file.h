// The notes of a run: beside each coefficient file, the coefficients that are negative or
// rest in more than a small share on the interpolant extended beyond the tabulated times,
// with that share. The notes change no number of the coefficient files.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/data_sets.h"
#include "input/dose_rate_file.h"
#include "input/record_tables.h"
#include "output/output_files.h"

namespace kestrane {

// A coefficient is noted as extended when more than this share of it comes from outside
// the tabulated times.
inline constexpr double kExtendedShareThreshold = 0.01;

// "OUTPUT\DC" + age in days + data-set letter + "-notes.csv", beside the coefficient file.
std::string notes_file_name(std::int32_t age_days, DataSet data_set);

// The column line of a notes file (no line end); "f1" in place of "class" for ingestion.
std::string notes_header(DataSet data_set);

// |I_out| / (|I_in| + |I_out|) for a coefficient and the part of it from outside the
// tabulated times (I_in = coefficient - outside); 0 when both parts are 0.
double share_outside(double coefficient, double outside);

// How many notes hold each reason; a coefficient can hold both.
struct NoteCounts {
  std::int64_t negative = 0;
  std::int64_t extended = 0;
  std::int64_t rows = 0;
};

// The columns of note rows that depend only on the run: each integration time and each
// selected region as written in a row, with the comma after it, then 16 NUL characters of room
// for the row writer's fixed-size copies (not part of the field).
struct NoteColumns {
  NoteColumns(std::span<const double> times, std::span<const std::string> region_names);
  std::vector<std::string> time_fields;
  std::vector<std::string> region_fields;
  std::size_t longest_time = 0;
  std::size_t longest_region = 0;
};

// Appends the notes of one record, each line ended by LF, in the order in which the
// coefficient file shows its coefficients (integration time, region, low then high), and
// adds them to `counts`. Tables that were not integrated (N = 1, or not named by the table
// code) give no notes.
void append_note_rows(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                      std::span<const double> times, std::span<const std::string> region_names,
                      NoteCounts& counts);
void append_note_rows(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                      const NoteColumns& columns, NoteCounts& counts);

// The notes of a whole run: one notes file per selected age, in selected-age order, among
// the files of the run. A notes file is made with its first row (after its column line) and
// put in place with the other files when the run completes; one that got no row is not
// written, and an earlier file of its name is then removed.
class RunNotes {
 public:
  // Adds the notes file of every selected age group to `files` as an optional file.
  // Throws OutputError naming the file.
  RunNotes(OutputFiles& files, DataSet data_set, std::span<const int> age_groups,
           std::vector<double> times, std::vector<std::string> region_names);

  // Notes the coefficients of one processed record matched to `position` (0-based): the
  // same as add() with the rows and counts that format() makes.
  void record(int position, const HeaderRecord& header, const CoefficientTable& coef);
  // Appends the note rows of a record to `out` and returns their counts; changes nothing, so
  // records can be formatted on several threads at once.
  NoteCounts format(std::string& out, const HeaderRecord& header,
                    const CoefficientTable& coef) const;
  // Appends rows that format() made to the notes file of `position` in one write, with their
  // counts. Throws OutputError when the write fails.
  void add(int position, std::string_view rows, const NoteCounts& counts);

  const NoteCounts& counts() const { return counts_; }
  // The indices among the files of the run of the notes files that hold rows, in
  // selected-age order.
  std::vector<int> files_with_rows() const;
  // `call` is called each time a notes file is made, with its first rows.
  void on_new_file(std::function<void()> call) { on_new_file_ = std::move(call); }

 private:
  OutputFiles& files_;
  std::string header_;  // the column line with its line end
  NoteColumns columns_;
  std::vector<int> index_;          // the index in files_ of each position
  std::vector<std::int64_t> rows_;  // the rows written to the file of each position
  NoteCounts counts_;
  std::string text_;
  std::function<void()> on_new_file_;
};

}  // namespace kestrane
