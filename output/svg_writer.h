// A small writer of SVG pictures: well-formed XML with a viewBox, every text and attribute
// value escaped, coordinates in a compact fixed form. Enough for lines, points, axes and text.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrane {

// One attribute of an element; the value is escaped when written.
struct SvgAttribute {
  std::string_view name;
  std::string value;
};
using SvgAttributes = std::initializer_list<SvgAttribute>;

// A point of the picture, in the units of the viewBox.
struct SvgPoint {
  double x = 0;
  double y = 0;
};

class SvgWriter {
 public:
  // A picture of `width` x `height` units, scaled to fit by its viewBox "0 0 width height".
  SvgWriter(double width, double height);

  // An element without content: <tag a="..." .../>.
  void element(std::string_view tag, SvgAttributes attributes);
  // An element holding text: <tag ...>text</tag>.
  void text_element(std::string_view tag, SvgAttributes attributes, std::string_view text);
  // <text x= y=>text</text>, with further attributes.
  void text(double x, double y, std::string_view content, SvgAttributes attributes = {});
  // The same with content that is markup already: escaped text and character references
  // ("10&#x2074;"), written as it is.
  void text_markup(double x, double y, std::string_view markup, SvgAttributes attributes = {});
  // Opens an element (a group) that holds what follows, up to the matching close().
  void open(std::string_view tag, SvgAttributes attributes);
  void close();

  // The whole document: closes what is still open and ends the picture.
  std::string finish();

  // Text made safe for XML content and attribute values: & < > " ' as entities, and every
  // control byte or byte outside printable ASCII as '?', so no input line can make the
  // document ill-formed.
  static std::string escape(std::string_view text);
  // How many characters markup shows: a character reference or entity counts as one.
  static std::size_t visible_length(std::string_view markup);
  // A coordinate or length: at most two decimals, no trailing zeros ("12.5", "-3", "0").
  static std::string number(double value);
  // The path data "M x y L x y ..." through the points; empty for no points.
  static std::string path_data(std::span<const SvgPoint> points);

 private:
  void start_tag(std::string_view tag, SvgAttributes attributes);
  // Each attribute as ` name="value"`, the value escaped.
  void append_attributes(SvgAttributes attributes);
  std::string out_;
  std::vector<std::string> open_;
};

}  // namespace kestrane
