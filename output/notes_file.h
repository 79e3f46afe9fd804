// The notes of a run: beside each coefficient file, one row for every record some of whose
// coefficients are negative or rest in more than a small share on the interpolant extended
// beyond the tabulated times, with their counts and the largest share. The notes change no
// number of the coefficient files.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dose/record_loop.h"
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

// Appends the notes row of one record, ended by LF, when any of its integrated coefficients
// is noted, and adds it to `counts`: the record (nuclide, class or f1, age, header line, first
// and last time), how many coefficients were integrated, how many are negative and how many
// extended, the largest share from outside among them and the first coefficient with it (time,
// region, low before high), and how many exponential after-parts fell back to constant (a
// record with one is noted whatever else). Tables that were not integrated (N = 1, or not named
// by the table code) count for nothing.
void append_note_row(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                     std::span<const double> times, std::span<const std::string> region_names,
                     NoteCounts& counts);

// The notes of a whole run: one notes file per selected age, in selected-age order, among
// the files of the run. A notes file is made with its first row (after its column line) and
// put in place with the other files when the run completes; one that got no row is not
// written, and an earlier file of its name is then removed.
class RunNotes {
 public:
  // Adds the notes file of every selected age group to `files` as an optional file.
  // Throws OutputError naming the file.
  // `times` are the integration times of each position's files.
  RunNotes(OutputFiles& files, DataSet data_set, std::span<const int> age_groups,
           PositionTimes times, std::vector<std::string> region_names);

  // Notes the coefficients of one processed record matched to `position` (0-based): the
  // same as add() with the row and counts that format() makes.
  void record(int position, const HeaderRecord& header, const CoefficientTable& coef);
  // Appends the notes row of a record to `out` and returns its counts; changes nothing, so
  // records can be formatted on several threads at once.
  NoteCounts format(std::string& out, int position, const HeaderRecord& header,
                    const CoefficientTable& coef) const;
  // Appends a row that format() made to the notes file of `position`, with its counts.
  // Throws OutputError when the write fails.
  void add(int position, std::string_view rows, const NoteCounts& counts);

  // The counts of the whole run and of the notes file of `position`.
  const NoteCounts& counts() const { return counts_; }
  const NoteCounts& counts(int position) const {
    return of_file_.at(static_cast<std::size_t>(position));
  }
  // The index among the files of the run of the notes file of `position`.
  int file_index(int position) const { return index_.at(static_cast<std::size_t>(position)); }
  // The indices among the files of the run of the notes files that hold rows, in
  // selected-age order.
  std::vector<int> files_with_rows() const;
  // `call` is called each time a notes file is made, with its first row.
  void on_new_file(std::function<void()> call) { on_new_file_ = std::move(call); }

 private:
  OutputFiles& files_;
  std::string header_;  // the column line with its line end
  PositionTimes times_;
  std::vector<std::string> region_names_;
  std::vector<int> index_;           // the index in files_ of each position
  std::vector<NoteCounts> of_file_;  // the counts of the file of each position
  NoteCounts counts_;
  std::string text_;
  std::function<void()> on_new_file_;
};

}  // namespace kestrane
