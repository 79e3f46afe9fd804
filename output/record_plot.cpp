// The picture of one record and region: axes, rates, interpolant, the rate beyond the table
// by the run's models, the integral from 0 and the integration times, the legend and the
// coefficients with their shares from outside the table, written with the program's own SVG
// writer (the picture only; output/plot_pass writes the files).
#include "output/record_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "output/plot_parts.h"
#include "output/record_layout.h"
#include "output/svg_writer.h"

namespace kestrane {

using namespace record_page;

namespace {

constexpr double kSmoothStep = 1.5;  // the most a rate path moves between two of its points

// The two panels, top and bottom, for what is drawn in both.
constexpr std::pair<double, double> kPanels[] = {{kRateTop, kRateBottom},
                                                 {kIntegralTop, kIntegralBottom}};

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

// The title, the subtitle naming the region, the tables and the file, and the panels'
// captions.
void draw_titles(SvgWriter& svg, const RecordPlot& plot, const RecordLayout& layout) {
  svg.text_markup(kLeft, 32, title_markup(plot),
                  {{"class", "title"}, {"font-size", "17"}, {"font-weight", "bold"}});
  const std::vector<Curves>& curves = layout.curves;
  std::string tables = curves.size() == 2 ? "low and high tables"
                       : curves.empty()   ? "no table"
                                          : std::string(table_label(curves[0].t)) + " table";
  if (layout.n == 1) tables += "; one time point: its values are the coefficients, not integrated";
  std::string file_name = plot.file_name;  // as kestrane-batch names files, with '/'
  std::replace(file_name.begin(), file_name.end(), '\\', '/');
  svg.text(kLeft, 54, "Region " + plot.region + "; " + tables + "; " + file_name,
           {{"class", "subtitle"}, {"font-size", "13"}});
  const std::string rate_unit = plot.units ? plot.units->rate : "units of the file";
  svg.text(kLeft, kRateTop - 8, "Absorbed dose rate (" + rate_unit + ")",
           {{"class", "caption"}, {"font-size", "12"}});
  std::string integral_caption = "Integral of the rate from 0";
  if (layout.integral.exponent != 0)
    integral_caption += ", in units of 10" + superscript(layout.integral.exponent);
  const std::string integral_unit =
      plot.units ? SvgWriter::escape(plot.units->coefficient) : "rate &#xd7; d";
  svg.text_markup(kLeft, kIntegralTop - 8, integral_caption + " (" + integral_unit + ")",
                  {{"class", "caption"}, {"font-size", "12"}});
}

// The stretch from 0 to the first tabulated time, shaded in both panels.
void draw_before_table(SvgWriter& svg, const RecordLayout& layout) {
  if (!(layout.first_time > 0)) return;
  for (const auto& [top, bottom] : kPanels) {
    svg.element("rect", {{"class", "before-table"},
                         {"x", SvgWriter::number(kLeft)},
                         {"y", SvgWriter::number(top)},
                         {"width", SvgWriter::number(layout.time.at(layout.first_time) - kLeft)},
                         {"height", SvgWriter::number(bottom - top)},
                         {"fill", "#e8e8e8"}});
  }
}

// The time axis: a light line at every decade in both panels, a round label below.
void draw_time_axis(SvgWriter& svg, const RecordLayout& layout) {
  const TimeAxis& time = layout.time;
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
    for (const auto& [top, bottom] : kPanels) {
      draw_line(svg, px, top, px, bottom, "#d8d8d8");
      draw_line(svg, px, bottom, px, bottom + 4, "black");
    }
    if ((k - time.lo) % step == 0) {
      svg.text_markup(px, layout.tick_labels_y, power_of_ten_label(k), {{"text-anchor", "middle"}});
    }
  }
  svg.text((kLeft + kRight) / 2, layout.time_caption_y, "Time after intake (d, logarithmic scale)",
           {{"class", "caption"}, {"text-anchor", "middle"}, {"font-size", "12"}});
  svg.close();
}

// The rate axis: 0 and the powers of ten beyond the linear part, far enough apart to read.
void draw_rate_axis(SvgWriter& svg, const SymlogAxis& rate) {
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
}

// The integral axis: round ticks, then the zero of both panels marked by a line across it.
void draw_integral_axis(SvgWriter& svg, const LinearAxis& integral, const SymlogAxis& rate) {
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
}

// The integration times: a dotted line through both panels and the time below.
void draw_integration_times(SvgWriter& svg, const RecordLayout& layout) {
  svg.open("g", {{"class", "integration-times"}, {"font-size", "11"}});
  svg.text(kLeft - 8, RecordLayout::time_row_y(0), layout.times_caption, {{"text-anchor", "end"}});
  for (const double t : layout.sorted_times) {
    for (const auto& [top, bottom] : kPanels) {
      svg.element("line", {{"class", "time-mark"},
                           {"x1", SvgWriter::number(layout.time.at(t))},
                           {"y1", SvgWriter::number(top)},
                           {"x2", SvgWriter::number(layout.time.at(t))},
                           {"y2", SvgWriter::number(bottom)},
                           {"stroke", "#777"},
                           {"stroke-dasharray", "1 3"}});
    }
  }
  for (const TimeLabel& label : layout.time_labels) {
    svg.text(label.x, RecordLayout::time_row_y(label.row), label.text,
             {{"class", "time-label"}, {"text-anchor", "middle"}, {"fill", "#444"}});
  }
  svg.close();
}

// The rate before, inside and after the table, each by its own rule up to the table's ends,
// with points added where the path would move more than a step at once.
void draw_interpolant(SvgWriter& svg, const RecordPlot& plot, const RecordLayout& layout,
                      const Curves& c) {
  const std::string label = table_label(c.t);
  const char* colour = table_colour(c.t);
  const std::span<const double> x(plot.x);
  const std::span<const double> d(c.row.slopes);
  const std::vector<double>& ts = layout.ts;
  const auto rate_y = [&](double v) { return layout.rate.at(v); };
  const auto before = [&](double t) { return before_rate(x, c.f, d, t, plot.tails.before); };
  const auto inside = [&](double t) { return interpolant_value(x, c.f, d, t); };
  const auto after = [&](double t) { return after_rate(x, c.f, d, t, plot.tails.after); };
  draw_points(
      svg, smooth_rate_path(times_between(ts, 0.0, layout.first_time), before, rate_y, kSmoothStep),
      layout.time, rate_y, "extension " + label, colour, "6 4");
  draw_points(
      svg,
      smooth_rate_path(times_between(ts, std::max(layout.first_time, 0.0), layout.last_time),
                       inside, rate_y, kSmoothStep),
      layout.time, rate_y, "interpolant " + label, colour, "none");
  draw_points(
      svg,
      smooth_rate_path(times_between(ts, layout.last_time, layout.end), after, rate_y, kSmoothStep),
      layout.time, rate_y, "extension " + label, colour, "6 4");
}

// The integral from 0 through the sample times, and a point at each integration time.
void draw_integral_curve(SvgWriter& svg, const RecordPlot& plot, const RecordLayout& layout,
                         const Curves& c) {
  const std::string label = table_label(c.t);
  const char* colour = table_colour(c.t);
  const std::vector<double>& ts = layout.ts;
  const auto integral_y = [&](double v) { return layout.integral.at(v); };
  std::vector<RatePoint> cumulative;
  for (std::size_t i = 0; i < ts.size(); ++i) cumulative.push_back({ts[i], c.sample_integrals[i]});
  draw_points(svg, cumulative, layout.time, integral_y, "cumulative " + label, colour, "none");
  for (const double t : plot.times) {
    const auto at = std::lower_bound(ts.begin(), ts.end(), t);
    if (at == ts.end() || *at != t) continue;
    const double v = c.sample_integrals[static_cast<std::size_t>(at - ts.begin())];
    svg.element("circle", {{"class", "coefficient " + label},
                           {"cx", SvgWriter::number(layout.time.at(t))},
                           {"cy", SvgWriter::number(layout.integral.at(v))},
                           {"r", "3"},
                           {"fill", "white"},
                           {"stroke", colour}});
  }
}

// The tabulated rates, the one at time 0 open at the left edge.
void draw_rate_points(SvgWriter& svg, const RecordPlot& plot, const RecordLayout& layout,
                      const Curves& c) {
  const std::string label = table_label(c.t);
  const char* colour = table_colour(c.t);
  for (std::size_t i = 0; i < c.f.size(); ++i) {
    const bool at_zero = !(plot.x[i] > 0);
    svg.element("circle",
                {{"class", std::string("rate-point ") + label + (at_zero ? " at-zero" : "")},
                 {"cx", SvgWriter::number(layout.time.at(plot.x[i]))},
                 {"cy", SvgWriter::number(layout.rate.at(c.f[i]))},
                 {"r", at_zero ? "3.5" : "2"},
                 {"fill", at_zero ? "white" : colour},
                 {"stroke", colour}});
  }
}

// The coefficients of the run's times, three significant digits, each with its share from
// outside the table.
void draw_coefficient_table(SvgWriter& svg, const RecordLayout& layout) {
  svg.open("g", {{"class", "coefficient-table"}, {"font-size", "11"}});
  svg.text(layout.table_left, layout.band_top, "Coefficients",
           {{"font-size", "12"}, {"font-weight", "bold"}});
  double column_left = layout.table_left;
  for (const TableColumn& column : layout.table) {
    svg.text(column_left, layout.band_top + 18, column.header,
             {{"font-weight", "bold"}, {"fill", column.colour}});
    for (std::size_t m = 0; m < column.cells.size(); ++m) {
      if (column.cells[m].empty()) continue;
      svg.text_markup(column_left, layout.table_row0 + 15.0 * double(m), column.cells[m], {});
    }
    column_left += column.width;
  }
  svg.close();
}

}  // namespace

