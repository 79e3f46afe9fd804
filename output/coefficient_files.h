// The coefficient files of a run: names, headings and the coefficient rows of both data sets.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/data_sets.h"
#include "input/record_tables.h"
#include "output/output_files.h"

namespace kestrane {

// "OUTPUT\DC" + age in days + data-set letter + ".OUT".
std::string coefficient_file_name(std::int32_t age_days, DataSet data_set);

// `s` centred in `width` columns; cut to its first `width` characters when too long.
std::string center_text(std::string_view s, int width);

// The three heading lines of a coefficient file (without line ends). `region_names` holds
// the name of each selected region in selection order.
std::vector<std::string> coefficient_headers(DataSet data_set, int age_group,
                                             std::span<const std::string> region_names);

// The rows of one processed record, each followed by CR LF, in one text: one row per
// integration time, and one even when `times` is empty (time and coefficients then 0). Numbers
// are narrowed to 32-bit floating point before they are formatted. Serves both data sets, each
// in its own layout. Touches no shared state, so records can be formatted on several threads
// at once.
std::string coefficient_block(DataSet data_set, std::string_view header_line,
                              const CoefficientTable& coef, std::span<const double> times,
                              int region_count);

// The coefficient files of a run, one per selected age, in selected-age order, among the
// files of the run (written as partial files and put in place when the run completes).
class CoefficientFiles {
 public:
  CoefficientFiles() = default;

  // Number of files and the program name of file `position` (0-based).
  int size() const { return static_cast<int>(index_.size()); }
  const std::string& name(int position) const;
  // "Files written: " followed by each name and one blank.
  std::string written_files_line() const;

  void write_coefficient_headers(DataSet data_set, std::span<const int> age_groups,
                                 std::span<const std::string> region_names);
  // Appends a block of whole lines, each ended by CR LF (as coefficient_block makes them), to
  // the file of `position` in one write; a failed write keeps the whole lines that fit
  // (OutputFiles::write).
  void write_block(int position, std::string_view block);

 private:
  friend CoefficientFiles open_coefficient_files(OutputFiles&, DataSet, std::span<const int>);
  OutputFiles* files_ = nullptr;
  std::vector<int> index_;  // the index in files_ of each position
};

// "Files written: " followed by each of `names` and one blank.
std::string written_files_line(const std::vector<std::string>& names);

// Adds one coefficient file per selected age group (`age_groups` holds group numbers 1..6)
// to the files of the run, in that order. Throws OutputError naming a file that cannot be
// made; no earlier file has been changed then.
CoefficientFiles open_coefficient_files(OutputFiles& files, DataSet data_set,
                                        std::span<const int> age_groups);

}  // namespace kestrane
