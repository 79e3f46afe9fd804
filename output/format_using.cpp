// The picture-mask number formatter: parses exponential masks and lays out the correctly
// rounded digits of each value (output/decimal_digits.h) in their fields.
#include "output/format_using.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "output/decimal_digits.h"

namespace kestrane {
namespace {

// An exponential field "##.##^^^^": `lead` digit positions before the point (one of them
// holds the sign), `frac` after it, and `marks` exponent marks.
struct Field {
  int lead = 0;
  int frac = 0;
  int marks = 0;
};

[[noreturn]] void refuse(std::string_view mask, std::size_t at, std::string_view why) {
  throw MaskError("mask \"" + std::string(mask) + "\" at position " + std::to_string(at + 1) +
                  ": " + std::string(why));
}

int count_run(std::string_view s, std::size_t& at, char c) {
  int n = 0;
  for (; at < s.size() && s[at] == c; ++at) ++n;
  return n;
}

// Reads the field that starts at `at` and moves `at` past it. A field of any other form
// than "##.##^^^^" (at least two places before the point, three to six marks) is refused.
Field read_field(std::string_view mask, std::size_t& at) {
  const std::size_t start = at;
  Field field;
  field.lead = count_run(mask, at, '#');
  if (at < mask.size() && mask[at] == ',')
    refuse(mask, at, "thousands separators are not supported");
  if (at >= mask.size() || mask[at] != '.') refuse(mask, start, "a field needs a decimal point");
  if (field.lead < 2) refuse(mask, start, "a field needs two digit positions before the point");
  ++at;
  field.frac = count_run(mask, at, '#');
  if (at < mask.size() && (mask[at] == '.' || mask[at] == ',')) {
    refuse(mask, at, "a field has one decimal point and no separators");
  }
  field.marks = count_run(mask, at, '^');
  if (field.marks < 3 || field.marks > 6) {
    refuse(mask, start, "a field needs three to six exponent marks");
  }
  return field;
}

// Checks the whole mask before anything is rendered. Characters that the mask language gives
// another meaning (numeric fields of other forms, signs, fill, string fields, escapes) are
// refused; every other character outside a field is literal text.
void check_mask(std::string_view mask) {
  bool has_field = false;
  std::size_t i = 0;
  while (i < mask.size()) {
    const char c = mask[i];
    if (c == '#' || (c == '.' && i + 1 < mask.size() && mask[i + 1] == '#')) {
      const std::string_view before = mask.substr(0, i);
      if (before.ends_with('+')) refuse(mask, i - 1, "explicit sign characters are not supported");
      if (before.ends_with("**") || before.ends_with("$$") || before.ends_with("**$")) {
        refuse(mask, i - 2, "asterisk fill and currency signs are not supported");
      }
      read_field(mask, i);
      if (i < mask.size() && (mask[i] == '+' || mask[i] == '-')) {
        refuse(mask, i, "explicit sign characters are not supported");
      }
      has_field = true;
      continue;
    }
    if (c == '!' || c == '&' || c == '\\') refuse(mask, i, "string fields are not supported");
    if (c == '_') refuse(mask, i, "escape characters are not supported");
    ++i;
  }
  if (!has_field) refuse(mask, 0, "the mask has no number field");
}

// Room for the text of a value in `field`: the sign, the digits and the point, 'E', the
// exponent sign and the exponent's digits: the marks' places, or more for an exponent that
// needs more. A finite double is at least 1e-324 and at most 1e309, and a field with more
// places before the point lowers the exponent further; infinity shows 999.
std::size_t field_room(const Field& field) {
  std::size_t exponent_digits = 1;
  for (int largest = std::max(999, 324 + field.lead); largest >= 10; largest /= 10) {
    ++exponent_digits;
  }
  return static_cast<std::size_t>(field.lead + field.frac + 3) +
         std::max(static_cast<std::size_t>(field.marks - 2), exponent_digits);
}

// Writes the text of `v` in `field` at `text`, which has field_room(field) characters of room,
// and returns the end of what it wrote.
char* render(const Field& field, double v, char* text) {
  const int count = field.lead - 1 + field.frac;
  char* const digits = text + 1;
  std::fill(digits, digits + count, '0');
  int exponent = 0;  // of the leading digit group of the field
  if (std::isinf(v)) {
    digits[0] = '1';  // all nines with exponent 998, carried into a new leading digit
    exponent = 999;
  } else if (std::isfinite(v) && v != 0) {
    exponent = exact_decimal_digits(std::fabs(v), count, digits) - (field.lead - 2);
  }
  text[0] = v < 0 ? '-' : ' ';  // NaN and negative zero show a blank
  // The point goes in after the digits before it.
  const int before_point = field.lead - 1;
  // (A few characters at most in the usual fields: moved one by one, not by a library call.)
  for (int i = count; i > before_point; --i) digits[i] = digits[i - 1];
  digits[before_point] = '.';
  char* t = digits + count + 1;
  *t++ = 'E';
  *t++ = exponent < 0 ? '-' : '+';
  const unsigned magnitude_value =
      exponent < 0 ? 0u - static_cast<unsigned>(exponent) : static_cast<unsigned>(exponent);
  char magnitude[12];
  const auto end = std::to_chars(magnitude, magnitude + sizeof magnitude, magnitude_value).ptr;
  const auto length = static_cast<int>(end - magnitude);
  for (int i = length; i < field.marks - 2; ++i) *t++ = '0';
  return std::copy(magnitude, end, t);
}

// A checked mask cut into its fields and the literal text between them.
struct ParsedMask {
  struct Piece {
    bool is_field = false;
    Field field;            // when is_field
    std::size_t first = 0;  // otherwise the literal text: mask[first, first + length)
    std::size_t length = 0;
  };
  std::string mask;
  std::vector<Piece> pieces;
  std::size_t fields = 0;  // number fields in one pass of the mask
  std::size_t room = 0;    // room for the text of one pass

