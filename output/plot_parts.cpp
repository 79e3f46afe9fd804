// The parts of a record picture: axes, number texts, and the legend.
#include "output/plot_parts.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace kestrane {

// Superscript digits and minus sign as character references.
std::string superscript(int value) {
  static constexpr const char* kDigits[] = {"&#x2070;", "&#xb9;",   "&#xb2;",   "&#xb3;",
                                            "&#x2074;", "&#x2075;", "&#x2076;", "&#x2077;",
                                            "&#x2078;", "&#x2079;"};
  std::string text = value < 0 ? "&#x207b;" : "";
  for (const char c : std::to_string(value < 0 ? -value : value)) text += kDigits[c - '0'];
  return text;
}

// A text of the program's own, with the minus sign of typesetting.
std::string with_minus(std::string text) {
  if (!text.empty() && text.front() == '-') text.replace(0, 1, "&#x2212;");
  return text;
}

double text_width(std::string_view markup, double font_size) {
  return static_cast<double>(SvgWriter::visible_length(markup)) * font_size * kCharWidth;
}

LinearAxis linear_axis(double lo, double hi, double top, double bottom) {
  LinearAxis axis;
  axis.top = top;
  axis.bottom = bottom;
  if (!(hi > lo)) hi = lo + 1;
  const double rough = (hi - lo) / 4;
  const double power = std::pow(10.0, std::floor(std::log10(rough)));
  const double factor = rough / power;
  axis.step = power * (factor <= 1 ? 1 : factor <= 2 ? 2 : factor <= 5 ? 5 : 10);
  axis.lo = std::floor(lo / axis.step) * axis.step;
  axis.hi = std::ceil(hi / axis.step) * axis.step;
  if (axis.hi <= hi) axis.hi += axis.step * 0.25;  // room above the highest point
  if (axis.lo < 0 && axis.lo >= lo) axis.lo -= axis.step * 0.25;
  const double largest = std::max(std::abs(axis.lo), std::abs(axis.hi));
  axis.exponent = static_cast<int>(std::floor(std::log10(largest)));
  return axis;
}

void draw_line(SvgWriter& svg, double x1, double y1, double x2, double y2, const char* stroke,
               SvgAttributes more) {
  svg.open("g", more);
  svg.element("line", {{"x1", SvgWriter::number(x1)},
                       {"y1", SvgWriter::number(y1)},
                       {"x2", SvgWriter::number(x2)},
                       {"y2", SvgWriter::number(y2)},
                       {"stroke", stroke}});
  svg.close();
}

std::string power_of_ten_label(int exponent) {
  if (exponent >= 0 && exponent <= 3)
    return std::string("1") + std::string(static_cast<std::size_t>(exponent), '0');
  if (exponent < 0 && exponent >= -3)
    return "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + "1";
  return "10" + superscript(exponent);
}

std::string plain_decimal(double value) {
  char buf[400];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  return std::string(buf, result.ptr);
}

std::string three_digits(double value) {
  if (value == 0 || !std::isfinite(value)) return "0";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2e", value);  // d.dde±x, rounded to three digits
  const std::string text = buf;
  const std::size_t e = text.find('e');
  const int exponent = std::stoi(text.substr(e + 1));
  if (exponent >= -3 && exponent <= 4) {
    std::snprintf(buf, sizeof buf, "%.*f", std::max(0, 2 - exponent), std::stod(text));
    return with_minus(buf);
  }
  return with_minus(text.substr(0, e)) + "&#xd7;10" + superscript(exponent);
}

namespace {

constexpr double kLegendText = 38;  // from a sample's left to its text
constexpr double kLegendGap = 20;   // between a column's widest text and the next column

}  // namespace

LegendLayout legend_layout(const std::vector<LegendItem>& items, double width) {
  LegendLayout layout;
  for (const LegendItem& item : items) {
    layout.column_width =
        std::max(layout.column_width, kLegendText + text_width(item.text, 11) + kLegendGap);
  }
  const auto count = static_cast<int>(items.size());
  if (layout.column_width > 0) {
    layout.columns =
        std::clamp(static_cast<int>(width / layout.column_width), 1, std::max(count, 1));
  }
  layout.rows = (count + layout.columns - 1) / layout.columns;
  return layout;
}

void draw_legend(SvgWriter& svg, const std::vector<LegendItem>& items, double left, double top,
                 const LegendLayout& layout) {
  svg.open("g", {{"class", "legend"}, {"font-size", "11"}});
  for (std::size_t k = 0; k < items.size(); ++k) {
    const LegendItem& item = items[k];
    const auto row = static_cast<int>(k) % std::max(layout.rows, 1);
    const auto column = static_cast<int>(k) / std::max(layout.rows, 1);
    const double sx = left + layout.column_width * column;
    const double ly = top + kLegendRow * row;
    const double cy = ly - 4;
    const char* colour = item.colour;
    switch (item.sample) {
      case LegendSample::swatch:
        svg.element("rect", {{"x", SvgWriter::number(sx)},
                             {"y", SvgWriter::number(cy - 4)},
                             {"width", "28"},
                             {"height", "8"},
                             {"fill", colour}});
        break;
      case LegendSample::point:
        svg.element("circle", {{"cx", SvgWriter::number(sx + 14)},
                               {"cy", SvgWriter::number(cy)},
                               {"r", "2"},
                               {"fill", colour},
                               {"stroke", colour}});
        break;
      case LegendSample::open_point:
        svg.element("circle", {{"cx", SvgWriter::number(sx + 14)},
                               {"cy", SvgWriter::number(cy)},
                               {"r", "3.5"},
                               {"fill", "white"},
                               {"stroke", colour}});
        break;
      case LegendSample::line:
      case LegendSample::dashed:
        svg.element("line",
                    {{"x1", SvgWriter::number(sx)},
                     {"y1", SvgWriter::number(cy)},
                     {"x2", SvgWriter::number(sx + 28)},
                     {"y2", SvgWriter::number(cy)},
                     {"stroke", colour},
                     {"stroke-width", "1.5"},
                     {"stroke-dasharray", item.sample == LegendSample::dashed ? "6 4" : "none"}});
        break;
      case LegendSample::shaded:
        svg.element("rect", {{"x", SvgWriter::number(sx)},
                             {"y", SvgWriter::number(cy - 6)},
                             {"width", "28"},
                             {"height", "12"},
                             {"fill", "#e8e8e8"}});
        break;
      case LegendSample::coefficient:
        svg.element("circle", {{"cx", SvgWriter::number(sx + 14)},
                               {"cy", SvgWriter::number(cy)},
                               {"r", "3"},
                               {"fill", "white"},
                               {"stroke", colour}});
        break;
      case LegendSample::time_mark:
        svg.element("line", {{"x1", SvgWriter::number(sx + 14)},
                             {"y1", SvgWriter::number(cy - 7)},
                             {"x2", SvgWriter::number(sx + 14)},
                             {"y2", SvgWriter::number(cy + 7)},
                             {"stroke", "#777"},
                             {"stroke-dasharray", "1 3"}});
        break;
    }
    svg.text(sx + kLegendText, ly, item.text, {});
  }
  svg.close();
}

}  // namespace kestrane
