// Line and number reading shared by both input files: the line rule, fields cut by
// column, the numeric reading rule and integer fields.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

// A refusal of an input file. The message names the file and, where it applies, the line
// and the record; the run driver shows it and stops the run.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads an input file sequentially, in large blocks, one line at a time.
// A line ends at CR, CR LF or LF; a byte 26 ends the file (a line ends before it and
// nothing after it is read). The last line needs no line end.
class LineReader {
 public:
  // Opens `host_path` for reading. `display_name` is how messages name the file
  // (for instance "DATA\KVR13INH.DRT"). Throws InputError when the file cannot be opened.
  LineReader(const std::filesystem::path& host_path, std::string display_name);
  // Reads from bytes held in memory (tests, fuzzing).
  static LineReader from_bytes(std::string bytes, std::string display_name);

  LineReader(LineReader&&) noexcept;
  LineReader& operator=(LineReader&&) noexcept;
  ~LineReader();

  // The next line without its line end; an empty text at the end of the file.
  // The view stays valid until the next call of read_line or skip_lines.
  std::string_view read_line();
  // True when no byte is left to read or the next byte is 26.
  bool at_end_of_file();
  // Passes over up to `count` lines without looking inside them; returns how many there were.
  std::int64_t skip_lines(std::int64_t count);

  // Number (from 1) of the line last returned or skipped; 0 before the first.
  std::int64_t line_number() const;
  // Bytes consumed so far, and the size of the file (for progress displays).
  std::uint64_t bytes_consumed() const;
  std::uint64_t total_bytes() const;
  const std::string& display_name() const;

 private:
  struct Impl;
  LineReader();
  std::unique_ptr<Impl> impl_;
};

// The field of `line` from 1-based column `first` over `width` characters; what is left
// of the line where it is shorter, possibly nothing.
std::string_view cut_field(std::string_view line, int first, int width);
// The field from 1-based column `first` to the end of the line.
std::string_view cut_field(std::string_view line, int first);

// The numeric reading rule: leading blanks, TABs and LFs skipped; "&H", "&B", "&O"/"&Q" or
// "&" integers; sign, digits with one decimal point, E/e/D/d exponent held at 9999; the
// number ends at the first character that cannot continue it; no digit gives 0. The first
// 18 significant digits count and the result is their correctly rounded double.
double parse_number(std::string_view text);

// A value kept as a signed 32-bit integer: rounded to nearest, ties to even, saturating
// at the 32-bit range (NaN gives 0).
std::int32_t round_to_int32(double value);

// parse_number of the field, rounded as above.
std::int32_t parse_integer(std::string_view text);

}  // namespace kestrane
