// The pictures of kestrane-batch --plot, drawn while the records are processed, from the same
// rates as the coefficients, and written as files of the run: file names, the nuclide
// comparison and the sink beside the coefficient rows.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dose/record_loop.h"
#include "input/dose_rate_file.h"
#include "input/rate_units.h"
#include "input/record_tables.h"

namespace kestrane {

class OutputFiles;

// "<nuclide>_<age>d_<region>_col<column>_line<number>.svg", each name reduced to letters,
// digits, '-', '+' and '.' (anything else becomes '_'). `column` is the region's number (its
// column of the dose-rate file, or that of Lung after them), so that two regions whose names
// read alike never share a file.
std::string plot_file_name(const HeaderRecord& header, std::string_view region_name, int column);

// True when two nuclide names are equal without regard to case and trailing blanks.
bool same_nuclide(std::string_view a, std::string_view b);

// The pictures of one nuclide's processed records, one per selected region, in
// OUTPUT/plots among the files of the run.
class RecordPictures {
 public:
  // Checks OUTPUT/plots among `files` (refused when it is a link or not a folder: OutputError).
  // `region_names` and `region_numbers` are the selected regions in selection order; `tails`
  // are the run's rate models before and after the table; `units` those the dose-rate file's
  // title names (rate_units), for the captions.
  RecordPictures(OutputFiles& files, std::string nuclide, std::string data_set_path,
                 std::vector<double> times, std::vector<std::string> region_names,
                 std::vector<int> region_numbers, TailModels tails = {},
                 std::optional<RateUnits> units = std::nullopt);

  // Whether `header` is a record of the nuclide.
  bool wanted(const HeaderRecord& header) const;
  // Appends to `out` the pictures of a processed record whose rates are `rates`, one for each
  // selected region. Changes nothing, so records may be drawn on several threads at once.
  void draw(std::vector<RecordPicture>& out, const HeaderRecord& header,
            const RateTable& rates) const;
  // Writes what draw() made as files of the run. Throws OutputError naming the file.
  void add(const std::vector<RecordPicture>& drawn);

  int count() const { return count_; }
  const std::string& nuclide() const { return nuclide_; }
  // `call` is called after each picture is made.
  void on_new_file(std::function<void()> call) { on_new_file_ = std::move(call); }

 private:
  OutputFiles& files_;
  std::string nuclide_;
  std::string data_set_path_;
  std::vector<double> times_;
  std::vector<std::string> region_names_;
  std::vector<int> region_numbers_;
  TailModels tails_;
  std::optional<RateUnits> units_;
  int count_ = 0;
  std::function<void()> on_new_file_;
};

}  // namespace kestrane
