// The picture of one nuclide record and region as an SVG file: the tabulated rates, the
// interpolant through them with the rate beyond the table as the run's models take it, and the
// integral from 0 (the coefficient as a function of the integration time) with the run's times
// marked.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dose/tail_rows.h"
#include "input/data_sets.h"
#include "input/rate_units.h"
#include "input/record_tables.h"
#include "output/plot_tails.h"

namespace kestrane {

// What one picture shows.
struct RecordPlot {
  std::string header_line;
  std::int64_t line_number = 0;  // of the header line
  // The record as the title names it: nuclide and class or f1 as in the header (blanks
  // around them are dropped), the data set and the age at intake in days.
  std::string nuclide;
  std::string class_or_f1;
  DataSet data_set = DataSet::inhalation;
  std::int32_t age_days = 0;
  std::string file_name;      // the dose-rate file, "DATA\KVR13INH.DRT"
  std::string region;         // the region's name, or "Lung"
  std::vector<double> x;      // the record's times, days
  std::vector<double> low;    // the rates of the low table; empty when not drawn
  std::vector<double> high;   // the rates of the high table; empty when not drawn
  std::vector<double> times;  // the integration times of the run, days
  TailModels tails;           // the run's rate models before and after the table
  // The units the file's title names, for the captions of the panels; none: the rate in
  // "units of the file" and the integral in "rate × d".
  std::optional<RateUnits> units;
};

// The SVG document of the picture: a title naming the record, the rates and interpolant in an
// upper panel and the integral from 0 in a lower one on a shared logarithmic time axis, the
// integration times marked, and below them the legend and the coefficients with their shares
// from outside the table.
// Every text stands clear of every other text and of every drawn point.
std::string record_plot_svg(const RecordPlot& plot);

}  // namespace kestrane
