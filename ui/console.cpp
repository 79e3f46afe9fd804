// Console operations built on the Console interface: advancing to a column, centring and the
// start-up of the console window.
#include "ui/console.h"

namespace kestrane {

void advance_to_column(Console& console, int column) {
  if (column < 1) return;
  int at = console.cursor_column();
  if (at == column) return;
  if (at > column) {
    console.line_break();
    at = 1;
  }
  if (column > at) console.write_text(std::string(static_cast<size_t>(column - at), ' '));
}

void write_centred(Console& console, std::string_view text) {
  // (80 - L) div 2, truncating toward zero; a column below 1 leaves the cursor where it is.
  advance_to_column(console, (kConsoleColumns - static_cast<int>(text.size())) / 2);
  console.write_text(text);
}

void prepare_console_window(Console& console, std::string_view title) {
  console.set_size(kConsoleColumns, kConsoleRows);
  console.set_title(title);
  console.set_colours(kConsoleForeground, kConsoleBackground);
  console.clear();
}

}  // namespace kestrane
