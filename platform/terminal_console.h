// The console on a real terminal (ncurses): the 80x25 screen drawn at the top left of the
// terminal, bright white on blue, with modal list boxes drawn over it and the mouse where
// the terminal reports it. The terminal is restored on every way out of the program.
#pragma once

#include <chrono>
#include <string>

#include "platform/console.h"
#include "platform/list_box_model.h"
#include "platform/screen_buffer.h"

namespace kestrane {

// Exit statuses of the terminal front end's bad surroundings.
inline constexpr int kExitNotATerminal = 2;  // standard input or output is no terminal
inline constexpr int kExitQuitSmall = 1;     // the user quit at the "terminal too small" notice

// To be called before a TerminalConsole is made. Returns 0 when standard input and output
// are terminals of a known type that can position the cursor; otherwise writes a message
// to standard error (for scripted runs, use kestrane-batch) and returns kExitNotATerminal.
int check_interactive_terminal();

// Only one may exist at a time. The constructor starts curses, installs the handlers that
// restore the terminal on SIGINT, SIGTERM, SIGHUP, SIGQUIT (exit status 128 + signal), on
// fatal signals (then re-raised) and on std::terminate and exit, and waits while the
// terminal is smaller than 80x25, showing a notice; q or Esc there restores the terminal
// and exits with kExitQuitSmall. It throws std::runtime_error if curses cannot start.
class TerminalConsole final : public Console {
 public:
  TerminalConsole();
  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  // Only 80x25 exists; other sizes are ignored.
  void set_size(int columns, int rows) override;
  void set_colours(int foreground, int background) override;
  void clear() override;
  // A position off the 80x25 screen is ignored, as a console does.
  void move_to(int row, int column) override;
  // Output is kept in the screen and drawn on refresh, at a key wait, at a list box, and
  // at most every few hundredths of a second while text is written.
  void write_text(std::string_view text) override;
  void line_break() override;
  int cursor_row() const override { return screen_.row(); }
  int cursor_column() const override { return screen_.column(); }
  // Sets the terminal's title where it has a title line (terminfo tsl/fsl, or an xterm-like
  // TERM); elsewhere the title is only kept.
  void set_title(std::string_view title) override;
  void refresh() override;
  void wait_for_key() override;
  ListBoxResult list_box(const ListBoxRequest& request) override;

  const ScreenBuffer& screen() const { return screen_; }
  const std::string& title() const { return title_; }

 private:
  void paint();
  void paint_if_due();

  ScreenBuffer screen_;
  std::string title_;
  const ListBoxModel* open_box_ = nullptr;  // drawn over the screen while shown
  std::chrono::steady_clock::time_point last_paint_{};
};

}  // namespace kestrane
