// Text broken into lines at blanks.
#include "base/text_wrap.h"

#include <algorithm>

namespace kestrane {

std::string wrap_at_blanks(std::string_view text, std::size_t width, std::string_view indent) {
  const std::size_t room = width > indent.size() ? width - indent.size() : 1;
  std::string result;
  const auto emit = [&](std::string_view line) {
    line = line.substr(0, line.find_last_not_of(' ') + 1);
    result.append(indent).append(line).push_back('\n');
  };
  for (;;) {
    const std::size_t newline = text.find('\n');
    std::string_view rest = text.substr(0, newline);
    while (rest.size() > room) {
      // The last blank that leaves a word on the line; else the first after the line's room.
      std::size_t cut = rest.rfind(' ', room);
      if (cut != std::string_view::npos && rest.find_first_not_of(' ') >= cut) {
        cut = std::string_view::npos;
      }
      if (cut == std::string_view::npos) cut = rest.find(' ', room);
      if (cut == std::string_view::npos) break;
      emit(rest.substr(0, cut));
      rest.remove_prefix(cut);
      rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
    }
    emit(rest);
    if (newline == std::string_view::npos) break;
    text.remove_prefix(newline + 1);
  }
  result.pop_back();
  return result;
}

}  // namespace kestrane
