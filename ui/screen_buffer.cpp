// Console screen cells: writing with wrap at column 80 and scrolling at row 25.
#include "ui/screen_buffer.h"

#include <stdexcept>

namespace kestrane {

void ScreenBuffer::set_colours(Colour foreground, Colour background) {
  foreground_ = foreground;
  background_ = background;
}

void ScreenBuffer::clear() {
  for (auto& line : cells_) line.fill(Cell{' ', foreground_, background_});
  row_ = 1;
  column_ = 1;
}

bool ScreenBuffer::on_screen(int row, int column) {
  return row >= 1 && row <= kConsoleRows && column >= 1 && column <= kConsoleColumns;
}

bool ScreenBuffer::move_to(int row, int column) {
  if (!on_screen(row, column)) return false;
  row_ = row;
  column_ = column;
  return true;
}

void ScreenBuffer::write_text(std::string_view text) {
  for (char ch : text) {
    switch (ch) {
      case '\n':
        line_break();
        break;
      case '\r':
        column_ = 1;
        break;
      case '\b':
        if (column_ > 1) --column_;
        break;
      case '\t':
        do put(' ');
        while ((column_ - 1) % 8 != 0);
        break;
      case '\a':
        break;
      default:
        put(ch);
    }
  }
}

void ScreenBuffer::put(char ch) {
  cells_[row_ - 1][column_ - 1] = Cell{ch, foreground_, background_};
  if (++column_ > kConsoleColumns) line_break();
}

void ScreenBuffer::line_break() {
  column_ = 1;
  if (row_ == kConsoleRows) {
    scroll_up();
  } else {
    ++row_;
  }
}

void ScreenBuffer::scroll_up() {
  for (int r = 0; r + 1 < kConsoleRows; ++r) cells_[r] = cells_[r + 1];
  cells_[kConsoleRows - 1].fill(Cell{' ', foreground_, background_});
  ++scrolls_;
}

const Cell& ScreenBuffer::cell(int row, int column) const {
  if (!on_screen(row, column)) {
    throw std::out_of_range("cell off the screen: row " + std::to_string(row) + ", column " +
                            std::to_string(column));
  }
  return cells_[row - 1][column - 1];
}

std::string ScreenBuffer::row_text(int row) const {
  std::string line;
  line.reserve(kConsoleColumns);
  for (int c = 1; c <= kConsoleColumns; ++c) line.push_back(cell(row, c).ch);
  return line;
}

std::string ScreenBuffer::text() const {
  std::string all;
  for (int r = 1; r <= kConsoleRows; ++r) {
    std::string line = row_text(r);
    line.erase(line.find_last_not_of(' ') + 1);
    all += line;
    if (r < kConsoleRows) all += '\n';
  }
  return all;
}

}  // namespace kestrane
