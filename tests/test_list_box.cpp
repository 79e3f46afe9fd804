// The list box model: keys, mouse, the choice it gives and the picture of the box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/list_box_model.h"

namespace kestrane {
namespace {

const std::vector<std::string> kAges{"Infant  ", "1 y-old ", "5 y-old ", "10 y-old",
                                     "15 y-old", "Adult   ", "ALL AGES"};

std::vector<std::string> numbered_items(int n) {
  std::vector<std::string> items;
  for (int i = 1; i <= n; ++i) items.push_back("Region " + std::to_string(i));
  return items;
}

constexpr ListBoxMode kSingle = ListBoxMode::single_choice;
constexpr ListBoxMode kMultiple = ListBoxMode::multiple_choice;

// Feeds the keys of a script to the box; the item numbers of its choice.
std::vector<int> run(ListBoxModel& box, std::string_view script) {
  for (const ListBoxInput& input : keys_from_text(script)) box.handle(input);
  return box.result().items;
}

MouseEvent press_at(int row, int column) {
  return MouseEvent{MouseEvent::Action::press, row, column};
}

MouseEvent press_on_item(const ListBoxModel& box, int item) {
  return press_at(box.item_row(item), box.frame().column + 3);
}

struct ChoiceCase {
  const char* name;
  ListBoxMode mode;
  std::vector<std::string> items;
  const char* keys;
  std::vector<int> choice;
  bool closed;
};

void PrintTo(const ChoiceCase& c, std::ostream* os) { *os << c.keys; }

class ListBoxChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ListBoxChoice, GivesTheItemNumbersInMarkingOrder) {
  const ChoiceCase& c = GetParam();
  ListBoxModel box("", "", c.items, c.mode);
  EXPECT_EQ(run(box, c.keys), c.choice);
  EXPECT_EQ(box.closed(), c.closed);
  EXPECT_EQ(box.result().chosen(), !c.choice.empty());
}

INSTANTIATE_TEST_SUITE_P(
    KeysAndButtons, ListBoxChoice,
    ::testing::Values(
        ChoiceCase{"SingleHighlighted",
                   kSingle,
                   {"KVR13INH.DRT", "KVR13ING.DRT"},
                   "Down Enter",
                   {2},
                   true},
        ChoiceCase{"SingleLastButOne", kSingle, kAges, "End Up Enter", {6}, true},
        ChoiceCase{"MarkedTwo", kMultiple, kAges, "Down Space Down Down Space Enter", {2, 4}, true},
        ChoiceCase{
            "MarkedBackwards", kMultiple, kAges, "End Up Space Home Space Enter", {6, 1}, true},
        // Unmarking takes an item out of the order; marking it again puts it last.
        ChoiceCase{"Unmarked",
                   kMultiple,
                   kAges,
                   "Down Space Down Space Down Space Up Space Enter",
                   {2, 4},
                   true},
        ChoiceCase{"Remarked",
                   kMultiple,
                   kAges,
                   "Down Space Down Space Up Space Space Enter",
                   {3, 2},
                   true},
        ChoiceCase{"ScrolledList",
                   kMultiple,
                   numbered_items(31),
                   "End Space Up Space Home Down Down Space Enter",
                   {31, 30, 3},
                   true},
        ChoiceCase{"NoMarksTakesTheHighlighted", kMultiple, kAges, "Down Down Enter", {3}, true},
        ChoiceCase{"SingleEscape", kSingle, kAges, "Down Esc", {}, true},
        // Keys after closing change nothing.
        ChoiceCase{"MultipleEscape", kMultiple, kAges, "Space Down Space Esc Enter", {}, true},
        ChoiceCase{"StillOpen", kSingle, kAges, "Down", {}, false},
        ChoiceCase{"EmptyList", kMultiple, {}, "Down Space Enter", {}, true},
        ChoiceCase{"CancelButtonByTab", kMultiple, kAges, "Space Tab Tab Enter", {}, true},
        ChoiceCase{"OkButtonByTab", kMultiple, kAges, "Space Tab Enter", {1}, true},
        ChoiceCase{"SpaceOnCancel", kSingle, kAges, "BTab Left Right Space", {}, true},
        // A movement key brings the focus back to the list.
        ChoiceCase{"MovedBackToTheList", kSingle, kAges, "Tab Tab Down Enter", {2}, true}),
    [](const ::testing::TestParamInfo<ChoiceCase>& case_info) {
      return std::string(case_info.param.name);
    });

TEST(ListBoxKeys, ButtonsTakeTheFocusWithTabAndArrows) {
  ListBoxModel box("", "", kAges, kSingle);
  run(box, "Tab");
  EXPECT_EQ(box.focus(), ListBoxModel::Focus::ok);
  run(box, "Right");
  EXPECT_EQ(box.focus(), ListBoxModel::Focus::cancel);
  run(box, "BTab");
  EXPECT_EQ(box.focus(), ListBoxModel::Focus::ok);
  run(box, "BTab");
  EXPECT_EQ(box.focus(), ListBoxModel::Focus::list);
  run(box, "BTab Left");
  EXPECT_EQ(box.focus(), ListBoxModel::Focus::ok);
  EXPECT_FALSE(box.closed());
}

TEST(ListBoxKeys, MovementStopsAtTheEndsAndPagesScrollTheWindow) {
  ListBoxModel box("", "", numbered_items(31), kMultiple);
  EXPECT_EQ(box.visible_rows(), 15);
  run(box, "Up");
  EXPECT_EQ(box.highlighted(), 1);
  run(box, "PgDn");
  EXPECT_EQ(box.highlighted(), 16);
  EXPECT_EQ(box.top(), 2);
  run(box, "End Down");
  EXPECT_EQ(box.highlighted(), 31);
  EXPECT_EQ(box.top(), 17);
  run(box, "PgUp");
  EXPECT_EQ(box.highlighted(), 16);
  EXPECT_EQ(box.top(), 16);
  run(box, "PgUp PgUp");
  EXPECT_EQ(box.highlighted(), 1);
  EXPECT_EQ(box.top(), 1);
  run(box, "PgDn PgDn PgDn");
  EXPECT_EQ(box.highlighted(), 31);
  run(box, "Home");
  EXPECT_EQ(box.highlighted(), 1);
  EXPECT_EQ(box.top(), 1);
}

TEST(ListBoxKeys, ACharacterJumpsToTheNextItemStartingWithItAndWraps) {
  ListBoxModel box("", "", kAges, kSingle);
  run(box, "a");
  EXPECT_EQ(box.highlighted(), 6);  // "Adult   "
  run(box, "A");
  EXPECT_EQ(box.highlighted(), 7);  // "ALL AGES"
  run(box, "a");
  EXPECT_EQ(box.highlighted(), 6);  // round the end
  run(box, "1");
  EXPECT_EQ(box.highlighted(), 2);
  run(box, "1 1");
  EXPECT_EQ(box.highlighted(), 5);
  run(box, "z");
  EXPECT_EQ(box.highlighted(), 5);  // no such item: stays
  ListBoxModel regions("", "", {" Lungs", "Liver", "ALL ORGANS"}, kSingle);
  run(regions, "l");
  EXPECT_EQ(regions.highlighted(), 2);
  run(regions, "l");
  EXPECT_EQ(regions.highlighted(), 1);  // leading blanks do not count
}

TEST(ListBoxMouse, PressHighlightsAndInMultipleModeMarks) {
  ListBoxModel box("", "", kAges, kMultiple);
  box.handle(press_on_item(box, 4));
  EXPECT_EQ(box.highlighted(), 4);
  box.handle(press_on_item(box, 2));
  box.handle(press_on_item(box, 7));
  box.handle(press_on_item(box, 7));  // unmarks
  EXPECT_EQ(box.marks(), (std::vector<int>{4, 2}));
  ScreenRect ok = box.ok_button();
  box.handle(press_at(ok.row, ok.column + ok.width - 1));
  EXPECT_TRUE(box.closed());
  EXPECT_EQ(box.result().items, (std::vector<int>{4, 2}));
}

TEST(ListBoxMouse, SingleModeChoosesOnDoublePressOrOk) {
  ListBoxModel box("", "", kAges, kSingle);
  box.handle(press_on_item(box, 3));
  EXPECT_FALSE(box.closed());
  EXPECT_EQ(box.highlighted(), 3);
  MouseEvent twice = press_on_item(box, 5);
  twice.action = MouseEvent::Action::double_press;
  box.handle(twice);
  EXPECT_TRUE(box.closed());
  EXPECT_EQ(box.result().items, std::vector<int>{5});

  ListBoxModel cancelled("", "", kAges, kSingle);
  ScreenRect cancel = cancelled.cancel_button();
  cancelled.handle(press_at(cancel.row, cancel.column));
  EXPECT_TRUE(cancelled.closed());
  EXPECT_FALSE(cancelled.result().chosen());
}

TEST(ListBoxMouse, PressesAwayFromItemsAndButtonsDoNothing) {
  ListBoxModel box("", "", {"a", "b"}, kMultiple);
  ScreenRect frame = box.frame();
  box.handle(press_at(1, 1));
  box.handle(press_at(frame.row + 1, frame.column + 2));        // the heading
  box.handle(press_at(box.item_row(2) + 1, frame.column + 2));  // below the last item
  box.handle(press_at(box.item_row(1), frame.column));          // the frame
  EXPECT_FALSE(box.closed());
  EXPECT_TRUE(box.marks().empty());
  EXPECT_EQ(box.highlighted(), 1);
  box.handle(MouseEvent{MouseEvent::Action::wheel_down, 1, 1});
  EXPECT_EQ(box.highlighted(), 2);
}

TEST(ListBoxMouse, PressOnAScrolledWindowHitsTheItemShown) {
  ListBoxModel box("", "", numbered_items(31), kMultiple);
  run(box, "End");
  EXPECT_EQ(box.item_row(1), 0);  // scrolled out
  box.handle(press_at(box.item_row(17), box.frame().column + 3));
  EXPECT_EQ(box.marks(), (std::vector<int>{17}));
}

TEST(ListBoxPicture, ShowsHeadingInstructionMarkOrderAndKeyHelp) {
  ListBoxModel box(" Select Age(s) of Interest", "Multiple Select: Ctrl + Right Click", kAges,
                   kMultiple);
  run(box, "Down Down Down Space Up Up Space");  // marks 4, then 2
  std::vector<std::string> rows = picture_rows(box.picture());
  ScreenRect frame = box.frame();
  ASSERT_EQ(static_cast<int>(rows.size()), frame.height);
  EXPECT_EQ(rows[0], "+" + std::string(static_cast<size_t>(frame.width - 2), '-') + "+");
  EXPECT_NE(rows[1].find(" Select Age(s) of Interest"), std::string::npos);
  EXPECT_NE(rows[2].find("Multiple Select: Ctrl + Right Click"), std::string::npos);
  auto row_of = [&](int item) { return rows[static_cast<size_t>(box.item_row(item) - frame.row)]; };
  EXPECT_NE(row_of(4).find("[1] 10 y-old"), std::string::npos);
  EXPECT_NE(row_of(2).find("[2] 1 y-old "), std::string::npos);
  EXPECT_NE(row_of(1).find("[ ] Infant  "), std::string::npos);
  const std::string& help = rows[static_cast<size_t>(frame.height - 3)];
  EXPECT_NE(help.find("Space: mark"), std::string::npos);
  EXPECT_NE(help.find("Enter: OK"), std::string::npos);
  EXPECT_NE(help.find("Esc: Cancel"), std::string::npos);
  const std::string& buttons = rows[static_cast<size_t>(frame.height - 2)];
  EXPECT_NE(buttons.find("[  OK  ]"), std::string::npos);
  EXPECT_NE(buttons.find("[Cancel]"), std::string::npos);
  EXPECT_EQ(help.front(), '|');
  EXPECT_EQ(help.back(), '|');
}

TEST(ListBoxPicture, FitsTheScreenWithLongItemsAndShowsMoreMarkers) {
  std::vector<std::string> items = numbered_items(31);
  items[4] = std::string(120, 'L');
  ListBoxModel box(" Select Target Regions", "Multiple Select: Ctrl + Left Click", items,
                   kMultiple);
  ScreenRect frame = box.frame();
  EXPECT_GE(frame.row, 1);
  EXPECT_GE(frame.column, 1);
  EXPECT_LE(frame.row + frame.height - 1, kConsoleRows);
  EXPECT_LE(frame.column + frame.width - 1, kConsoleColumns);
  std::vector<std::string> rows = picture_rows(box.picture());
  for (const std::string& row : rows) EXPECT_EQ(static_cast<int>(row.size()), frame.width);
  const std::string& below = rows[static_cast<size_t>(box.item_row(15) - frame.row + 1)];
  EXPECT_NE(below.find("v more"), std::string::npos);
  // Items marked past the window show two-digit order positions in the same width.
  run(box, "End Space");
  std::vector<std::string> after = picture_rows(box.picture());
  EXPECT_NE(after[static_cast<size_t>(box.item_row(31) - frame.row)].find("[ 1] Region 31"),
            std::string::npos);
  EXPECT_NE(after[3].find("^ more"), std::string::npos);
}

TEST(ListBoxScript, UnknownKeyNamesAreRefused) {
  EXPECT_THROW(keys_from_text("Down Sapce"), std::invalid_argument);
  EXPECT_EQ(keys_from_text("  a  Enter ").size(), 2u);
}

// The terminal's Ctrl + right click: marks items of a multiple-choice box, and nothing else.
TEST(ListBoxMouse, MarkTogglesItemsOfAMultipleChoiceBoxOnly) {
  const auto mark_at = [](int row, int column) {
    return MouseEvent{MouseEvent::Action::mark, row, column};
  };
  ListBoxModel box("", "", kAges, ListBoxMode::multiple_choice);
  box.handle(mark_at(box.item_row(6), box.frame().column + 3));
  box.handle(mark_at(box.item_row(1), box.frame().column + 3));
  box.handle(mark_at(box.item_row(6), box.frame().column + 3));  // unmarks
  const ScreenRect ok = box.ok_button();
  const ScreenRect cancel = box.cancel_button();
  box.handle(mark_at(ok.row, ok.column));
  box.handle(mark_at(cancel.row, cancel.column));
  EXPECT_FALSE(box.closed());
  EXPECT_EQ(box.marks(), (std::vector<int>{1}));
  EXPECT_EQ(box.highlighted(), 6);

  ListBoxModel single("", "", kAges, ListBoxMode::single_choice);
  single.handle(mark_at(single.item_row(4), single.frame().column + 3));
  single.handle(mark_at(single.ok_button().row, single.ok_button().column));
  EXPECT_FALSE(single.closed());
  EXPECT_EQ(single.highlighted(), 1);
}

}  // namespace
}  // namespace kestrane
