// The layout of a record picture, worked out before anything is drawn: the page and its two
// panels, the time axis in whole decades, the sample times, each table's curves, the rate and
// integral axes, the rows of the integration-time labels, the coefficient table and the legend.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "output/plot_parts.h"
#include "output/plot_tails.h"
#include "output/record_plot.h"

namespace kestrane {

// The places of the picture, in viewBox units. The two panels share the time axis and the
// width of the page; below them stand the legend and, at the right, the table of coefficients.
namespace record_page {
inline constexpr double kWidth = 1040;
inline constexpr double kLeft = 92;
inline constexpr double kRight = 1010;
inline constexpr double kRateTop = 90;
inline constexpr double kRateBottom = 290;
inline constexpr double kIntegralTop = 330;
inline constexpr double kIntegralBottom = 500;
inline constexpr double kSmall = 11;  // the font size of ticks, time labels and the table
}  // namespace record_page

const char* table_colour(int t);
const char* table_label(int t);

// One drawn table (0 low, 1 high): its rates over the record's times, its slopes and integrals
// at the sample times, and the interpolant there.
struct Curves {
  int t = 0;
  std::span<const double> f;
  RowIntegrals row;
  std::vector<double> sample_values;     // interpolant at the sample times
  std::vector<double> sample_integrals;  // integral from 0 at the sample times
};

// A column of the table of coefficients: its header, the markup of its cells (empty for none)
// and its width with the gap after it.
struct TableColumn {
  std::string header;
  const char* colour = "black";
  std::vector<std::string> cells;
  double width = 0;
};

// An integration time's label below the time axis: where it stands and in which row.
struct TimeLabel {
  double x;
  std::size_t row;
  std::string text;
};

struct RecordLayout {
  std::size_t n = 0;  // the record's times
  double first_time = 0;
  double last_time = 0;
  double end = 0;           // the last time drawn: the table's or the run's
  bool zero_point = false;  // the table has a rate at time 0
  TimeAxis time;
  std::vector<double> ts;  // the sample times, sorted, from 0
  std::vector<Curves> curves;
  SymlogAxis rate;
  LinearAxis integral;
  std::string times_caption = "T (d):";
  std::vector<double> sorted_times;  // the run's integration times, sorted, each once
  std::vector<TimeLabel> time_labels;
  double tick_labels_y = 0;
  double time_caption_y = 0;
  std::vector<TableColumn> table;
  double table_left = 0;
  double band_top = 0;  // the first row of the legend and table
  double table_row0 = 0;
  std::vector<LegendItem> legend;
  LegendLayout legend_place;
  double height = 0;

  // The baseline of a row of integration-time labels.
  static double time_row_y(std::size_t row) {
    return record_page::kIntegralBottom + 40 + 16.0 * double(row);
  }
};

// The layout of the picture of `plot`; its curves refer to the rates of `plot`.
RecordLayout record_layout(const RecordPlot& plot);

}  // namespace kestrane
