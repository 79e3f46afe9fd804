// An in-memory console for tests and scripted runs: an 80x25 screen of cells, scripted
// keys and list-box answers, and a record of the title and of every list box shown.
#pragma once

#include <deque>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "ui/console.h"
#include "ui/list_box_model.h"
#include "ui/screen_buffer.h"

namespace kestrane {

// Thrown when the program waits for a key or opens a list box that the script has no
// answer for, or when scripted list-box keys leave the box open.
class ScriptExhausted : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A list box as it was asked for, copied, with the result it gave.
struct RecordedListBox {
  std::string heading;
  std::string instruction;
  std::vector<std::string> items;
  ListBoxMode mode = ListBoxMode::single_choice;
  ListBoxResult result;
};

class MemoryConsole final : public Console {
 public:
  MemoryConsole() = default;

  // Console. set_size records the size asked for; only 80x25 exists. move_to throws
  // std::out_of_range for a position off the screen (the real console ignores it, but a
  // test should hear of it).
  void set_size(int columns, int rows) override;
  void set_colours(Colour foreground, Colour background) override;
  void clear() override;
  void move_to(int row, int column) override;
  void write_text(std::string_view text) override;
  void line_break() override;
  int cursor_row() const override { return screen_.row(); }
  int cursor_column() const override { return screen_.column(); }
  void set_title(std::string_view title) override;
  void refresh() override {}
  // Consumes one scripted key and keeps a copy of the screen as it stood; throws
  // ScriptExhausted when no key is left.
  void wait_for_key() override;
  // Records the request and answers with the next scripted answer: a given choice, or
  // inputs fed to a ListBoxModel of the request (which must close it). Throws
  // ScriptExhausted when no answer is left.
  ListBoxResult list_box(const ListBoxRequest& request) override;

  // Script.
  void push_keys(int count = 1) { keys_ += count; }
  // The item numbers the next list box gives, in marking order; none: closed without a
  // choice.
  void push_list_box_choice(std::vector<int> items);
  // A script of key names, as keys_from_text reads it ("Down Space Enter").
  void push_list_box_keys(std::string_view script);
  void push_list_box_inputs(std::vector<ListBoxInput> inputs);
  int keys_left() const { return keys_; }
  size_t list_box_answers_left() const { return answers_.size(); }

  // What happened.
  const ScreenBuffer& screen() const { return screen_; }
  std::string row_text(int row) const { return screen_.row_text(row); }
  // `length` characters of a row from `column` on.
  std::string text_at(int row, int column, int length) const;
  char char_at(int row, int column) const { return screen_.cell(row, column).ch; }
  Colour foreground_at(int row, int column) const { return screen_.cell(row, column).foreground; }
  Colour background_at(int row, int column) const { return screen_.cell(row, column).background; }
  const std::string& title() const { return title_; }
  int columns() const { return columns_; }
  int rows() const { return rows_; }
  const std::vector<RecordedListBox>& list_boxes() const { return list_boxes_; }
  // The screen at each wait for a key, in order.
  const std::vector<ScreenBuffer>& key_waits() const { return key_waits_; }
  // The calls that change the window as a whole, in order: "set_size 80 25",
  // "set_title <text>", "set_colours 15 1" (the colours by their palette numbers), "clear",
  // "wait_for_key", "list_box".
  const std::vector<std::string>& calls() const { return calls_; }

 private:
  ScreenBuffer screen_;
  std::string title_;
  int columns_ = kConsoleColumns;
  int rows_ = kConsoleRows;
  int keys_ = 0;
  std::deque<std::variant<ListBoxResult, std::vector<ListBoxInput>>> answers_;
  std::vector<RecordedListBox> list_boxes_;
  std::vector<ScreenBuffer> key_waits_;
  std::vector<std::string> calls_;
};

}  // namespace kestrane
