// The small SVG writer: tags, escaped attribute values and texts, compact numbers.
#include "output/svg_writer.h"

#include <cmath>
#include <cstdio>

namespace kestrane {

SvgWriter::SvgWriter(double width, double height) {
  out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  start_tag("svg", {{"xmlns", "http://www.w3.org/2000/svg"},
                    {"viewBox", "0 0 " + number(width) + " " + number(height)},
                    {"width", number(width)},
                    {"height", number(height)}});
  out_ += ">\n";
  open_.emplace_back("svg");
}

void SvgWriter::start_tag(std::string_view tag, SvgAttributes attributes) {
  out_ += '<';
  out_ += tag;
  append_attributes(attributes);
}

void SvgWriter::append_attributes(SvgAttributes attributes) {
  for (const SvgAttribute& attribute : attributes) {
    out_ += ' ';
    out_ += attribute.name;
    out_ += "=\"";
    out_ += escape(attribute.value);
    out_ += '"';
  }
}

void SvgWriter::element(std::string_view tag, SvgAttributes attributes) {
  start_tag(tag, attributes);
  out_ += "/>\n";
}

void SvgWriter::text_element(std::string_view tag, SvgAttributes attributes,
                             std::string_view text) {
  start_tag(tag, attributes);
  out_ += '>';
  out_ += escape(text);
  out_ += "</";
  out_ += tag;
  out_ += ">\n";
}

void SvgWriter::text(double x, double y, std::string_view content, SvgAttributes attributes) {
  out_ += "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\"";
  append_attributes(attributes);
  out_ += '>';
  out_ += escape(content);
  out_ += "</text>\n";
}

void SvgWriter::text_markup(double x, double y, std::string_view markup, SvgAttributes attributes) {
  out_ += "<text x=\"" + number(x) + "\" y=\"" + number(y) + "\"";
  append_attributes(attributes);
  out_ += '>';
  out_ += markup;
  out_ += "</text>\n";
}

std::size_t SvgWriter::visible_length(std::string_view markup) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < markup.size(); ++i, ++count) {
    if (markup[i] == '&') {
      const std::size_t end = markup.find(';', i);
      if (end != std::string_view::npos) i = end;
    }
  }
  return count;
}

void SvgWriter::open(std::string_view tag, SvgAttributes attributes) {
  start_tag(tag, attributes);
  out_ += ">\n";
  open_.emplace_back(tag);
}

void SvgWriter::close() {
  if (open_.size() <= 1) return;  // the picture itself is closed by finish()
  out_ += "</" + open_.back() + ">\n";
  open_.pop_back();
}

std::string SvgWriter::finish() {
  while (!open_.empty()) {
    out_ += "</" + open_.back() + ">\n";
    open_.pop_back();
  }
  return std::move(out_);
}

std::string SvgWriter::escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += (byte < 0x20 || byte >= 0x7f) ? '?' : c;
    }
  }
  return out;
}

std::string SvgWriter::number(double value) {
  if (!std::isfinite(value)) return "0";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.2f", value);
  std::string text = buf;
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  if (text == "-0") text = "0";
  return text;
}

std::string SvgWriter::path_data(std::span<const SvgPoint> points) {
  std::string d;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i > 0) d += ' ';
    d += i == 0 ? "M" : "L";
    d += number(points[i].x);
    d += ' ';
    d += number(points[i].y);
  }
  return d;
}

}  // namespace kestrane
