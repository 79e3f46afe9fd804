// The CSV files of a run: beside each coefficient file, the full double-precision
// coefficients of every processed record, one line per integration time and region.
#pragma once

#include <array>
#include <cstdint>
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

// `text` without its leading and trailing spaces (a TAB is kept: it is part of the field).
std::string_view trim_spaces(std::string_view text);

// A text field as the CSV files write it: quoted only when it holds a comma, quote or line
// end, a quote inside doubled.
void append_csv_field(std::string& out, std::string_view text);

// "OUTPUT\DC" + age in days + data-set letter + ".csv", beside the coefficient file.
std::string csv_file_name(std::int32_t age_days, DataSet data_set);

// The shortest decimal text that reads back to the same double ("0.1", "1e-22", "365").
std::string shortest_double(double value);
// The same text, appended to `out`.
void append_shortest(std::string& out, double value);

// The fields that start every line of a record in the CSV and dose files, each with its comma:
// the nuclide and class letter or f1 field with their blanks trimmed, the record's age in days,
// its header's line number and its time-point count.
std::string csv_record_fields(const HeaderRecord& header);

// "nuclide,class,age_days,header_line,points,time_d,region,low,high,low_share_outside,
// high_share_outside", with "f1" in place of "class" for ingestion (no line end).
std::string csv_header(DataSet data_set);

// Which tables the record carries, low then high, as its data lines are read: both for the
// code B, the low table for L and the high table for any other (trailing blanks aside).
std::array<bool, 2> record_tables(const HeaderRecord& header);

// Appends the lines of one record, each ended by LF: for every integration time, for every
// selected region in selection order, the nuclide and class letter or f1 field with their
// blanks trimmed, the record's age in days, its header's line number, its time-point count,
// the time, the region name, the low and the high coefficient (empty for a table the record
// does not carry) and the share of each from outside the tabulated times (empty unless the
// table was integrated). A field holding a comma or a quote is quoted.
void append_csv_record(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                       std::span<const double> times, std::span<const std::string> region_names);

// A record sink that writes one CSV file per selected age group, among the files of the run
// (written as partial files and put in place when the run completes).
class CsvFiles : public RecordSink {
 public:
  // Adds the CSV file of every selected age group to `files` and writes its header line.
  // `region_names` holds the name of each selected region in selection order. Throws
  // OutputError naming the file.
  CsvFiles(OutputFiles& files, DataSet data_set, std::span<const int> age_groups,
           PositionTimes times, std::vector<std::string> region_names);

  // Appends the record's lines to the file of `position` in one write. Throws OutputError
  // when the write fails; the file then ends with its last whole line.
  void record_done(int position, const HeaderRecord& header, const CoefficientTable& coef) override;

 private:
  OutputFiles& files_;
  PositionTimes times_;  // of each position's file
  std::vector<std::string> region_names_;
  std::vector<int> index_;  // the index in files_ of each position
  std::string text_;        // the lines of the record being written
};

}  // namespace kestrane
