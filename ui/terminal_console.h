// The console on a real terminal (ncurses): the 80x25 screen drawn at the top left of the
// terminal, bright white on blue, with modal list boxes drawn over it and the mouse where
// the terminal reports it. The terminal is restored on every way out of the program.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>

#include "ui/terminal_input.h"
#include "ui/console.h"
#include "ui/list_box_model.h"
#include "ui/screen_buffer.h"

namespace kestrane {

// Thrown out of the console when the user quits at the "terminal too small" notice; the
// terminal is given back when the console goes.
class QuitAtSmallTerminal : public std::runtime_error {
 public:
  QuitAtSmallTerminal() : std::runtime_error("quit at the terminal-too-small notice") {}
};

// Thrown out of the console when the terminal gives no more input (it was closed).
class TerminalGone : public std::runtime_error {
 public:
  TerminalGone() : std::runtime_error("the terminal gives no more input") {}
};

// Only one may exist at a time; check terminal_problem() (platform/terminal_session.h)
// before making one. The constructor takes the terminal (see start_terminal_session) and sets
// the size (see set_size); the destructor gives the terminal back, at its earlier size.
// Waiting for a key or in a list box, a terminal made too small shows the notice again; q or
// Esc there throws QuitAtSmallTerminal. Throws std::runtime_error if curses cannot start.
class TerminalConsole final : public Console {
 public:
  TerminalConsole();
  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  // Only 80x25 exists, whatever size is given: a smaller terminal is asked for 80x25 (see
  // request_terminal_size) and given half a second to follow; while it is still smaller, a
  // notice says so and how to enlarge it, until it is enlarged.
  void set_size(int columns, int rows) override;
  void set_colours(Colour foreground, Colour background) override;
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
  // Drops the keys typed so far and not yet read.
  void discard_typeahead() override;
  ListBoxResult list_box(const ListBoxRequest& request) override;

  const ScreenBuffer& screen() const { return screen_; }
  const std::string& title() const { return title_; }

 private:
  void paint();
  void paint_if_due();

  ScreenBuffer screen_;
  std::string title_;
  const ListBoxModel* open_box_ = nullptr;  // drawn over the screen while shown
  TerminalInput input_;
  std::chrono::steady_clock::time_point last_paint_{};
};

}  // namespace kestrane
