// The console on an ncurses terminal, and the restoring of the terminal on every way out.
// This is the one file of the program that includes curses.
#include "platform/terminal_console.h"

#include <curses.h>
#include <signal.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <stdexcept>
#include <utility>

// term.h defines macros named after every terminfo capability; the ones below clash with
// ordinary words of this file (the list-box keys were declared before it, in the header).
#undef lines
#undef columns
#undef tab
#undef back_tab

namespace kestrane {
namespace {

// ---------------------------------------------------------------------------------------
// Restoring the terminal. The signal handlers may use only async-signal-safe calls, so the
// bytes that put the terminal back and the modes it had are prepared beforehand.

volatile sig_atomic_t g_curses_active = 0;
termios g_saved_modes{};
bool g_have_saved_modes = false;
std::array<char, 512> g_reset_bytes{};
size_t g_reset_length = 0;

constexpr std::array kQuitSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::array kFatalSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// The actions the handlers replaced, by signal number, put back when curses ends.
std::array<struct sigaction, NSIG> g_previous_actions{};
std::array<bool, NSIG> g_replaced{};
std::terminate_handler g_previous_terminate = nullptr;
bool g_exit_hook_registered = false;
bool g_console_exists = false;

bool is_fatal(int sig) {
  for (int fatal : kFatalSignals) {
    if (fatal == sig) return true;
  }
  return false;
}

// Async-signal-safe: writes the prepared reset bytes and restores the saved modes.
void restore_terminal_raw() {
  if (!g_curses_active) return;
  g_curses_active = 0;
  size_t done = 0;
  while (done < g_reset_length) {
    ssize_t n = ::write(STDOUT_FILENO, g_reset_bytes.data() + done, g_reset_length - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (g_have_saved_modes) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_modes);
}

extern "C" void on_signal(int sig) {
  restore_terminal_raw();
  if (is_fatal(sig)) {
    // Hand the signal on to whoever had it before (the default action, or a sanitizer).
    if (g_replaced[static_cast<size_t>(sig)]) {
      ::sigaction(sig, &g_previous_actions[static_cast<size_t>(sig)], nullptr);
    } else {
      ::signal(sig, SIG_DFL);
    }
    ::raise(sig);
    return;
  }
  ::_exit(128 + sig);
}

void install_signal_handlers() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int sig : kQuitSignals) {
    struct sigaction previous {};
    ::sigaction(sig, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // left ignored, as the caller wanted
    g_previous_actions[static_cast<size_t>(sig)] = previous;
    g_replaced[static_cast<size_t>(sig)] = true;
    ::sigaction(sig, &action, nullptr);
  }
  for (int sig : kFatalSignals) {
    struct sigaction previous {};
    ::sigaction(sig, &action, &previous);
    g_previous_actions[static_cast<size_t>(sig)] = previous;
    g_replaced[static_cast<size_t>(sig)] = true;
  }
}

void remove_signal_handlers() {
  for (int sig = 1; sig < NSIG; ++sig) {
    if (!g_replaced[static_cast<size_t>(sig)]) continue;
    ::sigaction(sig, &g_previous_actions[static_cast<size_t>(sig)], nullptr);
    g_replaced[static_cast<size_t>(sig)] = false;
  }
}

// The ordinary way back: curses ends the screen itself.
void end_curses() {
  if (!g_curses_active) return;
  mousemask(0, nullptr);
  endwin();
  g_curses_active = 0;
  std::fflush(stdout);
  remove_signal_handlers();
}

[[noreturn]] void restore_and_exit(int status) {
  end_curses();
  std::exit(status);
}

void on_terminate() {
  end_curses();
  if (g_previous_terminate != nullptr) g_previous_terminate();
  std::abort();
}

void append_reset(const char* bytes) {
  if (bytes == nullptr || bytes == reinterpret_cast<const char*>(-1)) return;
  size_t n = std::strlen(bytes);
  if (g_reset_length + n > g_reset_bytes.size()) return;
  std::memcpy(g_reset_bytes.data() + g_reset_length, bytes, n);
  g_reset_length += n;
}

const char* capability(const char* name) {
  char* value = tigetstr(const_cast<char*>(name));
  if (value == nullptr || value == reinterpret_cast<char*>(-1)) return nullptr;
  return value;
}

// The bytes a signal handler writes: attributes and colours off, mouse reports off, cursor
// shown, keypad mode off, the normal screen back (or the cursor to the bottom line).
void prepare_reset_bytes() {
  g_reset_length = 0;
  append_reset(capability("sgr0"));
  append_reset(capability("op"));
  if (capability("kmous") != nullptr) append_reset("\033[?1006l\033[?1002l\033[?1000l");
  append_reset(capability("cnorm"));
  append_reset(capability("rmkx"));
  if (const char* rmcup = capability("rmcup")) {
    append_reset(rmcup);
  } else if (const char* cup = capability("cup")) {
    append_reset(tiparm(cup, LINES - 1, 0));
    append_reset("\r\n");
  }
}

// ---------------------------------------------------------------------------------------
// Colours. The console palette numbers colours with blue in bit 0 and red in bit 2,
// curses the other way round; bit 3 is brightness.

std::map<std::pair<int, int>, short> g_pairs;

short curses_colour(int console_colour) {
  int c = console_colour & 15;
  int base = ((c & 1) << 2) | (c & 2) | ((c & 4) >> 2);
  if ((c & 8) != 0 && COLORS >= 16) base += 8;
  return static_cast<short>(base);
}

attr_t colour_attr(int foreground, int background) {
  if (!has_colors()) return A_NORMAL;
  std::pair key{foreground & 15, background & 15};
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
  if ((foreground & 8) != 0 && COLORS < 16) attr |= A_BOLD;
  return attr;
}

constexpr int kBoxForeground = 0;    // black
constexpr int kBoxBackground = 7;    // on light grey
constexpr int kMarkForeground = 15;  // bright white
constexpr int kMarkBackground = 1;   // on blue
constexpr int kDimBackground = 3;    // cyan

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

bool too_small() { return LINES < kConsoleRows || COLS < kConsoleColumns; }

// Waits while the terminal is smaller than the screen; q or Esc quits.
void wait_until_big_enough() {
  bool waited = false;
  int errors = 0;
  while (too_small()) {
    waited = true;
    curs_set(0);
    attrset(A_NORMAL);
    erase();
    mvprintw(0, 0, "Kestrane needs a terminal of 80x25; this one is %dx%d.", COLS, LINES);
    mvaddstr(1, 0, "Enlarge it, or press q to quit.");
    ::refresh();
    int ch = getch();
    if (ch == 'q' || ch == 'Q' || ch == 27) restore_and_exit(kExitQuitSmall);
    if (ch == ERR && ++errors > 100) restore_and_exit(1);  // input is gone for good
  }
  if (waited) {
    attrset(A_NORMAL);
    clear();  // the whole terminal is drawn anew
  }
}

// A key from the terminal. A resize is handled here and not returned; a lost terminal ends
// the program.
int read_key() {
  int errors = 0;
  for (;;) {
    int ch = getch();
    if (ch == KEY_RESIZE) {
      wait_until_big_enough();
      prepare_reset_bytes();  // the bottom line may have moved
      attrset(A_NORMAL);
      clear();
      return KEY_RESIZE;
    }
    if (ch != ERR) return ch;
    if (++errors > 100) restore_and_exit(1);  // input is gone for good
  }
}

std::optional<KeyPress> list_key(int ch) {
  switch (ch) {
    case KEY_UP:
      return KeyPress{ListKey::up};
    case KEY_DOWN:
      return KeyPress{ListKey::down};
    case KEY_PPAGE:
      return KeyPress{ListKey::page_up};
    case KEY_NPAGE:
      return KeyPress{ListKey::page_down};
    case KEY_HOME:
    case KEY_A1:
      return KeyPress{ListKey::home};
    case KEY_END:
    case KEY_C1:
      return KeyPress{ListKey::end};
    case KEY_LEFT:
      return KeyPress{ListKey::left};
    case KEY_RIGHT:
      return KeyPress{ListKey::right};
    case '\t':
      return KeyPress{ListKey::tab};
    case KEY_BTAB:
      return KeyPress{ListKey::back_tab};
    case ' ':
      return KeyPress{ListKey::space};
    case '\n':
    case '\r':
    case KEY_ENTER:
      return KeyPress{ListKey::enter};
    case 27:
      return KeyPress{ListKey::escape};
    default:
      if (ch > ' ' && ch < 0x7f) return KeyPress{ListKey::character, static_cast<char>(ch)};
      return std::nullopt;
  }
}

}  // namespace

// -----------------------------------------------------------------------------------------

int check_interactive_terminal() {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    std::fputs(
        "kestrane: standard input and output must be a terminal.\n"
        "For scripted runs use kestrane-batch.\n",
        stderr);
    return kExitNotATerminal;
  }
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0') {
    std::fputs(
        "kestrane: TERM is not set; set it to your terminal's type (for instance "
        "xterm-256color).\n",
        stderr);
    return kExitNotATerminal;
  }
  int error = 0;
  if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) {
    std::fprintf(stderr,
                 "kestrane: the terminal type \"%s\" is unknown; set TERM to your terminal's "
                 "type (for instance xterm-256color).\n",
                 term);
    return kExitNotATerminal;
  }
  bool can_move = capability("cup") != nullptr;
  del_curterm(cur_term);
  if (!can_move) {
    std::fprintf(stderr,
                 "kestrane: the terminal type \"%s\" cannot place the cursor; use a full-screen "
                 "terminal, or kestrane-batch for scripted runs.\n",
                 term);
    return kExitNotATerminal;
  }
  return 0;
}

