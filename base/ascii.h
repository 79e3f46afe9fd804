// Small ASCII text helpers of the readers and the command lines: case folding of a character or a
// text, comparison without regard to case, and trimming of blanks (spaces and TABs).
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace kestrane::ascii {

constexpr bool is_blank(char c) { return c == ' ' || c == '\t'; }

constexpr char to_upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
constexpr char to_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

inline std::string to_upper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return to_upper(c); });
  return out;
}

inline std::string to_lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return to_lower(c); });
  return out;
}

constexpr bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return to_lower(x) == to_lower(y); });
}

// True when `text` begins with `prefix`, letters compared without regard to case.
constexpr bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equal_ignoring_case(text.substr(0, prefix.size()), prefix);
}

constexpr std::string_view trim_left(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  return text;
}

constexpr std::string_view trim_right(std::string_view text) {
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

constexpr std::string_view trim(std::string_view text) { return trim_right(trim_left(text)); }

}  // namespace kestrane::ascii
