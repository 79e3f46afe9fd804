// The list box as pure state: items, highlight, scroll window, marks in marking order,
// focus, key and mouse handling, the choice, and the picture of the box on the 80x25
// screen. Consoles draw the picture and feed in keys; nothing here does any I/O.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ui/console.h"

namespace kestrane {

enum class ListKey {
  up,
  down,
  page_up,
  page_down,
  home,
  end,
  left,
  right,
  tab,
  back_tab,
  space,
  enter,
  escape,
  character,  // a printable character other than the blank: jumps to an item
};

struct KeyPress {
  ListKey key = ListKey::enter;
  char ch = 0;  // the character of ListKey::character
  bool operator==(const KeyPress&) const = default;
};

// A mouse event at a screen position (row 1..25, column 1..80). `mark` is a press that only
// marks or unmarks an item of a multiple-choice box (the terminal's Ctrl + right click).
struct MouseEvent {
  enum class Action { press, double_press, mark, wheel_up, wheel_down };
  Action action = Action::press;
  int row = 0;
  int column = 0;
  bool operator==(const MouseEvent&) const = default;
};

using ListBoxInput = std::variant<KeyPress, MouseEvent>;

// Reads a script of blank-separated key names into inputs, for tests and scripted runs:
// Up Down PgUp PgDn Home End Left Right Tab BTab Space Enter Esc, or a single character
// (a letter jump). Throws std::invalid_argument on an unknown name.
std::vector<ListBoxInput> keys_from_text(std::string_view script);

// A rectangle on the screen, 1-based.
struct ScreenRect {
  int row = 0;
  int column = 0;
  int height = 0;
  int width = 0;
  bool contains(int r, int c) const {
    return r >= row && r < row + height && c >= column && c < column + width;
  }
};

enum class BoxStyle {
  body,          // text of the box
  highlight,     // the highlighted item while the list has the focus, a focused button
  highlight_dim  // the highlighted item while a button has the focus
};

struct BoxSpan {
  int row = 0;
  int column = 0;
  std::string text;
  BoxStyle style = BoxStyle::body;
};

// What to draw: fill `frame` with the box colour and draw its border, draw a horizontal
// rule across the box at each separator row, then the spans over it.
struct BoxPicture {
  ScreenRect frame;
  std::vector<int> separator_rows;
  std::vector<BoxSpan> spans;
};

// The picture laid out in plain characters ('+', '-', '|' for the frame), one string per
// box row, for tests and for consoles without line drawing.
std::vector<std::string> picture_rows(const BoxPicture& picture);

class ListBoxModel {
 public:
  enum class Focus { list, ok, cancel };

  // Most item rows shown at once; more items scroll.
  static constexpr int kMaxVisibleItems = 15;

  // Copies the request.
  explicit ListBoxModel(const ListBoxRequest& request);
  ListBoxModel(std::string heading, std::string instruction, std::vector<std::string> items,
               ListBoxMode mode);

  // Keys (dialog(1) conventions):
  //   Up/Down, Page Up/Down, Home/End move the highlight; a character jumps to the next item
  //   whose first non-blank character is that one, ignoring letter case and wrapping round;
  //   Space marks or unmarks the highlighted item in multiple mode; Tab/Back-Tab move the focus
  //   round list, OK and Cancel, Left/Right between the buttons; Enter closes with the
  //   choice (as Cancel on the Cancel button); Esc closes without a choice.
  // Mouse:
  //   a press on an item highlights it, and in multiple mode also marks or unmarks it; a double
  //   press on an item in single-choice mode chooses it and closes; a press on OK or Cancel
  //   acts as those buttons; the wheel moves the highlight; a mark on an item in mode 3
  //   marks or unmarks it as a press does. Elsewhere nothing happens.
  // Inputs after the box has closed are ignored.
  void handle(const ListBoxInput& input);
  void handle_key(const KeyPress& key);
  void handle_mouse(const MouseEvent& event);

  bool closed() const { return closed_; }
  // The choice once closed: in single-choice mode the highlighted item; in multiple-choice
  // mode the marked items in the order marked, or the highlighted item when none is marked.
  // Empty when closed without a choice, or while still open.
  ListBoxResult result() const;

  bool multiple() const { return multiple_; }
  int item_count() const { return static_cast<int>(items_.size()); }
  int highlighted() const { return highlighted_; }  // item number 1..n; 0 without items
  int top() const { return top_; }                  // item number of the first row shown
  int visible_rows() const { return visible_; }
  // Item numbers in the order they were marked.
  const std::vector<int>& marks() const { return marks_; }
  // Position 1.. of `item` in the marking order; 0 when not marked.
  int mark_order(int item) const;
  Focus focus() const { return focus_; }
  const std::string& key_help() const;

  // Where things stand on the screen.
  ScreenRect frame() const { return frame_; }
  // Screen row of an item, 0 when the item is scrolled out of view.
  int item_row(int item) const;
  ScreenRect ok_button() const;
  ScreenRect cancel_button() const;

  BoxPicture picture() const;

 private:
  void lay_out();
  void move_to_item(int item);
  void toggle_mark(int item);
  void jump_to_character(char ch);
  void accept();
  void cancel();
  std::string item_label(int item) const;

  std::string heading_;
  std::string instruction_;
  std::vector<std::string> items_;
  bool multiple_ = false;

  int highlighted_ = 0;
  int top_ = 1;
  int visible_ = 1;
  std::vector<int> marks_;
  Focus focus_ = Focus::list;
  bool closed_ = false;
  bool chosen_ = false;

  ScreenRect frame_;
  int inner_width_ = 0;
  int mark_digits_ = 1;
  int first_item_row_ = 0;
  int help_row_ = 0;
  int button_row_ = 0;
};

}  // namespace kestrane
