// The parts of a record picture: its axes, the texts of its numbers (never in e-notation),
// the rows that keep texts apart and the legend with a sample of each line and point.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "output/svg_writer.h"

namespace kestrane {

// The widest a character of the sans-serif font is taken to be, in units of its size, when
// texts are kept clear of each other.
inline constexpr double kCharWidth = 0.62;

// A number as the picture writes it, as markup: a power of ten on the time axis ("0.01",
// "1000", "10&#x2074;" for 10^4), a time in full plain decimal ("1825", "0.5"), a coefficient
// to three significant digits ("-8.42&#xd7;10&#x207b;&#xb9;&#xb2;" where it is very small or
// large, with the minus sign of typesetting).
std::string power_of_ten_label(int exponent);
std::string plain_decimal(double value);
std::string three_digits(double value);
// Superscript digits (and minus) of `value` as character references.
std::string superscript(int value);
// `text` with a leading '-' as the minus sign of typesetting.
std::string with_minus(std::string text);
// The width a text of markup takes at `font_size`, at most.
double text_width(std::string_view markup, double font_size);

// Time on a logarithmic axis from 10^lo to 10^hi; 0 and anything below sits at the left edge.
struct TimeAxis {
  int lo = -1;
  int hi = 1;
  double left = 0;  // where 10^lo and 10^hi stand
  double right = 1;
  double left_edge() const { return std::pow(10.0, lo); }
  double at(double t) const {
    if (!(t > left_edge())) return left;
    return left + (std::log10(t) - lo) / (hi - lo) * (right - left);
  }
};

// A symmetric logarithmic axis for rates that may be zero or negative: linear within about
// `c` of 0, logarithmic beyond.
struct SymlogAxis {
  double c = 1;
  double lo = 0;
  double hi = 1;
  double top = 0;  // where hi and lo stand
  double bottom = 1;
  double scaled(double v) const {
    const double s = std::log10(1 + std::abs(v) / c);
    return v < 0 ? -s : s;
  }
  double at(double v) const { return bottom - (scaled(v) - lo) / (hi - lo) * (bottom - top); }
};

struct LinearAxis {
  double lo = 0;
  double hi = 1;
  double step = 1;
  int exponent = 0;
  double top = 0;  // where hi and lo stand
  double bottom = 1;
  double at(double v) const { return bottom - (v - lo) / (hi - lo) * (bottom - top); }
};

// The linear axis from `lo` to `hi` (0 always within it) with round ticks (1, 2 or 5 times a
// power of ten) and the power of ten its labels are given in.
LinearAxis linear_axis(double lo, double hi, double top, double bottom);

// The boxes the texts of a row take, so that a new text can be placed clear of them.
struct RowBoxes {
  std::vector<std::pair<double, double>> spans;
  bool is_free(double from, double to) const {
    return std::none_of(spans.begin(), spans.end(),
                        [&](const auto& s) { return from < s.second + 4 && s.first - 4 < to; });
  }
};

// A line from (x1, y1) to (x2, y2), in a group with `more` attributes.
void draw_line(SvgWriter& svg, double x1, double y1, double x2, double y2, const char* stroke,
               SvgAttributes more = {});

// What a legend row shows before its text.
enum class LegendSample { swatch, point, open_point, line, dashed, shaded, coefficient, time_mark };
struct LegendItem {
  LegendSample sample;
  const char* colour;
  std::string text;
};
inline constexpr double kLegendRow = 17;  // between the rows of the legend
// How a legend stands in a given width: as many columns as fit (at least one), each as wide as
// its widest item with a gap after it, filled column by column.
struct LegendLayout {
  int columns = 1;
  int rows = 0;
  double column_width = 0;
};
LegendLayout legend_layout(const std::vector<LegendItem>& items, double width);
// The legend in that layout, one row per item from the baseline `top` down, the samples of the
// first column at `left`.
void draw_legend(SvgWriter& svg, const std::vector<LegendItem>& items, double left, double top,
                 const LegendLayout& layout);

}  // namespace kestrane
