// Fuzz target: the line reader against a plain byte-by-byte statement of the line rule, with
// block sizes, windows or copied blocks, end-of-file tests and skipped or taken lines chosen by
// the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "input/line_reader.h"

namespace {

// The lines of `bytes` by the rule, one byte at a time: CR, CR LF and LF end a line, byte 26
// ends the file, the last line needs no end.
std::vector<std::string> reference_lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  bool open = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == 26) break;
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line.push_back(c);
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: block size (its top bit: copied blocks rather than windows); second byte: a
  // pattern of end-of-file tests and skips.
  const std::size_t block =
      data[0] == 0 ? kestrane::LineReader::kDefaultBlockSize : data[0] % 64 + 1;
  const auto blocks = (data[0] & 0x80) != 0 ? kestrane::LineReader::Blocks::copied
                                            : kestrane::LineReader::Blocks::shared;
  const std::uint8_t pattern = data[1];
  const std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::vector<std::string> expected = reference_lines(bytes);
  // A line over the longest accepted is refused; the rest of the rule is checked on the others.
  for (const std::string& line : expected) {
    if (line.size() > kestrane::LineReader::kMaxLineLength) {
      try {
        kestrane::LineReader whole = kestrane::LineReader::from_bytes(bytes, "fuzz", block, blocks);
        while (whole.skip_lines(1) == 1) {
        }
      } catch (const kestrane::InputError&) {
        return 0;
      }
      std::abort();
    }
  }

  kestrane::LineReader reader = kestrane::LineReader::from_bytes(bytes, "fuzz", block, blocks);
  std::size_t next = 0;
  for (int step = 0;; ++step) {
    const bool at_end = reader.at_end_of_file();
    if (at_end != (next == expected.size())) std::abort();
    if (((pattern >> (step % 8)) & 1) != 0) {
      const std::int64_t want = (step % 3) + 1;
      const auto left = static_cast<std::int64_t>(expected.size() - next);
      std::int64_t skipped = 0;
      if (step % 2 == 0) {
        skipped = reader.skip_lines(want);
      } else {
        // Taken lines: each ends in '\n', or in CR LF as it stands.
        kestrane::LinesText taken;
        skipped = reader.take_lines(want, taken);
        std::string text(taken.view());
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
        std::string lines;
        for (std::int64_t i = 0; i < std::min(want, left); ++i) {
          lines += expected[next + static_cast<std::size_t>(i)] + '\n';
        }
        if (text != lines) std::abort();
      }
      if (skipped != std::min(want, left)) std::abort();
      next += static_cast<std::size_t>(skipped);
    } else {
      std::string_view line;
      const bool got = reader.next_line(line);
      if (got != (next < expected.size())) std::abort();
      if (got && line != expected[next]) std::abort();
      if (!got && !line.empty()) std::abort();
      if (got) ++next;
    }
    if (reader.line_number() != static_cast<std::int64_t>(next)) std::abort();
    if (next == expected.size() && at_end) break;
  }
  if (!reader.read_line().empty()) std::abort();
  return 0;
}
