// The picture of one record and region: axes, rates, interpolant, extensions, the integral
// from 0 and the integration times, written with the program's own SVG writer (the picture
// only; output/plot_pass writes the files).
#include "output/record_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dose/hermite.h"
#include "output/svg_writer.h"

namespace kestrane {

RowIntegrals integrate_row(std::span<const double> x, std::span<const double> f,
                           std::span<const double> limits) {
  RowIntegrals result;
  const std::size_t n = std::min(x.size(), f.size());
  x = x.first(n);
  f = f.first(n);
  std::vector<double> d(n);
  if (estimate_monotone_slopes(x, f, d).status != SlopeStatus::ok) return result;
  result.integrals.reserve(limits.size());
  for (const double limit : limits) {
    const IntegralResult integral = integrate_hermite(x, f, d, 0.0, limit);
    if (refused(integral.status)) return {};
    result.integrals.push_back(integral.value);
  }
  result.slopes = std::move(d);
  result.ok = true;
  return result;
}

double interpolant_value(std::span<const double> x, std::span<const double> f,
                         std::span<const double> d, double t) {
  const std::size_t n = std::min({x.size(), f.size(), d.size()});
  if (n == 0) return 0.0;
  if (n == 1) return f[0];
  // The piece that holds t, the end pieces reaching beyond the table.
  std::size_t i = 0;
  if (t > x[1]) {
    i = n - 2;
    if (t < x[n - 2]) {
      i = static_cast<std::size_t>(std::upper_bound(x.begin(), x.begin() + n, t) - x.begin()) - 1;
    }
  }
  const double h = x[i + 1] - x[i];
  if (h == 0.0) return f[i];
  const double s = (t - x[i]) / h;
  const double s2 = s * s;
  const double s3 = s2 * s;
  return (2 * s3 - 3 * s2 + 1) * f[i] + (s3 - 2 * s2 + s) * h * d[i] +
         (-2 * s3 + 3 * s2) * f[i + 1] + (s3 - s2) * h * d[i + 1];
}

namespace {

// The frame of the picture, in viewBox units.
constexpr double kWidth = 960;
constexpr double kHeight = 620;
constexpr double kLeft = 110;
constexpr double kRight = 830;
constexpr double kTop = 80;
constexpr double kBottom = 470;
constexpr int kSamples = 240;  // points of each curve besides the table's times

const char* table_colour(int t) { return t == 0 ? "#1f5fa8" : "#c0392b"; }
const char* table_label(int t) { return t == 0 ? "low" : "high"; }

std::string short_number(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3g", value);
  return buf;
}

// Time on a logarithmic axis from 10^lo to 10^hi; 0 and anything below sits at the left edge.
struct TimeAxis {
  int lo = -1;
  int hi = 1;
  double left_edge() const { return std::pow(10.0, lo); }
  double at(double t) const {
    if (!(t > left_edge())) return kLeft;
    return kLeft + (std::log10(t) - lo) / (hi - lo) * (kRight - kLeft);
  }
};

// A symmetric logarithmic axis for values that may be zero or negative: linear within about
// `c` of 0, logarithmic beyond.
struct SymlogAxis {
  double c = 1;
  double lo = 0;
  double hi = 1;
  double scaled(double v) const {
    const double s = std::log10(1 + std::abs(v) / c);
    return v < 0 ? -s : s;
  }
  double at(double v) const { return kBottom - (scaled(v) - lo) / (hi - lo) * (kBottom - kTop); }
};

// A linear axis on the right-hand side.
struct LinearAxis {
  double lo = 0;
  double hi = 1;
  double at(double v) const { return kBottom - (v - lo) / (hi - lo) * (kBottom - kTop); }
};

struct Curves {
  int t = 0;
  std::span<const double> f;
  RowIntegrals row;
  std::vector<double> sample_values;     // interpolant at the sample times
  std::vector<double> sample_integrals;  // integral from 0 at the sample times
};

void draw_frame(SvgWriter& svg, const RecordPlot& plot) {
  svg.element("rect", {{"x", "0"},
                       {"y", "0"},
                       {"width", SvgWriter::number(kWidth)},
                       {"height", SvgWriter::number(kHeight)},
                       {"fill", "white"}});
  svg.text(kLeft, 28, plot.header_line,
           {{"class", "title"},
            {"font-family", "monospace"},
            {"font-size", "15"},
            {"style", "white-space:pre"}});
  svg.text(kLeft, 52,
           "Region " + plot.region + "; header line " + std::to_string(plot.line_number) + " of " +
               plot.file_name + "; times in days",
           {{"class", "subtitle"}, {"font-family", "sans-serif"}, {"font-size", "13"}});
  svg.element("rect", {{"x", SvgWriter::number(kLeft)},
                       {"y", SvgWriter::number(kTop)},
                       {"width", SvgWriter::number(kRight - kLeft)},
                       {"height", SvgWriter::number(kBottom - kTop)},
                       {"fill", "none"},
                       {"stroke", "black"}});
}

void draw_time_axis(SvgWriter& svg, const TimeAxis& axis, bool zero_point) {
  svg.open("g", {{"class", "time-axis"}, {"font-family", "sans-serif"}, {"font-size", "11"}});
  const int step = std::max(1, (axis.hi - axis.lo + 11) / 12);  // at most about 12 labels
  for (int k = axis.lo; k <= axis.hi; k += step) {
    const double px = axis.at(std::pow(10.0, k));
    svg.element("line", {{"x1", SvgWriter::number(px)},
                         {"y1", SvgWriter::number(kBottom)},
                         {"x2", SvgWriter::number(px)},
                         {"y2", SvgWriter::number(kBottom + 5)},
                         {"stroke", "black"}});
    const std::string label =
        (zero_point && k == axis.lo) ? "0 | 1e" + std::to_string(k) : "1e" + std::to_string(k);
    svg.text(px, kBottom + 18, label, {{"text-anchor", "middle"}});
  }
  svg.text((kLeft + kRight) / 2, kBottom + 36, "time after intake (days, logarithmic)",
           {{"text-anchor", "middle"}, {"font-size", "12"}});
  svg.close();
}

void draw_rate_axis(SvgWriter& svg, const SymlogAxis& axis) {
  svg.open("g", {{"class", "rate-axis"}, {"font-family", "sans-serif"}, {"font-size", "11"}});
  const auto tick = [&](double v) {
    const double py = axis.at(v);
    svg.element("line", {{"x1", SvgWriter::number(kLeft - 5)},
                         {"y1", SvgWriter::number(py)},
                         {"x2", SvgWriter::number(kLeft)},
                         {"y2", SvgWriter::number(py)},
                         {"stroke", "black"}});
    svg.text(kLeft - 8, py + 4, short_number(v), {{"text-anchor", "end"}});
  };
  // 0, then the powers of ten beyond the linear part on either side, far enough apart to read.
  tick(0.0);
  const int first = static_cast<int>(std::ceil(std::log10(axis.c)));
  const int decades = static_cast<int>(std::ceil(std::max(axis.hi, -axis.lo))) + 1;
  const int step = std::max(1, (decades + 5) / 6);
  for (const double sign : {1.0, -1.0}) {
    double last_py = axis.at(0.0);
    for (int e = first; e <= first + decades; e += step) {
      const double v = sign * std::pow(10.0, e);
      const double s = axis.scaled(v);
      if (s < axis.lo || s > axis.hi || std::abs(axis.at(v) - last_py) < 14) continue;
      tick(v);
      last_py = axis.at(v);
    }
  }
  svg.text(24, (kTop + kBottom) / 2, "rate (units of the file; symmetric logarithmic)",
           {{"text-anchor", "middle"},
            {"font-size", "12"},
            {"transform", "rotate(-90 24 " + SvgWriter::number((kTop + kBottom) / 2) + ")"}});
  svg.close();
}

void draw_integral_axis(SvgWriter& svg, const LinearAxis& axis) {
  svg.open("g", {{"class", "integral-axis"}, {"font-family", "sans-serif"}, {"font-size", "11"}});
  for (int i = 0; i <= 5; ++i) {
    const double v = axis.lo + (axis.hi - axis.lo) * i / 5;
    const double py = axis.at(v);
    svg.element("line", {{"x1", SvgWriter::number(kRight)},
                         {"y1", SvgWriter::number(py)},
                         {"x2", SvgWriter::number(kRight + 5)},
                         {"y2", SvgWriter::number(py)},
                         {"stroke", "black"}});
    svg.text(kRight + 8, py + 4, short_number(v), {});
  }
  const double cx = kWidth - 20;
  svg.text(cx, (kTop + kBottom) / 2, "integral from 0 (rate units x days)",
           {{"text-anchor", "middle"},
            {"font-size", "12"},
            {"transform", "rotate(90 " + SvgWriter::number(cx) + " " +
                              SvgWriter::number((kTop + kBottom) / 2) + ")"}});
  svg.close();
}

// One path of a curve between two times, from the sample times and values.
void draw_path(SvgWriter& svg, const std::vector<double>& ts, const std::vector<double>& vs,
               double from, double to, const TimeAxis& time, auto&& y, const std::string& cls,
               const char* colour, const char* dash, const char* width) {
  std::vector<SvgPoint> points;
  for (std::size_t i = 0; i < ts.size(); ++i) {
    if (ts[i] >= from && ts[i] <= to) points.push_back({time.at(ts[i]), y(vs[i])});
  }
  if (points.size() < 2) return;
  svg.element("path", {{"class", cls},
                       {"d", SvgWriter::path_data(points)},
                       {"fill", "none"},
                       {"stroke", colour},
                       {"stroke-width", width},
                       {"stroke-dasharray", dash}});
}

}  // namespace

std::string record_plot_svg(const RecordPlot& plot) {
  const std::size_t n = plot.x.size();
  const std::span<const double> x(plot.x);
  const double last_time = n > 0 ? x[n - 1] : 0.0;
  double end = last_time;
  for (const double t : plot.times) end = std::max(end, t);

  // Time axis: whole decades around every positive time shown.
  double smallest = 0;
  bool zero_point = false;
  for (const auto* list : {&plot.x, &plot.times}) {
    for (const double t : *list) {
      if (t > 0 && (smallest == 0 || t < smallest)) smallest = t;
      if (t == 0 && list == &plot.x) zero_point = true;
    }
  }
  TimeAxis time;
  if (smallest > 0) {
    time.lo = static_cast<int>(std::floor(std::log10(smallest))) - (zero_point ? 1 : 0);
    time.hi = static_cast<int>(std::ceil(std::log10(std::max(end, smallest))));
    if (time.hi <= time.lo) time.hi = time.lo + 1;
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
    if (n >= 2) c.row = integrate_row(x, c.f, ts);
    if (c.row.ok) {
      for (const double s : ts)
        c.sample_values.push_back(interpolant_value(x, c.f, c.row.slopes, s));
      c.sample_integrals = c.row.integrals;
    }
  }

  // Rate axis: linear within the smallest non-zero tabulated rate of 0, logarithmic beyond.
  SymlogAxis rate;
  double c_rate = 0;
  for (const Curves& c : curves) {
    for (const double v : c.f) {
      if (v != 0 && std::isfinite(v) && (c_rate == 0 || std::abs(v) < c_rate)) c_rate = std::abs(v);
    }
  }
  rate.c = c_rate > 0 ? c_rate : 1.0;
  double s_lo = 0;
  double s_hi = 0;
  const auto widen = [&](double v) {
    if (!std::isfinite(v)) return;
    s_lo = std::min(s_lo, rate.scaled(v));
    s_hi = std::max(s_hi, rate.scaled(v));
  };
  LinearAxis integral{0, 0};
  for (const Curves& c : curves) {
    for (const double v : c.f) widen(v);
    for (const double v : c.sample_values) widen(v);
    for (const double v : c.sample_integrals) {
      if (!std::isfinite(v)) continue;
      integral.lo = std::min(integral.lo, v);
      integral.hi = std::max(integral.hi, v);
    }
  }
  if (s_hi <= s_lo) s_hi = s_lo + 1;
  const double pad = (s_hi - s_lo) * 0.04;
  rate.lo = s_lo - (s_lo < 0 ? pad : 0);
  rate.hi = s_hi + pad;
  if (integral.hi <= integral.lo) integral.hi = integral.lo + 1;
  const double ipad = (integral.hi - integral.lo) * 0.04;
  integral.hi += ipad;
  if (integral.lo < 0) integral.lo -= ipad;

  SvgWriter svg(kWidth, kHeight);
  svg.text_element("title", {}, plot.header_line + " - " + plot.region);
  draw_frame(svg, plot);
  const double first_time = n > 0 ? x[0] : 0.0;
  if (first_time > 0) {
    const double px = time.at(first_time);
    svg.element("rect", {{"class", "before-table"},
                         {"x", SvgWriter::number(kLeft)},
                         {"y", SvgWriter::number(kTop)},
                         {"width", SvgWriter::number(px - kLeft)},
                         {"height", SvgWriter::number(kBottom - kTop)},
                         {"fill", "#ececec"}});
    svg.text(kLeft + 4, kTop + 14, "0 to first time " + short_number(first_time) + " d: extended",
             {{"class", "before-table-label"}, {"font-family", "sans-serif"}, {"font-size", "11"}});
  }
  draw_time_axis(svg, time, zero_point);
  draw_rate_axis(svg, rate);
  draw_integral_axis(svg, integral);

  // The integration times of the run.
  svg.open("g",
           {{"class", "integration-times"}, {"font-family", "sans-serif"}, {"font-size", "10"}});
  for (const double t : plot.times) {
    const std::string px = SvgWriter::number(time.at(t));
    svg.element("line", {{"class", "time-mark"},
                         {"x1", px},
                         {"y1", SvgWriter::number(kTop)},
                         {"x2", px},
                         {"y2", SvgWriter::number(kBottom)},
                         {"stroke", "#888"},
                         {"stroke-dasharray", "1 3"}});
    svg.text(time.at(t) + 2, kBottom - 4, "T=" + short_number(t), {{"fill", "#555"}});
  }
  svg.close();

  const auto rate_y = [&](double v) { return rate.at(v); };
  const auto integral_y = [&](double v) { return integral.at(v); };
  for (const Curves& c : curves) {
    const std::string label = table_label(c.t);
    const char* colour = table_colour(c.t);
    svg.open("g", {{"class", "table " + label}});
    if (c.row.ok) {
      const double inside_from = std::max(first_time, 0.0);
      draw_path(svg, ts, c.sample_values, 0.0, first_time, time, rate_y, "extension " + label,
                colour, "6 4", "1.5");
      draw_path(svg, ts, c.sample_values, inside_from, last_time, time, rate_y,
                "interpolant " + label, colour, "none", "1.5");
      draw_path(svg, ts, c.sample_values, last_time, end, time, rate_y, "extension " + label,
                colour, "6 4", "1.5");
      draw_path(svg, ts, c.sample_integrals, 0.0, end, time, integral_y, "cumulative " + label,
                colour, "2 2", "2.5");
      // The coefficient of each integration time on the integral curve, labelled.
      for (const double t : plot.times) {
        const auto at = std::lower_bound(ts.begin(), ts.end(), t);
        if (at == ts.end() || *at != t) continue;
        const double v = c.sample_integrals[static_cast<std::size_t>(at - ts.begin())];
        svg.element("circle", {{"class", "coefficient " + label},
                               {"cx", SvgWriter::number(time.at(t))},
                               {"cy", SvgWriter::number(integral.at(v))},
                               {"r", "3.5"},
                               {"fill", "white"},
                               {"stroke", colour}});
        svg.text(time.at(t) + 5, integral.at(v) + (c.t == 0 ? -5 : 13), short_number(v),
                 {{"class", "coefficient-label"},
                  {"fill", colour},
                  {"font-family", "sans-serif"},
                  {"font-size", "10"}});
      }
    }
    for (std::size_t i = 0; i < c.f.size(); ++i) {
      const bool at_zero = !(x[i] > 0);
      svg.element("circle",
                  {{"class", std::string("rate-point ") + label + (at_zero ? " at-zero" : "")},
                   {"cx", SvgWriter::number(time.at(x[i]))},
                   {"cy", SvgWriter::number(rate.at(c.f[i]))},
                   {"r", at_zero ? "5" : "3"},
                   {"fill", at_zero ? "white" : colour},
                   {"stroke", colour}});
    }
    svg.close();
  }

  // Legend.
  svg.open("g", {{"class", "legend"}, {"font-family", "sans-serif"}, {"font-size", "12"}});
  double ly = kBottom + 62;
  for (const Curves& c : curves) {
    const std::string label = table_label(c.t);
    svg.element("circle", {{"cx", SvgWriter::number(kLeft + 6)},
                           {"cy", SvgWriter::number(ly - 4)},
                           {"r", "3"},
                           {"fill", table_colour(c.t)}});
    svg.text(kLeft + 16, ly,
             label +
                 " table: rates (points), interpolant (line), extended beyond the table "
                 "(dashed), integral from 0 (dotted, right axis)",
             {{"fill", table_colour(c.t)}});
    ly += 18;
  }
  if (zero_point) {
    svg.text(kLeft + 16, ly, "open circle at the left edge: a rate tabulated at time 0", {});
    ly += 18;
  }
  if (n == 1) {
    svg.text(kLeft + 16, ly,
             "one time point: its values are the coefficients, nothing is integrated", {});
  }
  svg.close();
  return svg.finish();
}

}  // namespace kestrane
