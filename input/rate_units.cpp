// The units of the rates found in a dose-rate file's title line.
#include "input/rate_units.h"

#include <array>
#include <cstddef>

namespace kestrane {

namespace {

constexpr bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The SI prefixes a gray may carry, micro in both of its UTF-8 forms and as 'u'.
constexpr std::array<std::string_view, 27> kSiPrefixes = {
    "",  "q",  "r", "y", "z", "a", "f", "p", "n", "u", "\xc2\xb5", "\xce\xbc", "m", "c",
    "d", "da", "h", "k", "M", "G", "T", "P", "E", "Z", "Y",        "R",        "Q"};

// Reads a parenthesised unit from `rest`, which begins just after an '('. None when it does
// not read "<unit>/d per Bq" then ")" or a blank and words up to the closing parenthesis.
std::optional<std::string_view> unit_in_parenthesis(std::string_view rest) {
  std::size_t at = 0;
  const auto skip_blanks = [&] {
    const std::size_t from = at;
    while (at < rest.size() && is_blank(rest[at])) ++at;
    return at > from;
  };
  const auto take = [&](std::string_view word) {
    if (rest.substr(at, word.size()) != word) return false;
    at += word.size();
    return true;
  };
  skip_blanks();
  const std::size_t unit_from = at;
  while (at < rest.size()) {
    const char c = rest[at];
    if (is_blank(c) || c == '/' || c == '(' || c == ')') break;
    ++at;
  }
  const std::string_view unit = rest.substr(unit_from, at - unit_from);
  if (unit.empty() || !take("/d") || !skip_blanks() || !take("per") || !skip_blanks() ||
      !take("Bq")) {
    return std::nullopt;
  }
  if (at < rest.size() && rest[at] == ')') return unit;
  if (!skip_blanks()) return std::nullopt;  // "Bqs", or the title ends
  // Words up to the parenthesis that closes the one opened before the unit.
  int depth = 1;
  for (; at < rest.size(); ++at) {
    if (rest[at] == '(') ++depth;
    if (rest[at] == ')' && --depth == 0) return unit;
  }
  return std::nullopt;  // never closed
}

}  // namespace

std::optional<RateUnits> rate_units(std::string_view title) {
  for (std::size_t open = title.find('('); open != std::string_view::npos;
       open = title.find('(', open + 1)) {
    const std::optional<std::string_view> unit = unit_in_parenthesis(title.substr(open + 1));
    if (!unit) continue;
    RateUnits units;
    units.rate = std::string(*unit) + "/d per Bq";
    units.coefficient = std::string(*unit) + "/Bq";
    if (unit->ends_with("Gy")) {
      const std::string_view prefix = unit->substr(0, unit->size() - 2);
      for (const std::string_view si : kSiPrefixes) {
        if (prefix == si) units.dose = std::string(prefix) + "Sv/Bq";
      }
    }
    return units;
  }
  return std::nullopt;
}

}  // namespace kestrane
