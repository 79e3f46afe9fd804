// Curses keys and mouse reports decoded into list-box keys and mouse events.
#include "ui/terminal_input.h"

#include <curses.h>

namespace kestrane {
namespace {

constexpr int kEscape = 27;
constexpr auto kDoublePressTime = std::chrono::milliseconds(400);

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
    case kEscape:
      return KeyPress{ListKey::escape};
    default:
      if (ch > ' ' && ch < 0x7f) return KeyPress{ListKey::character, static_cast<char>(ch)};
      return std::nullopt;
  }
}

}  // namespace

// The releases are asked for too: when the press and the release of a click reach curses in
// one read, it hands back only the release, and a Ctrl + click is then known by that alone.
void TerminalInput::enable_mouse() {
  mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON3_PRESSED | BUTTON3_RELEASED |
                BUTTON4_PRESSED | BUTTON5_PRESSED | BUTTON_CTRL,
            nullptr);
}

void TerminalInput::disable_mouse() { mousemask(0, nullptr); }

std::optional<ListBoxInput> TerminalInput::list_box_input(int key) {
  if (key == KEY_MOUSE) return mouse_input();
  if (auto press = list_key(key)) return ListBoxInput{*press};
  return std::nullopt;
}

std::optional<ListBoxInput> TerminalInput::mouse_input() {
  MEVENT event{};
  if (getmouse(&event) != OK) return std::nullopt;
  MouseEvent mouse{MouseEvent::Action::press, event.y + 1, event.x + 1};
  mmask_t state = event.bstate;
  const bool ctrl = (state & BUTTON_CTRL) != 0;
  constexpr mmask_t kPresses = BUTTON1_PRESSED | BUTTON3_PRESSED;
  constexpr mmask_t kReleases = BUTTON1_RELEASED | BUTTON3_RELEASED;
  if ((state & kPresses) == 0 && (state & kReleases) != 0) {
    // A release counts only as the Ctrl + click whose press was not handed back.
    const bool press_seen = ctrl_press_seen_;
    ctrl_press_seen_ = false;
    if (!ctrl || press_seen) return std::nullopt;
    state |= (state & BUTTON1_RELEASED) != 0 ? BUTTON1_PRESSED : BUTTON3_PRESSED;
  } else if ((state & kPresses) != 0) {
    // A press handed back with its release in one report is a whole click: no release follows.
    // Other reports (the wheel, or any that carries only the Ctrl bit) leave the state alone.
    ctrl_press_seen_ = ctrl && (state & kReleases) == 0;
  }
  if ((state & BUTTON4_PRESSED) != 0) {
    mouse.action = MouseEvent::Action::wheel_up;
  } else if ((state & BUTTON5_PRESSED) != 0) {
    mouse.action = MouseEvent::Action::wheel_down;
  } else if ((state & BUTTON3_PRESSED) != 0 && ctrl) {
    mouse.action = MouseEvent::Action::mark;
  } else if ((state & BUTTON1_PRESSED) != 0) {
    const auto now = std::chrono::steady_clock::now();
    if (last_press_row_ == mouse.row && now - last_press_time_ < kDoublePressTime) {
      mouse.action = MouseEvent::Action::double_press;
      last_press_row_ = -1;
    } else {
      last_press_row_ = mouse.row;
      last_press_time_ = now;
    }
  } else {
    return std::nullopt;
  }
  return ListBoxInput{mouse};
}

}  // namespace kestrane
