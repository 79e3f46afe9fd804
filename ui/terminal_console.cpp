// The console on an ncurses terminal: the screen and list boxes painted, keys waited for,
// and the notice shown while the terminal is too small.
#include "ui/terminal_console.h"

#include <curses.h>
#include <term.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/terminal_session.h"

// term.h defines macros named after every terminfo capability; the ones below clash with
// ordinary words of this file (the list-box keys were declared before it, in the header).
#undef lines
#undef columns
#undef tab
#undef back_tab

namespace kestrane {
namespace {

// ---------------------------------------------------------------------------------------
// Colours. The console palette numbers colours with blue in bit 0 and red in bit 2,
// curses the other way round; bit 3 is brightness.

std::map<std::pair<Colour, Colour>, short> g_pairs;

short curses_colour(Colour colour) {
  const int c = palette_number(colour);
  int base = ((c & 1) << 2) | (c & 2) | ((c & 4) >> 2);
  if (is_bright(colour) && COLORS >= 16) base += 8;
  return static_cast<short>(base);
}

attr_t colour_attr(Colour foreground, Colour background) {
  if (!has_colors()) return A_NORMAL;
  std::pair key{foreground, background};
  auto found = g_pairs.find(key);
  short pair = 0;
  if (found != g_pairs.end()) {
    pair = found->second;
  } else if (static_cast<int>(g_pairs.size()) + 1 < COLOR_PAIRS) {
    pair = static_cast<short>(g_pairs.size() + 1);
    init_pair(pair, curses_colour(key.first), curses_colour(key.second));
    g_pairs.emplace(key, pair);
  }
  attr_t attr = COLOR_PAIR(pair);
  if (is_bright(foreground) && COLORS < 16) attr |= A_BOLD;
  return attr;
}

// The list box: black on light grey; the highlighted item bright white on blue, or black on
// cyan while a button has the focus.
constexpr Colour kBoxForeground = Colour::black;
constexpr Colour kBoxBackground = Colour::light_grey;
constexpr Colour kMarkForeground = Colour::bright_white;
constexpr Colour kMarkBackground = Colour::blue;
constexpr Colour kDimBackground = Colour::cyan;

attr_t box_attr(BoxStyle style) {
  if (!has_colors()) {
    switch (style) {
      case BoxStyle::body:
        return A_NORMAL;
      case BoxStyle::highlight:
        return A_REVERSE;
      case BoxStyle::highlight_dim:
        return A_UNDERLINE;
    }
  }
  switch (style) {
    case BoxStyle::body:
      break;
    case BoxStyle::highlight:
      return colour_attr(kMarkForeground, kMarkBackground);
    case BoxStyle::highlight_dim:
      return colour_attr(kBoxForeground, kDimBackground);
  }
  return colour_attr(kBoxForeground, kBoxBackground);
}

chtype shown(char ch) {
  auto byte = static_cast<unsigned char>(ch);
  return (byte >= 0x20 && byte < 0x7f) ? byte : static_cast<chtype>('?');
}

// How long the terminal is given to follow a request for 80x25.
constexpr int kResizeWaitMs = 500;

bool too_small() { return LINES < kConsoleRows || COLS < kConsoleColumns; }

// `text` broken at blanks into rows of at most `width` characters; a word longer than a row
// is cut.
void wrap_into(std::vector<std::string>& rows, std::string_view text, std::size_t width) {
  while (text.size() > width) {
    std::size_t cut = text.rfind(' ', width);
    if (cut == std::string_view::npos || cut == 0) cut = width;
    rows.emplace_back(text.substr(0, cut));
    text.remove_prefix(cut);
    if (text.starts_with(' ')) text.remove_prefix(1);
  }
  rows.emplace_back(text);
}

// The notice of a terminal smaller than the screen, in rows that fit the terminal: the
// whole sentence where it fits, a short form where not, and as much of that as there is room
// for in the smallest.
std::vector<std::string> too_small_notice(int columns, int rows) {
  const std::string size = std::to_string(columns) + "x" + std::to_string(rows);
  const auto width = static_cast<std::size_t>(std::max(columns, 1));
  std::vector<std::string> lines;
  wrap_into(lines, "Kestrane needs a terminal of 80x25; this one is " + size + ".", width);
  wrap_into(lines, "Enlarge it, or press q to quit.", width);
  wrap_into(lines, "From a shell: resize -s 25 80", width);
  if (static_cast<int>(lines.size()) <= rows) return lines;
  lines.clear();
  wrap_into(lines, "Needs 80x25, is " + size + ".", width);
  wrap_into(lines, "q: quit", width);
  if (static_cast<int>(lines.size()) > rows) lines.resize(static_cast<std::size_t>(rows));
  return lines;
}

// Waits while the terminal is smaller than the screen; q or Esc quits.
void wait_until_big_enough() {
  bool waited = false;
  int errors = 0;
  while (too_small()) {
    waited = true;
    curs_set(0);
    attrset(A_NORMAL);
    erase();
    int row = 0;
    for (const std::string& line : too_small_notice(COLS, LINES)) {
      mvaddnstr(row++, 0, line.c_str(), COLS);
    }
    ::refresh();
    int ch = getch();
    if (ch == 'q' || ch == 'Q' || ch == 27) throw QuitAtSmallTerminal();
    if (ch == ERR && ++errors > 100) throw TerminalGone();
  }
  if (waited) {
    attrset(A_NORMAL);
    clear();  // the whole terminal is drawn anew
  }
}

// A key from the terminal. A resize is handled here, and returned as KEY_RESIZE.
int read_key() {
  int errors = 0;
  for (;;) {
    int ch = getch();
    if (ch == KEY_RESIZE) {
      wait_until_big_enough();
      prepare_terminal_reset();  // the bottom line may have moved
      attrset(A_NORMAL);
      clear();
      return KEY_RESIZE;
    }
    if (ch != ERR) return ch;
    if (++errors > 100) throw TerminalGone();
  }
}

}  // namespace

// -----------------------------------------------------------------------------------------

TerminalConsole::TerminalConsole() {
  start_terminal_session();
  try {
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    set_escdelay(25);
    mouseinterval(0);
    if (has_colors()) start_color();
    g_pairs.clear();
    set_size(kConsoleColumns, kConsoleRows);
    paint();
  } catch (...) {
    end_terminal_session();
    throw;
  }
}

TerminalConsole::~TerminalConsole() { end_terminal_session(); }

void TerminalConsole::set_size(int /*columns*/, int /*rows*/) {
  if (!terminal_session_open()) return;
  request_terminal_size(kConsoleRows, kConsoleColumns, kResizeWaitMs);
  wait_until_big_enough();
}

void TerminalConsole::set_colours(Colour foreground, Colour background) {
  screen_.set_colours(foreground, background);
}

void TerminalConsole::clear() {
  screen_.clear();
  paint_if_due();
}

void TerminalConsole::move_to(int row, int column) { screen_.move_to(row, column); }

void TerminalConsole::write_text(std::string_view text) {
  screen_.write_text(text);
  paint_if_due();
}

void TerminalConsole::line_break() { screen_.line_break(); }

void TerminalConsole::set_title(std::string_view title) {
  title_ = std::string(title);
  if (!terminal_session_open()) return;
  // tiparm's result lives in a buffer of curses until its next call, which comes after use.
  const char* start = nullptr;
  const char* end = nullptr;
  const char* tsl = terminal_capability("tsl");
  const char* fsl = terminal_capability("fsl");
  const char* term = std::getenv("TERM");
  if (tsl != nullptr && fsl != nullptr) {
    start = tiparm(tsl, 0);
    end = fsl;
  } else if (term != nullptr && (std::string_view(term).starts_with("xterm") ||
                                 std::string_view(term).starts_with("rxvt"))) {
    start = "\033]0;";
    end = "\007";
  } else {
    return;
  }
  std::string text(start);
  for (char ch : title_) text.push_back(static_cast<char>(shown(ch)));
  text.append(end);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void TerminalConsole::refresh() { paint(); }

void TerminalConsole::paint_if_due() {
  auto now = std::chrono::steady_clock::now();
  if (now - last_paint_ >= std::chrono::milliseconds(40)) paint();
}

void TerminalConsole::paint() {
  last_paint_ = std::chrono::steady_clock::now();
  if (!terminal_session_open() || too_small()) return;
  for (int r = 1; r <= kConsoleRows; ++r) {
    for (int c = 1; c <= kConsoleColumns; ++c) {
      const Cell& cell = screen_.cell(r, c);
      mvaddch(r - 1, c - 1, shown(cell.ch) | colour_attr(cell.foreground, cell.background));
    }
  }
  if (open_box_ != nullptr) {
    BoxPicture picture = open_box_->picture();
    const ScreenRect& f = picture.frame;
    attr_t body = box_attr(BoxStyle::body);
    attrset(body);
    for (int r = f.row; r < f.row + f.height; ++r) mvhline(r - 1, f.column - 1, ' ', f.width);
    mvaddch(f.row - 1, f.column - 1, ACS_ULCORNER | body);
    mvhline(f.row - 1, f.column, ACS_HLINE | body, f.width - 2);
    mvaddch(f.row - 1, f.column + f.width - 2, ACS_URCORNER | body);
    mvvline(f.row, f.column - 1, ACS_VLINE | body, f.height - 2);
    mvvline(f.row, f.column + f.width - 2, ACS_VLINE | body, f.height - 2);
    mvaddch(f.row + f.height - 2, f.column - 1, ACS_LLCORNER | body);
    mvhline(f.row + f.height - 2, f.column, ACS_HLINE | body, f.width - 2);
    mvaddch(f.row + f.height - 2, f.column + f.width - 2, ACS_LRCORNER | body);
    for (int row : picture.separator_rows) {
      mvaddch(row - 1, f.column - 1, ACS_LTEE | body);
      mvhline(row - 1, f.column, ACS_HLINE | body, f.width - 2);
      mvaddch(row - 1, f.column + f.width - 2, ACS_RTEE | body);
    }
    for (const BoxSpan& span : picture.spans) {
      attr_t attr = box_attr(span.style);
      for (size_t i = 0; i < span.text.size(); ++i) {
        mvaddch(span.row - 1, span.column - 1 + static_cast<int>(i), shown(span.text[i]) | attr);
      }
    }
    attrset(A_NORMAL);
    curs_set(0);
  } else {
    attrset(A_NORMAL);
    move(screen_.row() - 1, screen_.column() - 1);
    curs_set(1);
  }
  ::refresh();
}

void TerminalConsole::wait_for_key() {
  for (;;) {
    paint();
    int ch = read_key();
    if (ch != KEY_RESIZE && ch != KEY_MOUSE) return;
  }
}

void TerminalConsole::discard_typeahead() { flushinp(); }

ListBoxResult TerminalConsole::list_box(const ListBoxRequest& request) {
  ListBoxModel model(request);
  open_box_ = &model;
  TerminalInput::enable_mouse();
  try {
    while (!model.closed()) {
      paint();
      if (auto input = input_.list_box_input(read_key())) model.handle(*input);
    }
  } catch (...) {
    open_box_ = nullptr;
    TerminalInput::disable_mouse();
    throw;
  }
  open_box_ = nullptr;
  TerminalInput::disable_mouse();
  paint();
  return model.result();
}

}  // namespace kestrane
