// Messages of input refusals: the record message builder and the escaping of quoted text.
#include "input/input_error.h"

#include <algorithm>

namespace kestrane {

std::string printable_excerpt(std::string_view text, std::size_t limit) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(std::min(text.size(), limit) + 3);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool printable = byte >= 0x20 && byte < 0x7f;
    if (out.size() + (printable ? 1 : 4) > limit) {
      out += "...";
      break;
    }
    if (printable) {
      out.push_back(c);
    } else {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 0xf]);
    }
  }
  return out;
}

std::string record_refusal_message(std::string_view file_name, std::int64_t line,
                                   std::string_view reason, std::string_view header_text,
                                   std::int64_t header_line) {
  std::string message(file_name);
  message += ", line " + std::to_string(line) + ": ";
  message += reason;
  message += ". Header line";
  if (header_line != line) message += " (line " + std::to_string(header_line) + ")";
  message += ": \"" + printable_excerpt(header_text) + "\"";
  return message;
}

void refuse_in_record(std::string_view file_name, std::int64_t line, std::string_view reason,
                      std::string_view header_text, std::int64_t header_line) {
  throw InputError(record_refusal_message(file_name, line, reason, header_text, header_line),
                   file_name, line, header_line, reason);
}

StopDetails stop_details(const InputError& error, std::string_view file) {
  StopDetails stop;
  stop.message = error.what();
  if (!error.reason().empty()) {
    stop.file = error.file();
    stop.line = error.line();
    stop.record = error.record();
    stop.reason = error.reason();
    return stop;
  }
  // A refusal without its parts (none of the readers throws one): the whole message.
  stop.file = file;
  stop.reason = stop.message;
  return stop;
}

}  // namespace kestrane
