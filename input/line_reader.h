// Line reading shared by both input files: the line rule, the longest line accepted, and
// fields cut by column. (The numeric reading rule is in input/number_rule.h.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "input/input_error.h"
#include "input/number_rule.h"

namespace kestrane {

// Reads an input file sequentially, in large blocks, one line at a time.
// A line ends at CR, CR LF or LF; a byte 26 ends the file (a line ends before it and
// nothing after it is read). The last line needs no line end. A line longer than
// kMaxLineLength is refused (InputError naming the file and the line) as soon as that many
// of its characters have been seen, so that no line is ever held whole beyond that length.
class LineReader {
 public:
  // Size of the blocks the file is read in. The buffer grows beyond it only to hold a single
  // line longer than a block.
  static constexpr std::size_t kDefaultBlockSize = std::size_t{1} << 20;
  // The longest line accepted, without its line end. No line of a sound dose-rate or
  // integration-times file comes near it.
  static constexpr std::size_t kMaxLineLength = std::size_t{64} << 10;

  // Opens `host_path` for reading. `display_name` is how messages name the file
  // (for instance "DATA\KVR13INH.DRT"). Throws InputError when the file cannot be opened.
  LineReader(const std::filesystem::path& host_path, std::string display_name,
             std::size_t block_size = kDefaultBlockSize);
  // Reads from bytes held in memory (tests, fuzzing), in blocks of `block_size` bytes like
  // a file, so that small blocks exercise lines and line ends split between blocks.
  static LineReader from_bytes(std::string bytes, std::string display_name,
                               std::size_t block_size = kDefaultBlockSize);

  LineReader(LineReader&&) noexcept;
  LineReader& operator=(LineReader&&) noexcept;
  ~LineReader();

  // The next line without its line end; an empty text at the end of the file.
  // The view stays valid until the next call of read_line, next_line, skip_lines or
  // at_end_of_file (any of which may read the next block into the buffer).
  std::string_view read_line();
  // The same, telling the end of the file apart from an empty line: false (and an empty
  // `line`) when no line is left.
  bool next_line(std::string_view& line);
  // True when no byte is left to read or the next byte is 26.
  bool at_end_of_file();
  // Passes over up to `count` lines without looking inside them; returns how many there were.
  std::int64_t skip_lines(std::int64_t count);
  // Appends up to `count` lines to `out`, each followed by '\n' or, where the line ends in
  // LF or CR LF, possibly by that line end as it stands (so that runs of such lines are
  // copied at once). A line never holds a CR, so a CR just before a '\n' of `out` belongs to
  // the line end. Of a line longer than `keep` characters only its first `keep` are appended
  // (then '\n'), so that what is kept of a line never outgrows what its reader looks at;
  // the whole line still counts against kMaxLineLength. Returns how many lines there were.
  std::int64_t append_lines(std::int64_t count, std::string& out,
                            std::size_t keep = kMaxLineLength);

  // `observer` sees every byte of the file once, in file order, as the blocks are read (a
  // provenance file hashes the input this way). Set it before the first line is read.
  void observe_bytes(std::function<void(std::string_view)> observer);
  // Hands the bytes after a byte 26, which end the file unread, to the observer as well.
  void observe_rest();

  // Number (from 1) of the line last returned or skipped; 0 before the first.
  std::int64_t line_number() const;
  // Bytes consumed so far, and the size of the file (for progress displays).
  std::uint64_t bytes_consumed() const;
  std::uint64_t total_bytes() const;
  const std::string& display_name() const;
  // Bytes the reader's buffer holds room for (it stays within twice the larger of the block
  // size and kMaxLineLength, whatever the file holds).
  std::size_t buffer_capacity() const;

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

}  // namespace kestrane
