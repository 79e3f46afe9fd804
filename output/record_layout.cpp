// The layout of a record picture: its time, rate and integral axes, the curves of its tables
// sampled, the rows of the integration times' labels, the legend and the picture's size.
#include "output/record_layout.h"

#include <cmath>

namespace kestrane::record_layout {

namespace {

// Time axis: whole decades, from at least one below the first positive time of the table and
// below the smallest integration time, so that the stretch from 0 to the first time shows.
TimeAxis time_axis(const RecordPlot& plot, double end, bool& zero_point) {
  double smallest = 0;
  for (const auto* list : {&plot.x, &plot.times}) {
    for (const double t : *list) {
      if (t > 0 && std::isfinite(t) && (smallest == 0 || t < smallest)) smallest = t;
      if (t == 0 && list == &plot.x) zero_point = true;
    }
  }
  TimeAxis time;
  time.left = kLeft;
  time.right = kRight;
  if (smallest > 0) {
    time.lo = static_cast<int>(std::floor(std::log10(smallest))) - 1;
    time.hi = static_cast<int>(std::ceil(std::log10(std::max(end, smallest))));
    if (time.hi <= time.lo + 1) time.hi = time.lo + 2;
  }
  return time;
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

// The interpolant and its integral from 0 at the sample times, for each table drawn.
std::vector<Curves> table_curves(const RecordPlot& plot, const std::vector<double>& ts) {
  const std::size_t n = plot.x.size();
  std::vector<Curves> curves;
  for (const int t : {0, 1}) {
    const std::vector<double>& f = t == 0 ? plot.low : plot.high;
    if (f.empty()) continue;
    Curves& c = curves.emplace_back();
    c.t = t;
    c.f = std::span<const double>(f).first(std::min(f.size(), n));
    if (n >= 2) c.row = integrate_row(plot.x, c.f, ts);
    if (c.row.ok) {
      for (const double s : ts) {
        c.sample_values.push_back(interpolant_value(plot.x, c.f, c.row.slopes, s));
      }
      c.sample_integrals = c.row.integrals;
    }
  }
  return curves;
}

// Rate axis: linear within the smallest non-zero tabulated rate of 0, logarithmic beyond,
// over every rate and every value of the interpolant.
SymlogAxis rate_axis(const std::vector<Curves>& curves) {
  SymlogAxis rate;
  rate.top = kRateTop;
  rate.bottom = kRateBottom;
  double c_rate = 0;
  for (const Curves& c : curves) {
    for (const double v : c.f) {
      if (v != 0 && std::isfinite(v) && (c_rate == 0 || std::abs(v) < c_rate)) c_rate = std::abs(v);
    }
  }
  rate.c = c_rate > 0 ? c_rate : 1.0;
  double s_lo = 0;
  double s_hi = 0;
  const auto reach = [&](std::span<const double> values) {
    for (const double v : values) {
      if (!std::isfinite(v)) continue;
      s_lo = std::min(s_lo, rate.scaled(v));
      s_hi = std::max(s_hi, rate.scaled(v));
    }
  };
  for (const Curves& c : curves) {
    reach(c.sample_values);
    reach(c.f);
  }
  if (s_hi <= s_lo) s_hi = s_lo + 1;
  const double pad = (s_hi - s_lo) * 0.06;
  rate.lo = s_lo - (s_lo < 0 ? pad : 0);
  rate.hi = s_hi + pad;
  return rate;
}

// Integral axis: over every value of the integrals, 0 among them.
LinearAxis integral_axis(const std::vector<Curves>& curves) {
  double i_lo = 0;
  double i_hi = 0;
  for (const Curves& c : curves) {
    for (const double v : c.sample_integrals) {
      if (!std::isfinite(v)) continue;
      i_lo = std::min(i_lo, v);
      i_hi = std::max(i_hi, v);
    }
  }
  return linear_axis(i_lo, i_hi, kIntegralTop, kIntegralBottom);
}

// The integration times, labelled below the time axis in as many rows as keep them apart.
void place_time_labels(const RecordPlot& plot, Layout& layout) {
  std::vector<RowBoxes> rows(1);
  rows[0].spans.emplace_back(kLeft - 8 - text_width(kTimesCaption, kSmall), kLeft - 8);
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
  layout.time_rows = rows.size();
}

// The legend: one sample of each kind of line and point.
std::vector<LegendItem> legend_items(const Layout& layout) {
  std::vector<LegendItem> legend;
  const char* const ink = layout.curves.empty() ? "black" : table_colour(layout.curves.front().t);
  for (const Curves& c : layout.curves) {
    legend.push_back(
        {LegendSample::swatch, table_colour(c.t), std::string(table_label(c.t)) + " table"});
  }
  legend.push_back({LegendSample::point, ink, "tabulated rate"});
  if (layout.zero_point)
    legend.push_back(
        {LegendSample::open_point, ink, "rate tabulated at time 0, drawn at the left edge"});
  if (layout.n >= 2) {
    legend.push_back(
        {LegendSample::line, ink, "interpolant through the rates; integral from 0 (lower panel)"});
    legend.push_back(
        {LegendSample::dashed, ink, "interpolant continued beyond the tabulated times"});
  }
  if (layout.first_time > 0)
    legend.push_back({LegendSample::shaded, ink, "from 0 to the first tabulated time"});
  if (layout.n >= 2)
    legend.push_back({LegendSample::coefficient, ink, "coefficient: the integral from 0 to T"});
  legend.push_back({LegendSample::time_mark, ink, "integration time T of the run"});
  return legend;
}

}  // namespace

Layout lay_out(const RecordPlot& plot) {
  Layout layout;
  layout.n = plot.x.size();
  layout.x = plot.x;
  layout.first_time = layout.n > 0 ? plot.x[0] : 0.0;
  layout.last_time = layout.n > 0 ? plot.x[layout.n - 1] : 0.0;
  layout.end = layout.last_time;
  for (const double t : plot.times) layout.end = std::max(layout.end, t);
  layout.time = time_axis(plot, layout.end, layout.zero_point);
  layout.ts = sample_times(plot, layout.time, layout.end);
  layout.curves = table_curves(plot, layout.ts);
  layout.rate = rate_axis(layout.curves);
  layout.integral = integral_axis(layout.curves);
  place_time_labels(plot, layout);

  // The table of coefficients: the time column as wide as its longest text.
  double time_column = text_width("T (d)", kSmall);
  for (const double t : plot.times)
    time_column = std::max(time_column, text_width(plain_decimal(t), kSmall));
  layout.time_column = time_column + 16;
  const double table_right = kTableLeft + layout.time_column +
                             kColumnWidth * double(std::max<std::size_t>(layout.curves.size(), 1));
  const double table_bottom = kTableRow0 + 15.0 * double(plot.times.size());

  layout.legend = legend_items(layout);
  layout.legend_top = layout.time_caption_y() + 26;
  layout.height =
      std::max(layout.legend_top + kLegendRow * double(layout.legend.size()), table_bottom) + 12;
  layout.width = std::max(kWidth, table_right + 12);
  return layout;
}

}  // namespace kestrane::record_layout
