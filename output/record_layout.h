// The layout of a record picture, worked out before anything is drawn: where the panels, the
// table of coefficients and the legend stand, the axes, the curves of each table at the sample
// times and the rows of the integration times' labels. output/record_plot draws from it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "output/plot_parts.h"
#include "output/record_plot.h"

namespace kestrane::record_layout {

// The layout of the picture, in viewBox units. The two panels share the time axis; the table
// of coefficients stands to the right of them, the legend below.
inline constexpr double kWidth = 1040;
inline constexpr double kLeft = 92;
inline constexpr double kRight = 690;
inline constexpr double kRateTop = 90;
inline constexpr double kRateBottom = 290;
inline constexpr double kIntegralTop = 330;
inline constexpr double kIntegralBottom = 500;
inline constexpr double kTableLeft = 750;
inline constexpr double kColumnWidth = 100;
inline constexpr double kTableRow0 = kRateTop + 32;  // the baseline of the table's first row
// The font size of the axes' labels and of the times.
inline constexpr double kSmall = 11;
// Points of each curve besides the table's and the run's times.
inline constexpr int kSamples = 300;
inline constexpr const char* kTimesCaption = "T (d):";
// The top and bottom of each panel: the rates', then the integral's.
inline constexpr std::pair<double, double> kPanels[] = {{kRateTop, kRateBottom},
                                                        {kIntegralTop, kIntegralBottom}};

inline const char* table_colour(int t) { return t == 0 ? "#1f5fa8" : "#c0392b"; }
inline const char* table_label(int t) { return t == 0 ? "low" : "high"; }

// A table's rates and, where they can be integrated, its interpolant and its integral from 0
// at the sample times.
struct Curves {
  int t = 0;
  std::span<const double> f;
  RowIntegrals row;
  std::vector<double> sample_values;     // interpolant at the sample times
  std::vector<double> sample_integrals;  // integral from 0 at the sample times
};

// The label of an integration time below the time axis, in the row that keeps it apart from
// the others.
struct TimeLabel {
  double x;
  std::size_t row;
  std::string text;
};

// What the parts of a picture are drawn from, worked out before anything is drawn: the
// record's times, the axes, the curves of each table and where the texts stand.
struct Layout {
  std::size_t n = 0;          // time points of the record
  std::span<const double> x;  // their times
  double first_time = 0;
  double last_time = 0;
  double end = 0;           // the latest time drawn: the table's or the run's
  bool zero_point = false;  // a rate tabulated at time 0
  TimeAxis time;
  std::vector<double> ts;  // the sample times of every curve
  std::vector<Curves> curves;
  SymlogAxis rate;
  LinearAxis integral;
  std::vector<double> sorted_times;  // the run's times, each once
  std::vector<TimeLabel> time_labels;
  std::size_t time_rows = 1;  // rows of time labels
  double time_column = 0;     // the width of the table's column of times
  std::vector<LegendItem> legend;
  double legend_top = 0;
  double width = 0;
  double height = 0;

  double time_row_y(std::size_t row) const { return kIntegralBottom + 40 + 16.0 * double(row); }
  double time_caption_y() const { return time_row_y(time_rows) + 8; }
  // The integral of a curve from 0 to one of the run's times; null where it was not sampled.
  const double* integral_at(const Curves& c, double t) const {
    const auto at = std::lower_bound(ts.begin(), ts.end(), t);
    if (at == ts.end() || *at != t) return nullptr;
    return &c.sample_integrals[static_cast<std::size_t>(at - ts.begin())];
  }
};

// The layout of the picture of `plot`; its spans look into `plot`, which must outlive it.
Layout lay_out(const RecordPlot& plot);

}  // namespace kestrane::record_layout
