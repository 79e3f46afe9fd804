// The picture-mask number formatter ("##.#^^^^", "##.##^^^^"). The coefficient files write their
// two fields through output/format_using_float.h, which gives the same text for float values.
#pragma once

#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kestrane {

// A mask that the formatter does not understand; it is refused, never rendered wrongly.
class MaskError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// Renders `values` into the exponential fields of `mask` in order, copying the literal text
// around the fields. Each value is rendered from its exact binary value, ties to even.
// A value list longer than the mask starts the mask again; a shorter one ends the text
// where the next field would begin.
std::string format_using(std::string_view mask, std::span<const double> values);
// The same text, appended to `out`.
void append_using(std::string& out, std::string_view mask, std::span<const double> values);
std::string format_using(std::string_view mask, std::initializer_list<double> values);

}  // namespace kestrane
