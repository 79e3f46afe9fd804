// Keys and mouse reports of the terminal turned into the inputs of a list box.
#pragma once

#include <chrono>
#include <optional>

#include "ui/list_box_model.h"

namespace kestrane {

class TerminalInput {
 public:
  // Asks the terminal for the mouse reports a list box uses: presses and releases of the left
  // and right buttons (with or without Ctrl) and the wheel. `disable_mouse` turns them off again.
  static void enable_mouse();
  static void disable_mouse();

  // The list-box input of a key read from curses; for KEY_MOUSE, of the mouse report waiting
  // to be fetched. Nothing for a key or report a list box does not use. A left press is a
  // press, or a double press when it follows one on the same row within 400 ms; a Ctrl +
  // right press is a mark; a right press without Ctrl does nothing. A Ctrl + click counts
  // once: at its press, or at its release when curses handed back no press (press and
  // release read together); other releases do nothing.
  std::optional<ListBoxInput> list_box_input(int key);

 private:
  std::optional<ListBoxInput> mouse_input();

  std::chrono::steady_clock::time_point last_press_time_{};
  int last_press_row_ = -1;
  bool ctrl_press_seen_ = false;  // the last report was a Ctrl press: its release is spent
};

}  // namespace kestrane
