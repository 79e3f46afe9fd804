// The list box as pure state: keys, mouse, the choice and the picture of the box.
#include "ui/list_box_model.h"

#include <algorithm>
#include <stdexcept>

#include "base/ascii.h"

namespace kestrane {
namespace {

constexpr int kButtonWidth = 8;
constexpr int kButtonGap = 3;
constexpr std::string_view kOkLabel = "[  OK  ]";
constexpr std::string_view kCancelLabel = "[Cancel]";
constexpr int kMaxInnerWidth = kConsoleColumns - 2;

const std::string kSingleHelp = "Arrows, PgUp/PgDn, Home/End, letter: move  Enter: OK  Esc: Cancel";
const std::string kMultipleHelp =
    "Arrows/Home/End/letter: move  Space: mark  Enter: OK  Esc: Cancel";

// `text` cut or padded with blanks to exactly `width` characters.
std::string fit(std::string_view text, int width) {
  std::string out(text.substr(0, static_cast<size_t>(std::max(width, 0))));
  out.resize(static_cast<size_t>(std::max(width, 0)), ' ');
  return out;
}

int digits(int n) {
  int d = 1;
  while (n >= 10) {
    n /= 10;
    ++d;
  }
  return d;
}

}  // namespace

std::vector<ListBoxInput> keys_from_text(std::string_view script) {
  static const std::pair<std::string_view, ListKey> kNames[] = {
      {"Up", ListKey::up},          {"Down", ListKey::down},   {"PgUp", ListKey::page_up},
      {"PgDn", ListKey::page_down}, {"Home", ListKey::home},   {"End", ListKey::end},
      {"Left", ListKey::left},      {"Right", ListKey::right}, {"Tab", ListKey::tab},
      {"BTab", ListKey::back_tab},  {"Space", ListKey::space}, {"Enter", ListKey::enter},
      {"Esc", ListKey::escape},
  };
  std::vector<ListBoxInput> inputs;
  size_t pos = 0;
  while (pos < script.size()) {
    if (script[pos] == ' ') {
      ++pos;
      continue;
    }
    size_t end = script.find(' ', pos);
    if (end == std::string_view::npos) end = script.size();
    std::string_view name = script.substr(pos, end - pos);
    pos = end;
    if (name.size() == 1) {
      inputs.emplace_back(KeyPress{ListKey::character, name[0]});
      continue;
    }
    auto found = std::find_if(std::begin(kNames), std::end(kNames),
                              [&](const auto& entry) { return entry.first == name; });
    if (found == std::end(kNames)) {
      throw std::invalid_argument("unknown key name in script: " + std::string(name));
    }
    inputs.emplace_back(KeyPress{found->second, 0});
  }
  return inputs;
}

std::vector<std::string> picture_rows(const BoxPicture& picture) {
  const ScreenRect& f = picture.frame;
  std::vector<std::string> rows(static_cast<size_t>(f.height));
  for (int r = 0; r < f.height; ++r) {
    bool rule =
        r == 0 || r == f.height - 1 ||
        std::count(picture.separator_rows.begin(), picture.separator_rows.end(), f.row + r) > 0;
    std::string& line = rows[static_cast<size_t>(r)];
    line.assign(static_cast<size_t>(f.width), rule ? '-' : ' ');
    line.front() = rule ? '+' : '|';
    line.back() = rule ? '+' : '|';
  }
  for (const BoxSpan& span : picture.spans) {
    int r = span.row - f.row;
    if (r < 0 || r >= f.height) continue;
    std::string& line = rows[static_cast<size_t>(r)];
    for (size_t i = 0; i < span.text.size(); ++i) {
      int c = span.column - f.column + static_cast<int>(i);
      if (c >= 0 && c < f.width) line[static_cast<size_t>(c)] = span.text[i];
    }
  }
  return rows;
}

ListBoxModel::ListBoxModel(const ListBoxRequest& request)
    : ListBoxModel(std::string(request.heading), std::string(request.instruction),
                   std::vector<std::string>(request.items.begin(), request.items.end()),
                   request.mode) {}

ListBoxModel::ListBoxModel(std::string heading, std::string instruction,
                           std::vector<std::string> items, ListBoxMode mode)
    : heading_(std::move(heading)),
      instruction_(std::move(instruction)),
      items_(std::move(items)),
      multiple_(mode == ListBoxMode::multiple_choice) {
  highlighted_ = items_.empty() ? 0 : 1;
  lay_out();
}

const std::string& ListBoxModel::key_help() const {
  return multiple_ ? kMultipleHelp : kSingleHelp;
}

std::string ListBoxModel::item_label(int item) const {
  const std::string& text = items_[static_cast<size_t>(item - 1)];
  if (!multiple_) return text;
  int order = mark_order(item);
  std::string number = order > 0 ? std::to_string(order) : std::string();
  std::string label(1, '[');
  label.append(static_cast<size_t>(mark_digits_) - number.size(), ' ');
  return label.append(number).append("] ").append(text);
}

void ListBoxModel::lay_out() {
  mark_digits_ = digits(std::max(item_count(), 1));
  size_t widest = std::max({heading_.size(), instruction_.size(), key_help().size(),
                            static_cast<size_t>(2 * kButtonWidth + kButtonGap)});
  for (int i = 1; i <= item_count(); ++i) widest = std::max(widest, item_label(i).size());
  // One blank on either side of the widest text, within the screen.
  inner_width_ = std::min(static_cast<int>(widest) + 2, kMaxInnerWidth);
  visible_ = std::clamp(item_count(), 1, kMaxVisibleItems);
  frame_.width = inner_width_ + 2;
  frame_.height = visible_ + 8;
  frame_.row = (kConsoleRows - frame_.height) / 2 + 1;
  frame_.column = (kConsoleColumns - frame_.width) / 2 + 1;
  first_item_row_ = frame_.row + 4;
  help_row_ = first_item_row_ + visible_ + 1;
  button_row_ = help_row_ + 1;
}

int ListBoxModel::mark_order(int item) const {
  auto it = std::find(marks_.begin(), marks_.end(), item);
  return it == marks_.end() ? 0 : static_cast<int>(it - marks_.begin()) + 1;
}

int ListBoxModel::item_row(int item) const {
  if (item < top_ || item >= top_ + visible_ || item > item_count()) return 0;
  return first_item_row_ + (item - top_);
}

ScreenRect ListBoxModel::ok_button() const {
  int left = frame_.column + 1 + (inner_width_ - (2 * kButtonWidth + kButtonGap)) / 2;
  return ScreenRect{button_row_, left, 1, kButtonWidth};
}

ScreenRect ListBoxModel::cancel_button() const {
  ScreenRect ok = ok_button();
  return ScreenRect{button_row_, ok.column + kButtonWidth + kButtonGap, 1, kButtonWidth};
}

void ListBoxModel::move_to_item(int item) {
  if (items_.empty()) return;
  highlighted_ = std::clamp(item, 1, item_count());
  if (highlighted_ < top_) top_ = highlighted_;
  if (highlighted_ >= top_ + visible_) top_ = highlighted_ - visible_ + 1;
}

void ListBoxModel::toggle_mark(int item) {
  auto it = std::find(marks_.begin(), marks_.end(), item);
  if (it == marks_.end()) {
    marks_.push_back(item);
  } else {
    marks_.erase(it);
  }
}

void ListBoxModel::jump_to_character(char ch) {
  const int n = item_count();
  for (int step = 1; step <= n; ++step) {
    int item = (highlighted_ - 1 + step) % n + 1;
    const std::string& text = items_[static_cast<size_t>(item - 1)];
    size_t first = text.find_first_not_of(' ');
    if (first != std::string::npos && ascii::to_lower(text[first]) == ascii::to_lower(ch)) {
      move_to_item(item);
      return;
    }
  }
}

void ListBoxModel::accept() {
  closed_ = true;
  chosen_ = !items_.empty();
}

void ListBoxModel::cancel() {
  closed_ = true;
  chosen_ = false;
}

ListBoxResult ListBoxModel::result() const {
  if (!closed_ || !chosen_) return {};
  if (!multiple_ || marks_.empty()) return {{highlighted_}};
  return {marks_};
}

void ListBoxModel::handle(const ListBoxInput& input) {
  if (const auto* key = std::get_if<KeyPress>(&input)) {
    handle_key(*key);
  } else {
    handle_mouse(std::get<MouseEvent>(input));
  }
}

void ListBoxModel::handle_key(const KeyPress& key) {
  if (closed_) return;
  switch (key.key) {
    case ListKey::up:
    case ListKey::down:
    case ListKey::page_up:
    case ListKey::page_down:
    case ListKey::home:
    case ListKey::end:
    case ListKey::character:
      focus_ = Focus::list;
      break;
    default:
      break;
  }
  switch (key.key) {
    case ListKey::up:
      move_to_item(highlighted_ - 1);
      break;
    case ListKey::down:
      move_to_item(highlighted_ + 1);
      break;
    case ListKey::page_up:
      move_to_item(highlighted_ - visible_);
      break;
    case ListKey::page_down:
      move_to_item(highlighted_ + visible_);
      break;
    case ListKey::home:
      move_to_item(1);
      break;
    case ListKey::end:
      move_to_item(item_count());
      break;
    case ListKey::character:
      if (key.ch != ' ') jump_to_character(key.ch);
      break;
    case ListKey::tab:
      focus_ = focus_ == Focus::list ? Focus::ok
               : focus_ == Focus::ok ? Focus::cancel
                                     : Focus::list;
      break;
    case ListKey::back_tab:
      focus_ = focus_ == Focus::list     ? Focus::cancel
               : focus_ == Focus::cancel ? Focus::ok
                                         : Focus::list;
      break;
    case ListKey::left:
    case ListKey::right:
      if (focus_ != Focus::list) focus_ = focus_ == Focus::ok ? Focus::cancel : Focus::ok;
      break;
    case ListKey::space:
      if (focus_ == Focus::ok) {
        accept();
      } else if (focus_ == Focus::cancel) {
        cancel();
      } else if (multiple_ && highlighted_ > 0) {
        toggle_mark(highlighted_);
      }
      break;
    case ListKey::enter:
      if (focus_ == Focus::cancel) {
        cancel();
      } else {
        accept();
      }
      break;
    case ListKey::escape:
      cancel();
      break;
  }
}

void ListBoxModel::handle_mouse(const MouseEvent& event) {
  if (closed_) return;
  switch (event.action) {
    case MouseEvent::Action::wheel_up:
      move_to_item(highlighted_ - 1);
      return;
    case MouseEvent::Action::wheel_down:
      move_to_item(highlighted_ + 1);
      return;
    case MouseEvent::Action::press:
    case MouseEvent::Action::double_press:
      break;
    case MouseEvent::Action::mark:
      if (!multiple_) return;
      break;
  }
  const bool on_buttons = event.action != MouseEvent::Action::mark;
  if (on_buttons && ok_button().contains(event.row, event.column)) {
    accept();
    return;
  }
  if (on_buttons && cancel_button().contains(event.row, event.column)) {
    cancel();
    return;
  }
  ScreenRect items_area{first_item_row_, frame_.column + 1, visible_, inner_width_};
  if (!items_area.contains(event.row, event.column)) return;
  int item = top_ + (event.row - first_item_row_);
  if (item > item_count()) return;
  focus_ = Focus::list;
  move_to_item(item);
  if (multiple_) {
    toggle_mark(item);
  } else if (event.action == MouseEvent::Action::double_press) {
    accept();
  }
}

BoxPicture ListBoxModel::picture() const {
  BoxPicture pic;
  pic.frame = frame_;
  const int left = frame_.column + 1;
  const int top_rule = frame_.row + 3;
  const int bottom_rule = first_item_row_ + visible_;
  pic.separator_rows = {top_rule, bottom_rule};
  pic.spans.push_back({frame_.row + 1, left, fit(" " + heading_, inner_width_), BoxStyle::body});
  pic.spans.push_back(
      {frame_.row + 2, left, fit(" " + instruction_, inner_width_), BoxStyle::body});
  for (int row = 0; row < visible_; ++row) {
    int item = top_ + row;
    if (item > item_count()) break;
    BoxStyle style = BoxStyle::body;
    if (item == highlighted_) {
      style = focus_ == Focus::list ? BoxStyle::highlight : BoxStyle::highlight_dim;
    }
    pic.spans.push_back({first_item_row_ + row, left,
                         fit(std::string(1, ' ').append(item_label(item)), inner_width_), style});
  }
  const std::string more_above = " ^ more ";
  const std::string more_below = " v more ";
  const int marker_column = left + inner_width_ - static_cast<int>(more_above.size()) - 1;
  if (top_ > 1) pic.spans.push_back({top_rule, marker_column, more_above, BoxStyle::body});
  if (top_ + visible_ <= item_count()) {
    pic.spans.push_back({bottom_rule, marker_column, more_below, BoxStyle::body});
  }
  pic.spans.push_back({help_row_, left, fit(" " + key_help(), inner_width_), BoxStyle::body});
  ScreenRect ok = ok_button();
  ScreenRect cancel = cancel_button();
  pic.spans.push_back({ok.row, ok.column, std::string(kOkLabel),
                       focus_ == Focus::ok ? BoxStyle::highlight : BoxStyle::body});
  pic.spans.push_back({cancel.row, cancel.column, std::string(kCancelLabel),
                       focus_ == Focus::cancel ? BoxStyle::highlight : BoxStyle::body});
  return pic;
}

}  // namespace kestrane
