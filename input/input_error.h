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
// Where it is known, the refusal also carries its parts: the file as named in the message,
// the 1-based offending line, the line of the record's header and the reason alone.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  InputError(const std::string& message, std::string_view file, std::int64_t line,
             std::int64_t record, std::string_view reason)
      : std::runtime_error(message), file_(file), line_(line), record_(record), reason_(reason) {}
  // A refusal of line `line` of `file`: "<file>, line <line>: <reason>".
  static InputError at_line(std::string_view file, std::int64_t line, std::string_view reason) {
    return {std::string(file) + ", line " + std::to_string(line) + ": " + std::string(reason), file,
            line, 0, reason};
  }
  // A refusal of `file` as a whole, whose message is its reason.
  static InputError of_file(std::string_view file, const std::string& message) {
    return {message, file, 0, 0, message};
  }
  const std::string& file() const { return file_; }
  std::int64_t line() const { return line_; }            // 0 when not known
  std::int64_t record() const { return record_; }        // 0 outside a record
  const std::string& reason() const { return reason_; }  // empty when not known

 private:
  std::string file_;
  std::int64_t line_ = 0;
  std::int64_t record_ = 0;
  std::string reason_;
};

// What stopped a run, in parts, for each front end to lay out in its own way (the screen,
// kestrane-batch's lines, a Python exception).
enum class StopKind {
  missing_file,   // an input file was not found
  input_refused,  // an input file was refused
  output_failed,  // a file of the run could not be made or written
  no_record,      // a nuclide chosen has no processed record
  interrupted,    // the caller asked the run to stop
};

struct StopDetails {
  StopKind kind = StopKind::input_refused;
  std::string file;         // the file, as the message names it
  std::int64_t line = 0;    // the 1-based offending line; 0 when none
  std::int64_t record = 0;  // the line of the record's header; 0 outside a record
  std::string reason;       // the reason alone (the whole message where it has no parts)
  std::string message;      // the message as the programs show it
};

// The parts of a refusal: those it carries, or else read from its message
// ("<file>, line <n>: <reason>"); `file` names the file being read when the message names
// none.
StopDetails stop_details(const InputError& error, std::string_view file);

// A line longer than the line reader accepts. Readers of records catch it to add the record's
// header line to the message.
class LineTooLong : public InputError {
 public:
  LineTooLong(std::string_view file_name, std::int64_t line, std::string reason)
      : InputError(std::string(file_name) + ", line " + std::to_string(line) + ": " + reason,
                   file_name, line, 0, reason) {}
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
