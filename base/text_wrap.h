// The one breaking of text into lines at blanks, never inside a word: for --help, the
// outcome lines on a shell and the notes of an interrupted or stopped run.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrane {

// `text` broken at blanks into lines of at most `width` characters, each after `indent` (a
// word longer than a line stands alone on its line, whole); line feeds in `text` start new
// lines, and the blanks inside a line are kept as they are.
std::string wrap_at_blanks(std::string_view text, std::size_t width, std::string_view indent = {});

}  // namespace kestrane
