// The picture of one record and region: axes, rates, interpolant, the rate beyond the table
// by the run's models, the integral from 0 and the integration times, the legend and the
// coefficients with their shares from outside the table, written with the program's own SVG
// writer (the picture only; output/plot_pass writes the files).
#include "output/record_plot.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "output/notes_file.h"
#include "output/plot_parts.h"
#include "output/svg_writer.h"

namespace kestrane {

namespace {

// The layout of the picture, in viewBox units. The two panels share the time axis and the
// width of the page; below them stand the legend and, at the right, the table of coefficients.
constexpr double kWidth = 1040;
constexpr double kLeft = 92;
constexpr double kRight = 1010;
constexpr double kRateTop = 90;
constexpr double kRateBottom = 290;
constexpr double kIntegralTop = 330;
constexpr double kIntegralBottom = 500;
constexpr int kSamples = 300;        // points of each curve besides the table's and the run's times
constexpr double kSmoothStep = 1.5;  // the most a rate path moves between two of its points

const char* table_colour(int t) { return t == 0 ? "#1f5fa8" : "#c0392b"; }

// A column of the table of coefficients: its header, the markup of its cells (empty for none)
// and its width with the gap after it.
struct TableColumn {
  std::string header;
  const char* colour = "black";
  std::vector<std::string> cells;
  double width = 0;
};
const char* table_label(int t) { return t == 0 ? "low" : "high"; }

struct Curves {
  int t = 0;
  std::span<const double> f;
  RowIntegrals row;
  std::vector<double> sample_values;     // interpolant at the sample times
  std::vector<double> sample_integrals;  // integral from 0 at the sample times
};

void draw_panel_frame(SvgWriter& svg, double top, double bottom) {
  svg.element("rect", {{"x", SvgWriter::number(kLeft)},
                       {"y", SvgWriter::number(top)},
                       {"width", SvgWriter::number(kRight - kLeft)},
                       {"height", SvgWriter::number(bottom - top)},
                       {"fill", "none"},
                       {"stroke", "black"}});
}

// One path of a curve through its points (time, value).
void draw_points(SvgWriter& svg, const std::vector<RatePoint>& curve, const TimeAxis& time,
                 auto&& y, const std::string& cls, const char* colour, const char* dash) {
  std::vector<SvgPoint> points;
  for (const RatePoint& p : curve) points.push_back({time.at(p.t), y(p.v)});
  if (points.size() < 2) return;
  svg.element("path", {{"class", cls},
                       {"d", SvgWriter::path_data(points)},
                       {"fill", "none"},
                       {"stroke", colour},
                       {"stroke-width", "1.5"},
                       {"stroke-dasharray", dash}});
}

// The title: nuclide, data set, class or f1, age and header line.
std::string title_markup(const RecordPlot& plot) {
  const bool inhalation = plot.data_set == DataSet::inhalation;
  std::string_view nuclide = plot.nuclide;
  std::string_view tag = plot.class_or_f1;
  while (!nuclide.empty() && nuclide.back() == ' ') nuclide.remove_suffix(1);
  while (!tag.empty() && tag.front() == ' ') tag.remove_prefix(1);
  while (!tag.empty() && tag.back() == ' ') tag.remove_suffix(1);
  return SvgWriter::escape(nuclide) + " &#x2014; " +
         (inhalation ? "inhalation, class " : "ingestion, f1 ") + SvgWriter::escape(tag) +
         ", age " + std::to_string(plot.age_days) + " d (line " + std::to_string(plot.line_number) +
         ")";
}

}  // namespace

std::string record_plot_svg(const RecordPlot& plot) {
  const std::size_t n = plot.x.size();
  const std::span<const double> x(plot.x);
  const double first_time = n > 0 ? x[0] : 0.0;
  const double last_time = n > 0 ? x[n - 1] : 0.0;
  double end = last_time;
  for (const double t : plot.times) end = std::max(end, t);

  // Time axis: whole decades, from at least one below the first positive time of the table and
  // below the smallest integration time, so that the stretch from 0 to the first time shows.
  double smallest = 0;
  bool zero_point = false;
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

  // Sample times: log-spaced across the axis, the table's times and the integration times.
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

  // Rate axis: linear within the smallest non-zero tabulated rate of 0, logarithmic beyond.
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
  double i_lo = 0;
  double i_hi = 0;
  for (const Curves& c : curves) {
    for (const auto* values : {&c.sample_values}) {
      for (const double v : *values) {
        if (!std::isfinite(v)) continue;
        s_lo = std::min(s_lo, rate.scaled(v));
        s_hi = std::max(s_hi, rate.scaled(v));
      }
    }
    for (const double v : c.f) {
      if (!std::isfinite(v)) continue;
      s_lo = std::min(s_lo, rate.scaled(v));
      s_hi = std::max(s_hi, rate.scaled(v));
    }
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
  const LinearAxis integral = linear_axis(i_lo, i_hi, kIntegralTop, kIntegralBottom);

  // The integration times, labelled below the time axis in as many rows as keep them apart.
  constexpr double kSmall = 11;
  const std::string times_caption = "T (d):";
  std::vector<RowBoxes> rows(1);
  rows[0].spans.emplace_back(kLeft - 8 - text_width(times_caption, kSmall), kLeft - 8);
  struct TimeLabel {
    double x;
    std::size_t row;
    std::string text;
  };
  std::vector<TimeLabel> time_labels;
  std::vector<double> sorted_times = plot.times;
  std::sort(sorted_times.begin(), sorted_times.end());
  sorted_times.erase(std::unique(sorted_times.begin(), sorted_times.end()), sorted_times.end());
  for (const double t : sorted_times) {
    const std::string text = plain_decimal(t);
    const double half = text_width(text, kSmall) / 2;
    const double cx = time.at(t);
    std::size_t row = 0;
    while (row < rows.size() && !rows[row].is_free(cx - half, cx + half)) ++row;
    if (row == rows.size()) rows.emplace_back();
    rows[row].spans.emplace_back(cx - half, cx + half);
    time_labels.push_back({cx, row, text});
  }
  const double tick_labels_y = kIntegralBottom + 19;
  const auto time_row_y = [](std::size_t row) { return kIntegralBottom + 40 + 16.0 * double(row); };
  const double time_caption_y = time_row_y(rows.size()) + 8;

  // The table of coefficients below the panels, at the right: the times, then each table's
  // coefficients and their shares from outside the table, every column as wide as its
  // longest text.
  std::vector<TableColumn> table(1);
  table.reserve(1 + 2 * curves.size());  // the references below stay
  table[0].header = "T (d)";
  for (const double t : plot.times) table[0].cells.push_back(plain_decimal(t));
  for (const Curves& c : curves) {
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
        values.cells.push_back(n == 1 && !c.f.empty() ? three_digits(c.f[0]) : "");
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
  const double table_left = kRight - table_width + 16;
  const double band_top = time_caption_y + 30;  // the first row of the legend and table
  const double table_row0 = band_top + 36;
  const double table_bottom = table_row0 + 15.0 * double(plot.times.size());

  // The legend: one sample of each kind of line and point.
  std::vector<LegendItem> legend;
  const char* const ink = curves.empty() ? "black" : table_colour(curves.front().t);
  for (const Curves& c : curves) {
    legend.push_back(
        {LegendSample::swatch, table_colour(c.t), std::string(table_label(c.t)) + " table"});
  }
  legend.push_back({LegendSample::point, ink, "tabulated rate"});
  if (zero_point) legend.push_back({LegendSample::open_point, ink, "rate at time 0 (left edge)"});
  if (n >= 2) {
    legend.push_back({LegendSample::line, ink, "interpolant; integral from 0"});
    if (first_time > 0)
      legend.push_back({LegendSample::dashed, ink, before_legend(plot.tails.before)});
    if (end > last_time)
      legend.push_back({LegendSample::dashed, ink, after_legend(plot.tails.after)});
  }
  if (first_time > 0) legend.push_back({LegendSample::shaded, ink, "0 to the first time"});
  if (n >= 2) legend.push_back({LegendSample::coefficient, ink, "coefficient: integral to T"});
  legend.push_back({LegendSample::time_mark, ink, "integration time T"});
  const LegendLayout legend_place = legend_layout(legend, table_left - 24 - kLeft);
  const double height =
      std::max(band_top + kLegendRow * double(legend_place.rows), table_bottom) + 12;
  const double width = kWidth;

  SvgWriter svg(width, height);
  std::string plain_title = plot.nuclide + " - " + plot.region;
  svg.text_element("title", {}, plain_title);
  svg.element("rect", {{"x", "0"},
                       {"y", "0"},
                       {"width", SvgWriter::number(width)},
                       {"height", SvgWriter::number(height)},
                       {"fill", "white"}});
  svg.open("g", {{"font-family", "DejaVu Sans, Verdana, sans-serif"}, {"fill", "black"}});
  svg.text_markup(kLeft, 32, title_markup(plot),
                  {{"class", "title"}, {"font-size", "17"}, {"font-weight", "bold"}});
  std::string tables = curves.size() == 2 ? "low and high tables"
                       : curves.empty()   ? "no table"
                                          : std::string(table_label(curves[0].t)) + " table";
  if (n == 1) tables += "; one time point: its values are the coefficients, not integrated";
  std::string file_name = plot.file_name;  // as kestrane-batch names files, with '/'
  std::replace(file_name.begin(), file_name.end(), '\\', '/');
  svg.text(kLeft, 54, "Region " + plot.region + "; " + tables + "; " + file_name,
           {{"class", "subtitle"}, {"font-size", "13"}});
  svg.text(kLeft, kRateTop - 8, "Absorbed dose rate (units of the file)",
           {{"class", "caption"}, {"font-size", "12"}});
  std::string integral_caption = "Integral of the rate from 0";
  if (integral.exponent != 0)
    integral_caption += ", in units of 10" + superscript(integral.exponent);
  svg.text_markup(kLeft, kIntegralTop - 8, integral_caption + " (rate &#xd7; d)",
                  {{"class", "caption"}, {"font-size", "12"}});

  // The stretch from 0 to the first tabulated time, shaded in both panels.
  if (first_time > 0) {
    for (const auto& [top, bottom] :
         {std::pair{kRateTop, kRateBottom}, std::pair{kIntegralTop, kIntegralBottom}}) {
      svg.element("rect", {{"class", "before-table"},
                           {"x", SvgWriter::number(kLeft)},
                           {"y", SvgWriter::number(top)},
                           {"width", SvgWriter::number(time.at(first_time) - kLeft)},
                           {"height", SvgWriter::number(bottom - top)},
                           {"fill", "#e8e8e8"}});
    }
  }

  // The time axis: a light line at every decade in both panels, a round label below.
  svg.open("g", {{"class", "time-axis"}, {"font-size", "11"}});
  int widest = 1;
  for (int k = time.lo; k <= time.hi; ++k) {
    widest = std::max(widest, static_cast<int>(SvgWriter::visible_length(power_of_ten_label(k))));
  }
  const double per_decade = (kRight - kLeft) / (time.hi - time.lo);
  int step = 1;
  while (per_decade * step < widest * kSmall * kCharWidth + 10) ++step;
  for (int k = time.lo; k <= time.hi; ++k) {
    const double px = time.at(std::pow(10.0, k));
    for (const auto& [top, bottom] :
         {std::pair{kRateTop, kRateBottom}, std::pair{kIntegralTop, kIntegralBottom}}) {
      draw_line(svg, px, top, px, bottom, "#d8d8d8");
      draw_line(svg, px, bottom, px, bottom + 4, "black");
    }
    if ((k - time.lo) % step == 0) {
      svg.text_markup(px, tick_labels_y, power_of_ten_label(k), {{"text-anchor", "middle"}});
    }
  }
  svg.text((kLeft + kRight) / 2, time_caption_y, "Time after intake (d, logarithmic scale)",
           {{"class", "caption"}, {"text-anchor", "middle"}, {"font-size", "12"}});
  svg.close();

  // The rate axis: 0 and the powers of ten beyond the linear part, far enough apart to read.
  svg.open("g", {{"class", "rate-axis"}, {"font-size", "11"}});
  const auto rate_tick = [&](double v, const std::string& label) {
    const double py = rate.at(v);
    draw_line(svg, kLeft - 4, py, kLeft, py, "black");
    svg.text_markup(kLeft - 7, py + 4, label, {{"text-anchor", "end"}});
  };
  rate_tick(0.0, "0");
  const int first = static_cast<int>(std::ceil(std::log10(rate.c)));
  const int decades = static_cast<int>(std::ceil(std::max(rate.hi, -rate.lo))) + 1;
  for (const double sign : {1.0, -1.0}) {
    double last_py = rate.at(0.0);
    for (int e = first; e <= first + decades; ++e) {
      const double v = sign * std::pow(10.0, e);
      const double s = rate.scaled(v);
      if (s < rate.lo || s > rate.hi || std::abs(rate.at(v) - last_py) < 16) continue;
      rate_tick(v, (sign < 0 ? "&#x2212;10" : "10") + superscript(e));
      last_py = rate.at(v);
    }
  }
  svg.close();

  // The integral axis: round ticks, the zero marked by a line across the panel.
  svg.open("g", {{"class", "integral-axis"}, {"font-size", "11"}});
  const double unit = std::pow(10.0, integral.exponent);
  for (double v = std::ceil(integral.lo / integral.step) * integral.step; v <= integral.hi;
       v += integral.step) {
    const double value = std::abs(v) < integral.step * 1e-9 ? 0.0 : v;
    char label[32];
    std::snprintf(label, sizeof label, "%.6g", value / unit);
    draw_line(svg, kLeft - 4, integral.at(value), kLeft, integral.at(value), "black");
    svg.text_markup(kLeft - 7, integral.at(value) + 4, with_minus(label), {{"text-anchor", "end"}});
  }
  svg.close();
  draw_line(svg, kLeft, integral.at(0), kRight, integral.at(0), "black", {{"class", "zero-line"}});
  draw_line(svg, kLeft, rate.at(0), kRight, rate.at(0), "#999", {{"class", "zero-line"}});

  // The integration times: a dotted line through both panels and the time below.
  svg.open("g", {{"class", "integration-times"}, {"font-size", "11"}});
  svg.text(kLeft - 8, time_row_y(0), times_caption, {{"text-anchor", "end"}});
  for (const double t : sorted_times) {
    for (const auto& [top, bottom] :
         {std::pair{kRateTop, kRateBottom}, std::pair{kIntegralTop, kIntegralBottom}}) {
      svg.element("line", {{"class", "time-mark"},
                           {"x1", SvgWriter::number(time.at(t))},
                           {"y1", SvgWriter::number(top)},
                           {"x2", SvgWriter::number(time.at(t))},
                           {"y2", SvgWriter::number(bottom)},
                           {"stroke", "#777"},
                           {"stroke-dasharray", "1 3"}});
    }
  }
  for (const TimeLabel& label : time_labels) {
    svg.text(label.x, time_row_y(label.row), label.text,
             {{"class", "time-label"}, {"text-anchor", "middle"}, {"fill", "#444"}});
  }
  svg.close();

  const auto rate_y = [&](double v) { return rate.at(v); };
  const auto integral_y = [&](double v) { return integral.at(v); };
  for (const Curves& c : curves) {
    const std::string label = table_label(c.t);
    const char* colour = table_colour(c.t);
    svg.open("g", {{"class", "table " + label}});
    if (c.row.ok) {
      // The rate before, inside and after the table, each by its own rule up to the table's
      // ends, with points added where the path would move more than a step at once.
      const std::span<const double> d(c.row.slopes);
      const auto before = [&](double t) { return before_rate(x, c.f, d, t, plot.tails.before); };
      const auto inside = [&](double t) { return interpolant_value(x, c.f, d, t); };
      const auto after = [&](double t) { return after_rate(x, c.f, d, t, plot.tails.after); };
      draw_points(svg,
                  smooth_rate_path(times_between(ts, 0.0, first_time), before, rate_y, kSmoothStep),
                  time, rate_y, "extension " + label, colour, "6 4");
      draw_points(svg,
                  smooth_rate_path(times_between(ts, std::max(first_time, 0.0), last_time), inside,
                                   rate_y, kSmoothStep),
                  time, rate_y, "interpolant " + label, colour, "none");
      draw_points(svg,
                  smooth_rate_path(times_between(ts, last_time, end), after, rate_y, kSmoothStep),
                  time, rate_y, "extension " + label, colour, "6 4");
      std::vector<RatePoint> cumulative;
      for (std::size_t i = 0; i < ts.size(); ++i)
        cumulative.push_back({ts[i], c.sample_integrals[i]});
      draw_points(svg, cumulative, time, integral_y, "cumulative " + label, colour, "none");
      for (const double t : plot.times) {
        const auto at = std::lower_bound(ts.begin(), ts.end(), t);
        if (at == ts.end() || *at != t) continue;
        const double v = c.sample_integrals[static_cast<std::size_t>(at - ts.begin())];
        svg.element("circle", {{"class", "coefficient " + label},
                               {"cx", SvgWriter::number(time.at(t))},
                               {"cy", SvgWriter::number(integral.at(v))},
                               {"r", "3"},
                               {"fill", "white"},
                               {"stroke", colour}});
      }
    }
    for (std::size_t i = 0; i < c.f.size(); ++i) {
      const bool at_zero = !(x[i] > 0);
      svg.element("circle",
                  {{"class", std::string("rate-point ") + label + (at_zero ? " at-zero" : "")},
                   {"cx", SvgWriter::number(time.at(x[i]))},
                   {"cy", SvgWriter::number(rate.at(c.f[i]))},
                   {"r", at_zero ? "3.5" : "2"},
                   {"fill", at_zero ? "white" : colour},
                   {"stroke", colour}});
    }
    svg.close();
  }
  if (n == 1) {
    svg.text((kLeft + kRight) / 2, (kIntegralTop + kIntegralBottom) / 2,
             "one time point: nothing is integrated",
             {{"text-anchor", "middle"}, {"font-size", "12"}, {"fill", "#555"}});
  }

  // The coefficients of the run's times, three significant digits, each with its share from
  // outside the table.
  svg.open("g", {{"class", "coefficient-table"}, {"font-size", "11"}});
  svg.text(table_left, band_top, "Coefficients", {{"font-size", "12"}, {"font-weight", "bold"}});
  double column_left = table_left;
  for (const TableColumn& column : table) {
    svg.text(column_left, band_top + 18, column.header,
             {{"font-weight", "bold"}, {"fill", column.colour}});
    for (std::size_t m = 0; m < column.cells.size(); ++m) {
      if (column.cells[m].empty()) continue;
      svg.text_markup(column_left, table_row0 + 15.0 * double(m), column.cells[m], {});
    }
    column_left += column.width;
  }
  svg.close();

  draw_legend(svg, legend, kLeft, band_top, legend_place);
  draw_panel_frame(svg, kRateTop, kRateBottom);
  draw_panel_frame(svg, kIntegralTop, kIntegralBottom);
  svg.close();
  return svg.finish();
}

}  // namespace kestrane