TerminalConsole::TerminalConsole() {
  if (g_console_exists) throw std::logic_error("only one terminal console may exist");
  g_have_saved_modes = ::tcgetattr(STDIN_FILENO, &g_saved_modes) == 0;
  install_signal_handlers();
  if (newterm(nullptr, stdout, stdin) == nullptr) {
    remove_signal_handlers();
    throw std::runtime_error("cannot start the terminal");
  }
  g_console_exists = true;
  g_curses_active = 1;
  prepare_reset_bytes();
  if (!g_exit_hook_registered) {
    std::atexit(end_curses);
    g_previous_terminate = std::set_terminate(on_terminate);
    g_exit_hook_registered = true;
  }
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  mouseinterval(0);
  if (has_colors()) start_color();
  g_pairs.clear();
  wait_until_big_enough();
  paint();
}

TerminalConsole::~TerminalConsole() {
  end_curses();
  g_console_exists = false;
}

void TerminalConsole::set_size(int /*columns*/, int /*rows*/) {}

void TerminalConsole::set_colours(int foreground, int background) {
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
  if (!g_curses_active) return;
  // tiparm's result lives in a buffer of curses until its next call, which comes after use.
  const char* start = nullptr;
  const char* end = nullptr;
  const char* tsl = capability("tsl");
  const char* fsl = capability("fsl");
  const char* term = std::getenv("TERM");
  if (tsl != nullptr && fsl != nullptr) {
    start = tiparm(tsl, 0);
    end = fsl;
  } else if (term != nullptr &&
             (std::strncmp(term, "xterm", 5) == 0 || std::strncmp(term, "rxvt", 4) == 0)) {
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
  if (!g_curses_active || too_small()) return;
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

ListBoxResult TerminalConsole::list_box(const ListBoxRequest& request) {
  ListBoxModel model(request);
  open_box_ = &model;
  mousemask(BUTTON1_PRESSED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
  auto last_press_time = std::chrono::steady_clock::time_point{};
  int last_press_item = -1;
  try {
    while (!model.closed()) {
      paint();
      int ch = read_key();
      if (ch == KEY_MOUSE) {
        MEVENT event{};
        if (getmouse(&event) != OK) continue;
        MouseEvent mouse{MouseEvent::Action::press, event.y + 1, event.x + 1};
        if ((event.bstate & BUTTON4_PRESSED) != 0) {
          mouse.action = MouseEvent::Action::wheel_up;
        } else if ((event.bstate & BUTTON5_PRESSED) != 0) {
          mouse.action = MouseEvent::Action::wheel_down;
        } else if ((event.bstate & BUTTON1_PRESSED) != 0) {
          // Two presses on the same row within 400 ms are a double press.
          auto now = std::chrono::steady_clock::now();
          if (last_press_item == mouse.row &&
              now - last_press_time < std::chrono::milliseconds(400)) {
            mouse.action = MouseEvent::Action::double_press;
            last_press_item = -1;
          } else {
            last_press_item = mouse.row;
            last_press_time = now;
          }
        } else {
          continue;
        }
        model.handle_mouse(mouse);
      } else if (auto key = list_key(ch)) {
        model.handle_key(*key);
      }
    }
  } catch (...) {
    open_box_ = nullptr;
    mousemask(0, nullptr);
    throw;
  }
  open_box_ = nullptr;
  mousemask(0, nullptr);
  paint();
  return model.result();
}

}  // namespace kestrane
