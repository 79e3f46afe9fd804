// The 80x25 cells of a console screen with its cursor and colours: what both the in-memory
// and the terminal console keep, written to the way a text console writes (wrap, scroll).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "ui/console.h"

namespace kestrane {

// One character cell: the character and its colours.
struct Cell {
  char ch = ' ';
  Colour foreground = Colour::light_grey;
  Colour background = Colour::black;
  bool operator==(const Cell&) const = default;
};

class ScreenBuffer {
 public:
  // A blank screen in light grey on black with the cursor at row 1, column 1.
  ScreenBuffer() = default;

  void set_colours(Colour foreground, Colour background);
  Colour foreground() const { return foreground_; }
  Colour background() const { return background_; }

  // Blanks in the current colours everywhere; cursor to row 1, column 1.
  void clear();

  // True when row 1..25 and column 1..80 lie on the screen.
  static bool on_screen(int row, int column);
  // Moves the cursor; a position off the screen leaves it where it is and returns false.
  bool move_to(int row, int column);

  // Writes at the cursor in the current colours. After column 80 the cursor wraps to column
  // 1 of the next row at once; past row 25 the screen scrolls up one row. LF is a line
  // break, CR returns to column 1, BS steps back within the row, TAB advances to the next
  // multiple of 8 plus 1, BEL is not shown; every other byte is stored as it is.
  void write_text(std::string_view text);
  // Cursor to column 1 of the next row, scrolling at the bottom.
  void line_break();

  int row() const { return row_; }
  int column() const { return column_; }

  // The cell at row 1..25, column 1..80 (throws std::out_of_range off the screen).
  const Cell& cell(int row, int column) const;
  // The 80 characters of a row.
  std::string row_text(int row) const;
  // The 25 rows joined by line feeds, trailing blanks of each row removed.
  std::string text() const;

  // Counts the scrolls since construction (the screen moved up one row each).
  long scroll_count() const { return scrolls_; }

 private:
  void put(char ch);
  void scroll_up();

  std::array<std::array<Cell, kConsoleColumns>, kConsoleRows> cells_{};
  int row_ = 1;
  int column_ = 1;
  Colour foreground_ = Colour::light_grey;
  Colour background_ = Colour::black;
  long scrolls_ = 0;
};

}  // namespace kestrane
