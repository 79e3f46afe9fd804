// The notes of a run: beside each coefficient file, the coefficients that are negative or
// rest in more than a small share on the interpolant extended beyond the tabulated times,
// with that share. The notes change no number of the coefficient files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/dose_rate_file.h"
#include "input/run_tables.h"

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

// Appends the notes of one record, each line ended by LF, in the order in which the
// coefficient file shows its coefficients (integration time, region, low then high), and
// adds them to `counts`. Tables that were not integrated (N = 1, or not named by the table
// code) give no notes.
void append_note_rows(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                      std::span<const double> times, std::span<const std::string> region_names,
                      NoteCounts& counts);

// One notes file, written in full or not at all: rows go to a temporary file beside it
// (its name + ".partial"), made with the first row, and commit() puts that file in place.
class NotesFile {
 public:
  NotesFile(std::filesystem::path working_dir, std::string name, DataSet data_set);
  NotesFile(NotesFile&&) noexcept;
  NotesFile& operator=(NotesFile&&) noexcept;
  NotesFile(const NotesFile&) = delete;
  NotesFile& operator=(const NotesFile&) = delete;
  ~NotesFile();  // as abandon(), without reporting

  // Makes ready for rows; nothing is written before the first row.
  void open();
  // Appends whole lines. Throws OutputError naming the temporary file when a write fails.
  void append(std::string_view lines);
  // At the end of a completed run. With rows: writes them out to the disk and renames the
  // temporary file over the notes file. Without rows: removes a notes file of this name left
  // by an earlier run, and a temporary one left by a stopped run. Throws OutputError.
  void commit();
  // At a stop: closes the temporary file, which keeps the rows written so far under its
  // ".partial" name (none is made when no row came); the notes file of an earlier run stays.
  void abandon();

  bool has_rows() const { return rows_ > 0; }
  const std::string& name() const { return name_; }
  std::string partial_name() const { return name_ + ".partial"; }

 private:
  void write_out();
  std::filesystem::path working_dir_;
  std::string name_;  // display name, "OUTPUT\DC100g-notes.csv"
  DataSet data_set_;
  std::filesystem::path partial_path_;
  int fd_ = -1;
  std::string buffer_;
  std::int64_t rows_ = 0;
};

// The notes of a whole run: one notes file per selected age, in selected-age order.
class RunNotes {
 public:
  RunNotes(const std::filesystem::path& working_dir, DataSet data_set,
           std::span<const int> age_groups, std::vector<double> times,
           std::vector<std::string> region_names);

  // Notes the coefficients of one processed record matched to `position` (0-based): the
  // same as add() with the rows and counts that format() makes.
  void record(int position, const HeaderRecord& header, const CoefficientTable& coef);
  // Appends the note rows of a record to `out` and returns their counts; changes nothing, so
  // records can be formatted on several threads at once.
  NoteCounts format(std::string& out, const HeaderRecord& header,
                    const CoefficientTable& coef) const;
  // Appends rows that format() made to the notes file of `position`, with their counts.
  void add(int position, std::string_view rows, const NoteCounts& counts);
  void commit();
  void abandon();

  const NoteCounts& counts() const { return counts_; }
  // The notes files that hold rows, in selected-age order.
  std::vector<std::string> files_with_rows() const;
  // "Notes: 348 negative, 2331 extended coefficients; see OUTPUT\DC100g-notes.csv", the
  // names separated by blanks and written with '/' in place of '\' when `slashes`; empty when
  // no note was written.
  std::string summary_line(bool slashes) const;

 private:
  std::vector<double> times_;
  std::vector<std::string> region_names_;
  std::vector<NotesFile> files_;
  NoteCounts counts_;
  std::string text_;
};

}  // namespace kestrane
