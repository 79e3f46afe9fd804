// The console the dialogue talks to: an 80x25 text screen with a cursor, colours, a key
// to wait for and modal list boxes. Implemented on a real terminal and in memory (tests).
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace kestrane {

inline constexpr int kConsoleColumns = 80;
inline constexpr int kConsoleRows = 25;

// What a list box shows: a heading, an instruction line and the items, in single-choice
// mode 0 or multiple-choice mode 3.
struct ListBoxRequest {
  std::string_view instruction;
  std::string_view heading;
  std::span<const std::string> items;
  int mode = 0;
  // The other numbers of the list-box call, kept so that a recording console can show
  // them; they do not change what the box does.
  int kind = 0;
  int arg2 = 0;
  int arg3 = 0;
  int arg7 = 0;
  int arg9 = 0;
};

class Console {
 public:
  virtual ~Console() = default;
  virtual void set_size(int columns, int rows) = 0;
  virtual void set_colours(int foreground, int background) = 0;
  // Blanks in the current colours; cursor to row 1, column 1.
  virtual void clear() = 0;
  virtual void move_to(int row, int column) = 0;
  // Text at the cursor; wraps at column 80, scrolls at row 25.
  virtual void write_text(std::string_view text) = 0;
  // Cursor to column 1 of the next row (scrolling at the bottom).
  virtual void line_break() = 0;
  virtual int cursor_row() const = 0;     // 1..25
  virtual int cursor_column() const = 0;  // 1..80
  virtual void set_title(std::string_view title) = 0;
  // Shows what was written (a terminal may hold output back until then).
  virtual void refresh() {}
  // Waits until one key is pressed; the key is discarded.
  virtual void wait_for_key() = 0;
  // Drops the keys typed so far and not yet read, so that the next wait takes a fresh key.
  virtual void discard_typeahead() {}
  // Shows a modal list box and returns its result text: mode 0 the chosen item's text;
  // mode 3 the item numbers in the order marked, joined by NUL; empty when closed without
  // a choice.
  virtual std::string list_box(const ListBoxRequest& request) = 0;
};

// Advance to column c: nothing when c < 1 or the cursor stands at c; blanks up to c when
// left of it; a line break and c - 1 blanks when right of it.
void advance_to_column(Console& console, int column);

// Writes a text centred by the rule: after advancing to column (80 - length) div 2.
void write_centred(Console& console, std::string_view text);

// Start-up of the console window: size 80x25, title "Kestrane  Ver. 3.1", colours 15 on 1,
// screen cleared.
void prepare_console_window(Console& console);

// The start-up calls of the console tools. On a terminal there is no window to move, no
// tool bar and no system menu, so those do nothing; ConsoleTitle sets the console's title
// and returns it.
int ConsoleMove(Console& console, int x, int y);
int InitConsoleTools(Console& console, int arg1, int arg2, int arg3, int arg4, int& status,
                     int arg6);
int ConsoleToolBar(Console& console, int arg1, int arg2);
std::string ConsoleTitle(Console& console, std::string_view title);
int DeleteWindowMenuItem(Console& console, int item);

// The list-box call of the console tools, with its nine arguments in their order; the
// numbers other than the mode carry no meaning here.
std::string ConsoleListBox(Console& console, int kind, int arg2, int arg3,
                           std::string_view instruction, std::string_view heading,
                           std::span<const std::string> items, int arg7, int mode, int arg9);

}  // namespace kestrane
