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

// Lines taken from a reader as one text: where they could be handed on as they stand, a view
// of the reader's own bytes, which it keeps readable (the reader moves on without copying
// them); otherwise a copy of its own.
class LinesText {
 public:
  std::string_view view() const { return window_ ? text_ : std::string_view(own_); }
  // What keeps a view readable (null for a copy), and how many bytes it holds readable.
  const void* holder() const { return window_.get(); }
  std::size_t held_bytes() const { return window_ ? window_bytes_ : 0; }

 private:
  friend class LineReader;
  std::string own_;
  std::string_view text_;
  std::shared_ptr<const char> window_;
  std::size_t window_bytes_ = 0;
};

// Reads an input file sequentially, one line at a time: a regular file is mapped a window at
// a time (so that lines and runs of lines are looked at where the file's pages lie), unless
// it is to be copied in blocks; any other file (a pipe) is read in large blocks, with no size
// known beforehand. A regular file is read up to the size it had when opened; one that ends
// before it while read in blocks is refused as made shorter by another program (a mapped one
// is the SIGBUS guard's part, platform/mapped_input.h).
// A line ends at CR, CR LF or LF; a byte 26 ends the file (a line ends before it and
// nothing after it is read). The last line needs no line end. A line longer than
// kMaxLineLength is refused (InputError naming the file and the line) as soon as that many
// of its characters have been seen, so that no line is ever held whole beyond that length.
class LineReader {
 public:
  // Size of the windows a file is mapped in, or of the blocks it is read in. A window or the
  // buffer grows beyond it only to hold a single line longer than a block.
  static constexpr std::size_t kDefaultBlockSize = std::size_t{4} << 20;
  // How the bytes are looked at: in windows shared with the source (a regular file mapped, or
  // the bytes of an in-memory reader), or in blocks copied into a buffer, as a file that
  // cannot be mapped. A process that has no guard for its mapped windows (the Python module,
  // whose interpreter keeps its signals to itself) copies, so that a file made shorter
  // meanwhile is a refusal rather than a SIGBUS.
  enum class Blocks { shared, copied };
  // The longest line accepted, without its line end. No line of a sound dose-rate or
  // integration-times file comes near it.
  static constexpr std::size_t kMaxLineLength = std::size_t{64} << 10;

  // Opens `host_path` for reading. `display_name` is how messages name the file
  // (for instance "DATA\KVR13INH.DRT"). Throws InputError when the file cannot be opened.
  LineReader(const std::filesystem::path& host_path, std::string display_name,
             std::size_t block_size = kDefaultBlockSize, Blocks blocks = Blocks::shared);
  // Reads from bytes held in memory (tests, fuzzing), in windows or blocks of `block_size`
  // bytes like a file, so that small ones exercise lines and line ends split between them.
  static LineReader from_bytes(std::string bytes, std::string display_name,
                               std::size_t block_size = kDefaultBlockSize,
                               Blocks blocks = Blocks::shared);

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

  // take_lines: the same lines as append_lines, as a view of the reader's bytes when they are
  // all plain (LF or CR LF line ends, none longer than `keep`) and lie in one window, and
  // otherwise as append_lines copies them. `out` is replaced.
  std::int64_t take_lines(std::int64_t count, LinesText& out, std::size_t keep = kMaxLineLength);

  // `observer` sees every byte of the file once, in file order, in pieces of at most 1 MiB as
  // they are read (a provenance file hashes the input this way). Set it before the first line
  // is read.
  void observe_bytes(std::function<void(std::string_view)> observer);
  // The same, with what keeps the bytes readable after the call: an observer that holds it
  // may keep the view (and the window of the file it lies in) rather than copy the bytes. It
  // is null where the bytes lie in the reader's own buffer, which the next block overwrites.
  void observe_held_bytes(
      std::function<void(std::string_view, std::shared_ptr<const void>)> observer);
  // Hands the bytes after a byte 26, which end the file unread, to the observer as well.
  void observe_rest();

  // Number (from 1) of the line last returned or skipped; 0 before the first.
  std::int64_t line_number() const;
  // Bytes consumed so far, and the size of the file (for progress displays): 0 where it is
  // not known beforehand (a pipe).
  std::uint64_t bytes_consumed() const;
  std::uint64_t total_bytes() const;
  const std::string& display_name() const;
  // The descriptor of the open file, which the reader reads to its end (so that what is said
  // of the file, fstat's stamp, is said of the bytes read); -1 for a reader of bytes in memory.
  int descriptor() const;
  // Bytes the reader's buffer or window holds room for (it stays within twice the larger of
  // the block size and kMaxLineLength, whatever the file holds).
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
