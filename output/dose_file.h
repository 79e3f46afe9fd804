// The dose files of a run: beside each coefficient file, the committed equivalent dose of each
// tissue of the weighting scheme, of its remainder, and the committed effective dose, of every
// processed record at every integration time, one line each, for pandas.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dose/dose_sums.h"
#include "dose/record_loop.h"
#include "input/data_sets.h"
#include "input/dose_rate_file.h"
#include "input/record_tables.h"
#include "output/output_files.h"

namespace kestrane {

// "OUTPUT\DC" + age in days + data-set letter + "-dose.csv", beside the coefficient file.
std::string dose_file_name(std::int32_t age_days, DataSet data_set);

// "nuclide,class,age_days,header_line,points,time_d,quantity,tissue,value", with "f1" in place
// of "class" for ingestion (no line end).
std::string dose_header(DataSet data_set);

// The name of the row of the remainder's equivalent dose.
inline constexpr std::string_view kRemainderRowName = "Remainder";

// The sums of a scheme with the names of the rows they give: one per tissue, then the
// remainder's.
struct DoseRows {
  // `tissues` are the tissue names, in the scheme's order.
  DoseRows(DoseColumns sums, std::vector<std::string> tissue_names);

  DoseColumns columns;
  std::vector<std::string> tissues;
  // The fields of each value's line between the time and the value, with their commas:
  // "equivalent,<tissue>," for each tissue and the remainder, then "effective,,".
  std::vector<std::string> line_middles;
  // How many values record_doses gives for one time: the tissues, the remainder, the effective.
  std::size_t values() const { return tissues.size() + 2; }
};

// Appends the lines of one record, each ended by LF: for every integration time, an
// "equivalent" line for each tissue in the scheme's order, one for the tissue "Remainder",
// then the "effective" line with an empty tissue; every number in the shortest form that reads
// back to the same double.
void append_dose_record(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                        std::span<const double> times, const DoseRows& rows);

// The dose file of every selected age group, among the files of the run (written as partial
// files and put in place when the run completes).
class DoseFiles {
 public:
  // Adds the file of every selected age group to `files` and writes its header line. Throws
  // OutputError naming the file.
  DoseFiles(OutputFiles& files, DataSet data_set, std::span<const int> age_groups);
  // Appends lines that append_dose_record made to the file of 0-based `position`. Throws
  // OutputError when the write fails.
  void write(int position, std::string_view lines);

 private:
  OutputFiles& files_;
  std::vector<int> index_;  // the index in files_ of each position
};

}  // namespace kestrane
