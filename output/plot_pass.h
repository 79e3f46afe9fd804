// The pass over the dose-rate file that writes the pictures of the records of one nuclide,
// for kestrane-batch --plot: file names, the nuclide comparison and the pass itself.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "input/data_sets.h"
#include "input/dose_rate_file.h"
#include "input/record_tables.h"

namespace kestrane {

// "<nuclide>_<age>d_<region>_line<number>.svg", each name reduced to letters, digits, '-',
// '+' and '.' (anything else becomes '_').
std::string plot_file_name(const HeaderRecord& header, std::string_view region_name);

// True when two nuclide names are equal without regard to case and trailing blanks.
bool same_nuclide(std::string_view a, std::string_view b);

// A run of plots: the records of one nuclide that a coefficient run with the same choice
// processes.
struct PlotRequest {
  std::filesystem::path working_dir;
  DataSet data_set = DataSet::inhalation;
  std::string nuclide;
  std::vector<double> times;
  std::vector<int> age_groups;           // as the run's selected-age list
  std::vector<int> regions;              // as the run's selected-region list
  std::vector<std::string> region_list;  // the file's names, then "Lung", then "ALL ORGANS"
};

// Reads the dose-rate file of the data set again and writes one picture per processed
// record of the nuclide and selected region into OUTPUT/plots (made when missing), each
// written whole under a temporary name and then renamed. Returns the host paths of the files
// written (under the working directory), in file and region order. Throws InputError
// for a file that cannot be read and OutputError for a picture that cannot be written.
std::vector<std::filesystem::path> write_record_plots(const PlotRequest& request);

}  // namespace kestrane