  void parse(std::string_view text) {
    check_mask(text);
    mask.assign(text);
    pieces.clear();
    fields = 0;
    room = 0;
    std::size_t i = 0;
    while (i < mask.size()) {
      Piece piece;
      if (mask[i] == '#') {  // in a checked mask only a field starts with '#'
        piece.is_field = true;
        piece.field = read_field(mask, i);
        ++fields;
        room += field_room(piece.field);
      } else {
        piece.first = i;
        while (i < mask.size() && mask[i] != '#') ++i;
        piece.length = i - piece.first;
        room += piece.length;
      }
      pieces.push_back(piece);
    }
  }
};

// The mask checked and cut. A program formats with the same few masks over and over, in turn:
// the last few masks on this thread are kept checked and cut.
const ParsedMask& parsed_mask(std::string_view mask) {
  thread_local std::array<ParsedMask, 4> kept;
  thread_local std::size_t next = 0;
  for (const ParsedMask& parsed : kept) {
    if (!parsed.pieces.empty() && parsed.mask == mask) return parsed;
  }
  ParsedMask& parsed = kept[next];
  next = (next + 1) % kept.size();
  parsed.mask.clear();
  parsed.pieces.clear();
  parsed.parse(mask);  // a refused mask leaves the place empty
  return parsed;
}

}  // namespace

void append_using(std::string& out, std::string_view mask, std::span<const double> values) {
  const ParsedMask& parsed = parsed_mask(mask);
  // Written in place: room for every pass of the mask that the values start, then cut back.
  const std::size_t start = out.size();
  const std::size_t fields = std::max<std::size_t>(parsed.fields, 1);  // a checked mask has one
  const std::size_t passes = std::max<std::size_t>(1, (values.size() + fields - 1) / fields);
  out.resize(start + passes * parsed.room);
  char* const first = out.data() + start;
  char* t = first;
  std::size_t n = 0;
  std::size_t k = 0;
  for (;;) {
    if (k == parsed.pieces.size()) {
      if (n == values.size()) break;
      k = 0;  // more values: the mask starts again
    }
    const ParsedMask::Piece& piece = parsed.pieces[k++];
    if (piece.is_field) {
      if (n == values.size()) break;
      t = render(piece.field, values[n++], t);
    } else {
      t = std::copy_n(parsed.mask.data() + piece.first, piece.length, t);
    }
  }
  out.resize(start + static_cast<std::size_t>(t - first));
}

std::string format_using(std::string_view mask, std::span<const double> values) {
  std::string out;
  append_using(out, mask, values);
  return out;
}

std::string format_using(std::string_view mask, std::initializer_list<double> values) {
  return format_using(mask, std::span<const double>(values.begin(), values.size()));
}

}  // namespace kestrane
