// The picture of one nuclide record and region as an SVG file: the tabulated rates, the
// interpolant through them with its extensions beyond the table, and the integral from 0
// (the coefficient as a function of the integration time) with the run's times marked.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/data_sets.h"
#include "input/record_tables.h"

namespace kestrane {

// The slopes of the interpolant through one rate row and its integrals from 0 to each limit.
// `ok` is false when the row cannot be integrated (fewer than two points, times that do not
// increase); the vectors are then empty.
struct RowIntegrals {
  bool ok = false;
  std::vector<double> slopes;
  std::vector<double> integrals;
};
RowIntegrals integrate_row(std::span<const double> x, std::span<const double> f,
                           std::span<const double> limits);

// The value at `t` of the interpolant with slopes `d`; below x[0] the first piece is
// continued and above the last time the last piece, as the integrals continue them.
double interpolant_value(std::span<const double> x, std::span<const double> f,
                         std::span<const double> d, double t);

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
};

// The SVG document of the picture: a title naming the record, the rates and interpolant in an
// upper panel and the integral from 0 in a lower one on a shared logarithmic time axis, the
// integration times marked, the coefficients in a table beside the panels and a legend.
// Every text stands clear of every other text and of every drawn point.
std::string record_plot_svg(const RecordPlot& plot);

}  // namespace kestrane
