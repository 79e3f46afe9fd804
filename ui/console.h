// The console the dialogue talks to: an 80x25 text screen with a cursor, colours, a key
// to wait for and modal list boxes. Implemented on a real terminal and in memory (tests).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrane {

inline constexpr int kConsoleColumns = 80;
inline constexpr int kConsoleRows = 25;
// The 16 colours of the console palette, each with its number there: blue in bit 0, green in
// bit 1, red in bit 2 and brightness in bit 3.
enum class Colour : std::uint8_t {
  black = 0,
  blue = 1,
  green = 2,
  cyan = 3,
  red = 4,
  magenta = 5,
  brown = 6,
  light_grey = 7,
  dark_grey = 8,
  bright_blue = 9,
  bright_green = 10,
  bright_cyan = 11,
  bright_red = 12,
  bright_magenta = 13,
  yellow = 14,
  bright_white = 15,
};

// The colour's number in the console palette, 0..15.
constexpr int palette_number(Colour colour) { return static_cast<int>(colour); }
// True for the bright half of the palette (dark grey to bright white).
constexpr bool is_bright(Colour colour) { return (palette_number(colour) & 8) != 0; }

// The colours of the whole run.
inline constexpr Colour kConsoleForeground = Colour::bright_white;
inline constexpr Colour kConsoleBackground = Colour::blue;

// How many items a list box lets the user choose.
enum class ListBoxMode {
  single_choice,    // one item: the highlighted one when the box is closed with OK
  multiple_choice,  // any number of items, marked one by one; their marking order is kept
};

// What a list box shows: a heading, an instruction line and the items, numbered from 1.
struct ListBoxRequest {
  std::string_view heading{};
  std::string_view instruction{};
  std::span<const std::string> items{};
  ListBoxMode mode = ListBoxMode::single_choice;
};

// What the user chose in a list box: the item numbers (1..the number of items) in the order
// they were marked; a single choice gives one number. Empty when the box was closed without
// a choice.
struct ListBoxResult {
  std::vector<int> items;

  bool chosen() const { return !items.empty(); }
};

class Console {
 public:
  virtual ~Console() = default;
  virtual void set_size(int columns, int rows) = 0;
  virtual void set_colours(Colour foreground, Colour background) = 0;
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
  // Shows a modal list box and returns once the user has closed it, with the choice.
  virtual ListBoxResult list_box(const ListBoxRequest& request) = 0;
};

// Advance to column c: nothing when c < 1 or the cursor stands at c; blanks up to c when
// left of it; a line break and c - 1 blanks when right of it.
void advance_to_column(Console& console, int column);

// Writes a text centred by the rule: after advancing to column (80 - length) div 2.
void write_centred(Console& console, std::string_view text);

// Start-up of the console window: size 80x25, the window title, the colours of the run,
// screen cleared.
void prepare_console_window(Console& console, std::string_view title);

}  // namespace kestrane
