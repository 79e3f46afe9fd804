// Refusals of input files: the exception that carries them, the one builder of the messages
// that name a line inside a nuclide record, and the escaping that makes any quoted text of a
// file safe to show on a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace kestrane {

// A refusal of an input file. The message names the file and, where it applies, the line
// and the record; the run driver shows it and stops the run.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A line longer than the line reader accepts. Readers of records catch it to add the record's
// header line to the message.
class LineTooLong : public InputError {
 public:
  LineTooLong(std::string_view file_name, std::int64_t line, std::string reason)
      : InputError(std::string(file_name) + ", line " + std::to_string(line) + ": " + reason),
        line_(line),
        reason_(std::move(reason)) {}
  std::int64_t line() const { return line_; }
  const std::string& reason() const { return reason_; }

 private:
  std::int64_t line_;
  std::string reason_;
};

// How many characters of a line a message quotes at most (the escapes included).
inline constexpr std::size_t kQuotedCharacters = 100;

// `text` made safe to show on a terminal: every byte that is not a printable ASCII character
// (control bytes, DEL, bytes of 128 and above) is written as an escape such as "\x1b", and the
// result is cut after about `limit` characters, with "..." where it was cut.
std::string printable_excerpt(std::string_view text, std::size_t limit = kQuotedCharacters);

// The message of a refusal inside a nuclide record:
//   <file>, line <line>: <reason>. Header line[ (line <header_line>)]: "<header>"
// The reason names the columns where the fault lies; the header line's own number is given
// where the faulty line is another one. The header is quoted through printable_excerpt.
std::string record_refusal_message(std::string_view file_name, std::int64_t line,
                                   std::string_view reason, std::string_view header_text,
                                   std::int64_t header_line);

// Throws InputError with the message above.
[[noreturn]] void refuse_in_record(std::string_view file_name, std::int64_t line,
                                   std::string_view reason, std::string_view header_text,
                                   std::int64_t header_line);

}  // namespace kestrane
