// Console operations built on the Console interface: advancing to a column, centring, the
// start-up of the console window and the console-tools calls.
#include "platform/console.h"

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

int ConsoleMove(Console& /*console*/, int /*x*/, int /*y*/) { return 0; }

int InitConsoleTools(Console& /*console*/, int /*arg1*/, int /*arg2*/, int /*arg3*/, int /*arg4*/,
                     int& /*status*/, int /*arg6*/) {
  return 0;
}

int ConsoleToolBar(Console& /*console*/, int /*arg1*/, int /*arg2*/) { return 0; }

std::string ConsoleTitle(Console& console, std::string_view title) {
  console.set_title(title);
  return std::string(title);
}

int DeleteWindowMenuItem(Console& /*console*/, int /*item*/) { return 0; }

void prepare_console_window(Console& console) {
  ConsoleMove(console, 32767, 32767);
  console.set_size(kConsoleColumns, kConsoleRows);
  int status = 0;
  InitConsoleTools(console, 0, 0, 0, 0, status, 0);
  ConsoleToolBar(console, 0, 99);
  ConsoleTitle(console, "Kestrane  Ver. 3.1");
  DeleteWindowMenuItem(console, 61440);  // SC_SIZE
  DeleteWindowMenuItem(console, -2);
  DeleteWindowMenuItem(console, -1);
  console.set_colours(15, 1);
  console.clear();
}

std::string ConsoleListBox(Console& console, int kind, int arg2, int arg3,
                           std::string_view instruction, std::string_view heading,
                           std::span<const std::string> items, int arg7, int mode, int arg9) {
  ListBoxRequest request;
  request.instruction = instruction;
  request.heading = heading;
  request.items = items;
  request.mode = mode;
  request.kind = kind;
  request.arg2 = arg2;
  request.arg3 = arg3;
  request.arg7 = arg7;
  request.arg9 = arg9;
  return console.list_box(request);
}

}  // namespace kestrane
