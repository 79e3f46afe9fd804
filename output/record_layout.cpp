// The layout of a record picture: every place, axis, sample time and text of the picture
// worked out from the record and the run before output/record_plot draws it.
#include "output/record_layout.h"

#include <algorithm>
#include <cmath>

#include "output/notes_file.h"

namespace kestrane {

using namespace record_page;

namespace {

constexpr int kSamples = 300;  // points of each curve besides the table's and the run's times

// Time axis: whole decades, from at least one below the first positive time of the table and
// below the smallest integration time, so that the stretch from 0 to the first time shows.
void place_time_axis(const RecordPlot& plot, RecordLayout& layout) {
  double smallest = 0;
  for (const auto* list : {&plot.x, &plot.times}) {
    for (const double t : *list) {
      if (t > 0 && std::isfinite(t) && (smallest == 0 || t < smallest)) smallest = t;
      if (t == 0 && list == &plot.x) layout.zero_point = true;
    }
  }
  TimeAxis& time = layout.time;
  time.left = kLeft;
  time.right = kRight;
  if (smallest > 0) {
    time.lo = static_cast<int>(std::floor(std::log10(smallest))) - 1;
    time.hi = static_cast<int>(std::ceil(std::log10(std::max(layout.end, smallest))));
    if (time.hi <= time.lo + 1) time.hi = time.lo + 2;
  }
}

// Sample times: log-spaced across the axis, the table's times and the integration times.
std::vector<double> sample_times(const RecordPlot& plot, const TimeAxis& time, double end) {
  std::vector<double> ts;
  for (int i = 0; i <= kSamples; ++i) {
    const double t = std::pow(10.0, time.lo + (time.hi - time.lo) * double(i) / kSamples);
    if (t <= end) ts.push_back(t);
  }
  for (const double t : plot.x) ts.push_back(t);
  for (const double t : plot.times) ts.push_back(t);
  ts.push_back(0.0);
  std::sort(ts.begin(), ts.end());
  ts.erase(std::unique(ts.begin(), ts.end()), ts.end());
  std::erase_if(ts, [](double t) { return !(t >= 0) || !std::isfinite(t); });
  return ts;
}

// Each drawn table's interpolant and integrals at the sample times, as the run's models take
// the rate beyond the table.
std::vector<Curves> table_curves(const RecordPlot& plot, const std::vector<double>& ts) {
  const std::size_t n = plot.x.size();
  const std::span<const double> x(plot.x);
  std::vector<Curves> curves;
  for (const int t : {0, 1}) {
    const std::vector<double>& f = t == 0 ? plot.low : plot.high;
    if (f.empty()) continue;
    Curves& c = curves.emplace_back();
    c.t = t;
    c.f = std::span<const double>(f).first(std::min(f.size(), n));
    if (n >= 2) c.row = integrate_row(x, c.f, ts, plot.tails);
    if (c.row.ok) {
      for (const double s : ts) {
        c.sample_values.push_back(model_rate(x, c.f, c.row.slopes, s, plot.tails));
      }
      c.sample_integrals = c.row.integrals;
    }
  }
  return curves;
}

// Rate axis: linear within the smallest non-zero tabulated rate of 0, logarithmic beyond,
// over every rate drawn; the integral axis over every integral drawn.
void place_value_axes(RecordLayout& layout) {
  SymlogAxis& rate = layout.rate;
  rate.top = kRateTop;
  rate.bottom = kRateBottom;
  double c_rate = 0;
  for (const Curves& c : layout.curves) {
    for (const double v : c.f) {
      if (v != 0 && std::isfinite(v) && (c_rate == 0 || std::abs(v) < c_rate)) c_rate = std::abs(v);
    }
  }
  rate.c = c_rate > 0 ? c_rate : 1.0;
  double s_lo = 0;
  double s_hi = 0;
  double i_lo = 0;
  double i_hi = 0;
  const auto widen_rate = [&](double v) {
    if (!std::isfinite(v)) return;
    s_lo = std::min(s_lo, rate.scaled(v));
    s_hi = std::max(s_hi, rate.scaled(v));
  };
  for (const Curves& c : layout.curves) {
    for (const double v : c.sample_values) widen_rate(v);
    for (const double v : c.f) widen_rate(v);
    for (const double v : c.sample_integrals) {
      if (!std::isfinite(v)) continue;
      i_lo = std::min(i_lo, v);
      i_hi = std::max(i_hi, v);
    }
  }
  if (s_hi <= s_lo) s_hi = s_lo + 1;
  const double pad = (s_hi - s_lo) * 0.06;
  rate.lo = s_lo - (s_lo < 0 ? pad : 0);
  rate.hi = s_hi + pad;
  layout.integral = linear_axis(i_lo, i_hi, kIntegralTop, kIntegralBottom);
}

// The integration times, labelled below the time axis in as many rows as keep them apart.
void place_time_labels(const RecordPlot& plot, RecordLayout& layout) {
  std::vector<RowBoxes> rows(1);
  rows[0].spans.emplace_back(kLeft - 8 - text_width(layout.times_caption, kSmall), kLeft - 8);
  layout.sorted_times = plot.times;
  std::vector<double>& sorted = layout.sorted_times;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (const double t : sorted) {
    const std::string text = plain_decimal(t);
    const double half = text_width(text, kSmall) / 2;
    const double cx = layout.time.at(t);
    std::size_t row = 0;
    while (row < rows.size() && !rows[row].is_free(cx - half, cx + half)) ++row;
    if (row == rows.size()) rows.emplace_back();
    rows[row].spans.emplace_back(cx - half, cx + half);
    layout.time_labels.push_back({cx, row, text});
  }
  layout.tick_labels_y = kIntegralBottom + 19;
  layout.time_caption_y = RecordLayout::time_row_y(rows.size()) + 8;
}

// The table of coefficients below the panels, at the right: the times, then each table's
// coefficients and their shares from outside the table, every column as wide as its
// longest text.
void place_table(const RecordPlot& plot, RecordLayout& layout) {
  const std::vector<double>& ts = layout.ts;
  std::vector<TableColumn>& table = layout.table;
  table.resize(1);
  table.reserve(1 + 2 * layout.curves.size());  // the references below stay
  table[0].header = "T (d)";
  for (const double t : plot.times) table[0].cells.push_back(plain_decimal(t));
  for (const Curves& c : layout.curves) {
    TableColumn& values = table.emplace_back();
    TableColumn& shares = table.emplace_back();
    values.header = table_label(c.t);
    values.colour = shares.colour = table_colour(c.t);
    shares.header = "outside";
    for (const double t : plot.times) {
      const auto at = std::lower_bound(ts.begin(), ts.end(), t);
      const auto m = static_cast<std::size_t>(at - ts.begin());
      if (c.row.ok && at != ts.end() && *at == t) {
        values.cells.push_back(three_digits(c.sample_integrals[m]));
        shares.cells.push_back(
            three_digits(100 * share_outside(c.sample_integrals[m], c.row.outside[m])) + "%");
      } else {
        values.cells.push_back(layout.n == 1 && !c.f.empty() ? three_digits(c.f[0]) : "");
        shares.cells.push_back("");  // copied, or not integrated
      }
    }
  }
  double table_width = 0;
  for (TableColumn& column : table) {
    column.width = text_width(column.header, kSmall);
    for (const std::string& cell : column.cells)
      column.width = std::max(column.width, text_width(cell, kSmall));
    column.width += 16;
    table_width += column.width;
  }
  layout.table_left = kRight - table_width + 16;
  layout.band_top = layout.time_caption_y + 30;
  layout.table_row0 = layout.band_top + 36;
}

// The legend: one sample of each kind of line and point, in as many columns as fit left of
// the table.
void place_legend(const RecordPlot& plot, RecordLayout& layout) {
  std::vector<LegendItem>& legend = layout.legend;
  const char* const ink = layout.curves.empty() ? "black" : table_colour(layout.curves.front().t);
  for (const Curves& c : layout.curves) {
    legend.push_back(
        {LegendSample::swatch, table_colour(c.t), std::string(table_label(c.t)) + " table"});
  }
  legend.push_back({LegendSample::point, ink, "tabulated rate"});
  if (layout.zero_point)
    legend.push_back({LegendSample::open_point, ink, "rate at time 0 (left edge)"});
  if (layout.n >= 2) {
    legend.push_back({LegendSample::line, ink, "interpolant; integral from 0"});
    if (layout.first_time > 0)
      legend.push_back({LegendSample::dashed, ink, before_legend(plot.tails.before)});
    if (layout.end > layout.last_time)
      legend.push_back({LegendSample::dashed, ink, after_legend(plot.tails.after)});
  }
  if (layout.first_time > 0) legend.push_back({LegendSample::shaded, ink, "0 to the first time"});
  if (layout.n >= 2)
    legend.push_back({LegendSample::coefficient, ink, "coefficient: integral to T"});
  legend.push_back({LegendSample::time_mark, ink, "integration time T"});
  layout.legend_place = legend_layout(legend, layout.table_left - 24 - kLeft);
}

}  // namespace

const char* table_colour(int t) { return t == 0 ? "#1f5fa8" : "#c0392b"; }
const char* table_label(int t) { return t == 0 ? "low" : "high"; }

RecordLayout record_layout(const RecordPlot& plot) {
  RecordLayout layout;
  layout.n = plot.x.size();
  layout.first_time = layout.n > 0 ? plot.x[0] : 0.0;
  layout.last_time = layout.n > 0 ? plot.x[layout.n - 1] : 0.0;
  layout.end = layout.last_time;
  for (const double t : plot.times) layout.end = std::max(layout.end, t);
  place_time_axis(plot, layout);
  layout.ts = sample_times(plot, layout.time, layout.end);
  layout.curves = table_curves(plot, layout.ts);
  place_value_axes(layout);
  place_time_labels(plot, layout);
  place_table(plot, layout);
  place_legend(plot, layout);
  const double table_bottom = layout.table_row0 + 15.0 * double(plot.times.size());
  layout.height =
      std::max(layout.band_top + kLegendRow * double(layout.legend_place.rows), table_bottom) + 12;
  return layout;
}

}  // namespace kestrane
