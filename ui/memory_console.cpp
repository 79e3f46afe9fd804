// The in-memory console: screen cells, scripted keys and list-box answers, records.
#include "ui/memory_console.h"

namespace kestrane {

void MemoryConsole::set_size(int columns, int rows) {
  columns_ = columns;
  rows_ = rows;
  calls_.push_back("set_size " + std::to_string(columns) + " " + std::to_string(rows));
}

void MemoryConsole::set_colours(Colour foreground, Colour background) {
  screen_.set_colours(foreground, background);
  calls_.push_back("set_colours " + std::to_string(palette_number(foreground)) + " " +
                   std::to_string(palette_number(background)));
}

void MemoryConsole::clear() {
  screen_.clear();
  calls_.push_back("clear");
}

void MemoryConsole::move_to(int row, int column) {
  if (!screen_.move_to(row, column)) {
    throw std::out_of_range("move_to off the screen: row " + std::to_string(row) + ", column " +
                            std::to_string(column));
  }
}

void MemoryConsole::write_text(std::string_view text) { screen_.write_text(text); }

void MemoryConsole::line_break() { screen_.line_break(); }

void MemoryConsole::set_title(std::string_view title) {
  title_ = std::string(title);
  calls_.push_back("set_title " + title_);
}

void MemoryConsole::wait_for_key() {
  calls_.push_back("wait_for_key");
  key_waits_.push_back(screen_);
  if (keys_ <= 0) {
    throw ScriptExhausted("the program waits for a key and the script has none left; screen:\n" +
                          screen_.text());
  }
  --keys_;
}

void MemoryConsole::push_list_box_choice(std::vector<int> items) {
  answers_.emplace_back(ListBoxResult{std::move(items)});
}

void MemoryConsole::push_list_box_keys(std::string_view script) {
  answers_.emplace_back(keys_from_text(script));
}

void MemoryConsole::push_list_box_inputs(std::vector<ListBoxInput> inputs) {
  answers_.emplace_back(std::move(inputs));
}

ListBoxResult MemoryConsole::list_box(const ListBoxRequest& request) {
  calls_.push_back("list_box");
  RecordedListBox record{std::string(request.heading),
                         std::string(request.instruction),
                         std::vector<std::string>(request.items.begin(), request.items.end()),
                         request.mode,
                         {}};
  list_boxes_.push_back(record);
  if (answers_.empty()) {
    throw ScriptExhausted("a list box (" + record.heading +
                          ") opens and the script has no answer left");
  }
  // The answer is read where it stands and only then taken from the script.
  ListBoxResult result;
  if (const auto* given = std::get_if<ListBoxResult>(&answers_.front())) {
    result = *given;
  } else {
    ListBoxModel model(request);
    for (const ListBoxInput& input : std::get<std::vector<ListBoxInput>>(answers_.front())) {
      model.handle(input);
    }
    if (!model.closed()) {
      answers_.pop_front();
      throw ScriptExhausted("the scripted keys leave the list box (" + record.heading + ") open");
    }
    result = model.result();
  }
  answers_.pop_front();
  list_boxes_.back().result = result;
  return result;
}

std::string MemoryConsole::text_at(int row, int column, int length) const {
  std::string text;
  for (int c = column; c < column + length; ++c) text.push_back(screen_.cell(row, c).ch);
  return text;
}

}  // namespace kestrane
