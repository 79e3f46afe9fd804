// The terminal taken for the full-screen display and given back on every way out: the
// ordinary end, SIGINT and the other quit signals, fatal signals, std::terminate and exit.
#include "platform/terminal_session.h"

#include <curses.h>
#include <signal.h>
#include <term.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <vector>

#include "platform/file_services.h"
#include "platform/interrupt_note.h"
#include "platform/mapped_input.h"

namespace kestrane {
namespace {

// The signal handlers may use only async-signal-safe calls, so the bytes that put the
// terminal back and the modes it had are prepared beforehand.
volatile sig_atomic_t g_curses_active = 0;
termios g_saved_modes{};
bool g_have_saved_modes = false;
std::array<char, 512> g_reset_bytes{};
size_t g_reset_length = 0;

constexpr std::array kFatalSignals = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
// The actions the handlers replaced, by signal number, put back when the session ends.
std::array<struct sigaction, NSIG> g_previous_actions{};
std::array<bool, NSIG> g_replaced{};
std::terminate_handler g_previous_terminate = nullptr;
// The window operation that gives the terminal back the size it had before the session
// asked for a larger one; empty when it asked for none or the terminal did not follow.
std::array<char, 32> g_size_back{};
bool g_hooks_registered = false;

// Async-signal-safe: writes the prepared reset bytes and restores the saved modes.
void restore_terminal_raw() {
  if (!g_curses_active) return;
  g_curses_active = 0;
  write_all(STDOUT_FILENO, std::string_view(g_reset_bytes.data(), g_reset_length));
  if (g_have_saved_modes) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_saved_modes);
}

// A quit signal ends the process by that signal, with its default action, once the terminal
// is back and the note of an interrupted run (what it leaves behind) is written below it. A
// fatal signal goes on to whoever had it before (the default action, or a sanitizer). Either
// way the signal stays blocked until the handler returns, and is delivered then.
extern "C" void on_signal(int sig) {
  // A SIGBUS of a dose-rate file cut short on another thread is taken on the main thread,
  // which draws the screen: the terminal is put back and the message written with no drawing
  // in between.
  if (sig == SIGBUS) hand_shortened_input_to_main_thread(sig);
  restore_terminal_raw();
  const bool fatal =
      std::find(kFatalSignals.begin(), kFatalSignals.end(), sig) != kFatalSignals.end();
  if (!fatal) write_interrupt_note(STDERR_FILENO);
  if (fatal && g_replaced[static_cast<size_t>(sig)]) {
    ::sigaction(sig, &g_previous_actions[static_cast<size_t>(sig)], nullptr);
  } else {
    ::signal(sig, SIG_DFL);
  }
  ::raise(sig);
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

void on_terminate() {
  end_terminal_session();
  if (g_previous_terminate != nullptr) g_previous_terminate();
  std::abort();
}

void end_at_exit() { end_terminal_session(); }

void append_reset(const char* bytes) {
  if (bytes == nullptr) return;
  size_t n = std::strlen(bytes);
  if (g_reset_length + n > g_reset_bytes.size()) return;
  std::memcpy(g_reset_bytes.data() + g_reset_length, bytes, n);
  g_reset_length += n;
}

}  // namespace

const char* terminal_capability(const char* name) {
  char* value = tigetstr(const_cast<char*>(name));
  if (value == nullptr || value == reinterpret_cast<char*>(-1)) return nullptr;
  return value;
}

std::string terminal_problem() {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    return "standard input and output must be a terminal.\n"
           "For scripted runs use kestrane-batch.";
  }
  constexpr const char* kWhatToDo =
      "\nSet TERM to the type of your terminal (for instance TERM=xterm-256color),\n"
      "or use kestrane-batch for scripted runs.";
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0') return std::string("TERM is not set.") + kWhatToDo;
  int error = 0;
  if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) {
    return "TERM=" + std::string(term) + " names a terminal type unknown here." + kWhatToDo;
  }
  const bool can_move = terminal_capability("cup") != nullptr;
  del_curterm(cur_term);
  if (!can_move) {
    return "TERM=" + std::string(term) + " names a terminal that cannot place the cursor." +
           kWhatToDo;
  }
  return {};
}

void start_terminal_session() {
  if (g_curses_active) throw std::logic_error("only one terminal session may be open");
  g_have_saved_modes = ::tcgetattr(STDIN_FILENO, &g_saved_modes) == 0;
  install_signal_handlers();
  if (newterm(nullptr, stdout, stdin) == nullptr) {
    remove_signal_handlers();
    throw std::runtime_error("cannot start the terminal");
  }
  g_curses_active = 1;
  prepare_terminal_reset();
  if (!g_hooks_registered) {
    std::atexit(end_at_exit);
    g_previous_terminate = std::set_terminate(on_terminate);
    g_hooks_registered = true;
  }
}

void end_terminal_session() {
  if (!g_curses_active) return;
  mousemask(0, nullptr);
  endwin();
  g_curses_active = 0;
  std::fputs(g_size_back.data(), stdout);
  g_size_back[0] = '\0';
  std::fflush(stdout);
  remove_signal_handlers();
}

bool request_terminal_size(int rows, int cols, int wait_ms) {
  if (!g_curses_active) return false;
  if (LINES >= rows && COLS >= cols) return true;
  const int rows_before = LINES;
  const int columns_before = COLS;
  std::printf("\033[8;%d;%dt", std::max(rows, LINES), std::max(cols, COLS));
  std::fflush(stdout);
  std::vector<int> typed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  bool resized = false;
  while (!resized && std::chrono::steady_clock::now() < deadline) {
    timeout(20);
    const int ch = getch();
    if (ch == KEY_RESIZE) {
      resized = LINES >= rows && COLS >= cols;
    } else if (ch != ERR) {
      typed.push_back(ch);
    }
  }
  timeout(-1);
  for (auto key = typed.rbegin(); key != typed.rend(); ++key) ungetch(*key);
  if (resized) {
    std::snprintf(g_size_back.data(), g_size_back.size(), "\033[8;%d;%dt", rows_before,
                  columns_before);
    prepare_terminal_reset();
  }
  return resized;
}

bool terminal_session_open() { return g_curses_active != 0; }

// The bytes a signal handler writes: attributes and colours off, mouse reports off, cursor
// shown, keypad mode off, the normal screen back (or the cursor to the bottom line), and the
// terminal's earlier size where the session changed it.
void prepare_terminal_reset() {
  g_reset_length = 0;
  append_reset(terminal_capability("sgr0"));
  append_reset(terminal_capability("op"));
  if (terminal_capability("kmous") != nullptr) append_reset("\033[?1006l\033[?1002l\033[?1000l");
  append_reset(terminal_capability("cnorm"));
  append_reset(terminal_capability("rmkx"));
  if (const char* rmcup = terminal_capability("rmcup")) {
    append_reset(rmcup);
  } else if (const char* cup = terminal_capability("cup")) {
    append_reset(tiparm(cup, LINES - 1, 0));
    append_reset("\r\n");
  }
  append_reset(g_size_back.data());
}

}  // namespace kestrane