std::string record_plot_svg(const RecordPlot& plot) {
  const RecordLayout layout = record_layout(plot);
  SvgWriter svg(kWidth, layout.height);
  svg.text_element("title", {}, plot.nuclide + " - " + plot.region);
  svg.element("rect", {{"x", "0"},
                       {"y", "0"},
                       {"width", SvgWriter::number(kWidth)},
                       {"height", SvgWriter::number(layout.height)},
                       {"fill", "white"}});
  svg.open("g", {{"font-family", "DejaVu Sans, Verdana, sans-serif"}, {"fill", "black"}});
  draw_titles(svg, plot, layout);
  draw_before_table(svg, layout);
  draw_time_axis(svg, layout);
  draw_rate_axis(svg, layout.rate);
  draw_integral_axis(svg, layout.integral, layout.rate);
  draw_integration_times(svg, layout);
  for (const Curves& c : layout.curves) {
    svg.open("g", {{"class", "table " + std::string(table_label(c.t))}});
    if (c.row.ok) {
      draw_interpolant(svg, plot, layout, c);
      draw_integral_curve(svg, plot, layout, c);
    }
    draw_rate_points(svg, plot, layout, c);
    svg.close();
  }
  if (layout.n == 1) {
    svg.text((kLeft + kRight) / 2, (kIntegralTop + kIntegralBottom) / 2,
             "one time point: nothing is integrated",
             {{"text-anchor", "middle"}, {"font-size", "12"}, {"fill", "#555"}});
  }
  draw_coefficient_table(svg, layout);
  draw_legend(svg, layout.legend, kLeft, layout.band_top, layout.legend_place);
  draw_panel_frame(svg, kRateTop, kRateBottom);
  draw_panel_frame(svg, kIntegralTop, kIntegralBottom);
  svg.close();
  return svg.finish();
}

}  // namespace kestrane
