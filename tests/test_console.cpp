// Console operations on the in-memory screen: advancing to a column, centring, wrap and
// scroll, the start-up of the window and the script and records of the in-memory console.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "ui/console.h"
#include "ui/memory_console.h"

namespace kestrane {
namespace {

// Each colour of the console palette by name, with its number there.
struct PaletteCase {
  Colour colour;
  int number;
  bool bright;
};

class Palette : public ::testing::TestWithParam<PaletteCase> {};

TEST_P(Palette, EveryNameHasItsNumberInTheConsolePalette) {
  const PaletteCase& c = GetParam();
  EXPECT_EQ(palette_number(c.colour), c.number);
  EXPECT_EQ(is_bright(c.colour), c.bright);
  // The in-memory console records the colours by their numbers and paints the cells in them.
  MemoryConsole console;
  console.set_colours(c.colour, Colour::black);
  console.clear();
  console.set_colours(Colour::black, c.colour);
  console.write_text("x");
  EXPECT_EQ(console.calls(),
            (std::vector<std::string>{"set_colours " + std::to_string(c.number) + " 0", "clear",
                                      "set_colours 0 " + std::to_string(c.number)}));
  EXPECT_EQ(console.foreground_at(1, 2), c.colour);
  EXPECT_EQ(console.background_at(1, 2), Colour::black);
  EXPECT_EQ(console.foreground_at(1, 1), Colour::black);
  EXPECT_EQ(console.background_at(1, 1), c.colour);
}

INSTANTIATE_TEST_SUITE_P(
    Colours, Palette,
    ::testing::Values(
        PaletteCase{Colour::black, 0, false}, PaletteCase{Colour::blue, 1, false},
        PaletteCase{Colour::green, 2, false}, PaletteCase{Colour::cyan, 3, false},
        PaletteCase{Colour::red, 4, false}, PaletteCase{Colour::magenta, 5, false},
        PaletteCase{Colour::brown, 6, false}, PaletteCase{Colour::light_grey, 7, false},
        PaletteCase{Colour::dark_grey, 8, true}, PaletteCase{Colour::bright_blue, 9, true},
        PaletteCase{Colour::bright_green, 10, true}, PaletteCase{Colour::bright_cyan, 11, true},
        PaletteCase{Colour::bright_red, 12, true}, PaletteCase{Colour::bright_magenta, 13, true},
        PaletteCase{Colour::yellow, 14, true}, PaletteCase{Colour::bright_white, 15, true}),
    [](const ::testing::TestParamInfo<PaletteCase>& test) {
      return "number" + std::to_string(test.param.number);
    });

TEST(ScreenColours, ABlankScreenIsLightGreyOnBlackAndTheRunBrightWhiteOnBlue) {
  const ScreenBuffer screen;
  EXPECT_EQ(screen.cell(1, 1).foreground, Colour::light_grey);
  EXPECT_EQ(screen.cell(25, 80).background, Colour::black);
  EXPECT_EQ(kConsoleForeground, Colour::bright_white);
  EXPECT_EQ(kConsoleBackground, Colour::blue);
}

TEST(AdvanceToColumn, WritesBlanksUpToTheColumn) {
  MemoryConsole console;
  console.set_colours(Colour::green, Colour::red);
  console.clear();
  console.set_colours(Colour::bright_white, Colour::blue);
  advance_to_column(console, 5);
  EXPECT_EQ(console.cursor_row(), 1);
  EXPECT_EQ(console.cursor_column(), 5);
  // Four blanks were written (in the new colours); column 5 is untouched.
  for (int c = 1; c <= 4; ++c) {
    EXPECT_EQ(console.char_at(1, c), ' ');
    EXPECT_EQ(console.background_at(1, c), Colour::blue) << "column " << c;
  }
  EXPECT_EQ(console.background_at(1, 5), Colour::red);
}

TEST(AdvanceToColumn, RightOfTheColumnBreaksTheLineFirst) {
  MemoryConsole console;
  console.clear();
  console.write_text("123456789");  // cursor at column 10
  console.set_colours(Colour::bright_white, Colour::blue);
  advance_to_column(console, 5);
  EXPECT_EQ(console.cursor_row(), 2);
  EXPECT_EQ(console.cursor_column(), 5);
  EXPECT_EQ(console.row_text(1).substr(0, 10), "123456789 ");
  for (int c = 1; c <= 4; ++c)
    EXPECT_EQ(console.background_at(2, c), Colour::blue) << "column " << c;
  EXPECT_EQ(console.background_at(2, 5), Colour::black);

  advance_to_column(console, 1);  // a line break and no blanks
  EXPECT_EQ(console.cursor_row(), 3);
  EXPECT_EQ(console.cursor_column(), 1);
  EXPECT_EQ(console.background_at(3, 1), Colour::black);
}

TEST(AdvanceToColumn, NothingBelowColumnOneOrAtTheColumn) {
  MemoryConsole console;
  console.clear();
  console.write_text("abc");
  for (int column : {0, -7, 4}) {
    advance_to_column(console, column);
    EXPECT_EQ(console.cursor_row(), 1) << column;
    EXPECT_EQ(console.cursor_column(), 4) << column;
  }
}

TEST(WriteCentred, StartsAtEightyLessTheLengthHalved) {
  MemoryConsole console;
  console.clear();
  const std::string thirty(30, 'x');
  write_centred(console, thirty);
  EXPECT_EQ(console.row_text(1).find('x'), 24u);  // column 25
  EXPECT_EQ(console.cursor_column(), 55);

  console.line_break();
  write_centred(console, "ab");  // (80 - 2) div 2 = 39
  EXPECT_EQ(console.text_at(2, 39, 2), "ab");

  console.line_break();
  write_centred(console, "Files written: OUTPUT\\DC100g.OUT OUTPUT\\DC7300g.OUT ");  // 52
  EXPECT_EQ(console.text_at(3, 14, 6), "Files ");
}

TEST(WriteCentred, SeventyNineCharactersStartWhereTheCursorStands) {
  MemoryConsole console;
  console.clear();
  console.write_text("abcdef");
  const std::string long_text(79, 'y');
  write_centred(console, long_text);
  EXPECT_EQ(console.text_at(1, 1, 7), "abcdefy");
  // 74 characters fill row 1, the other 5 wrap onto row 2.
  EXPECT_EQ(console.text_at(2, 1, 6), "yyyyy ");
  EXPECT_EQ(console.cursor_row(), 2);
  EXPECT_EQ(console.cursor_column(), 6);
}

TEST(ScreenWriting, WrapsAfterColumnEighty) {
  MemoryConsole console;
  console.clear();
  console.write_text(std::string(80, 'a'));
  // The cursor is on the next row at once, as on a console.
  EXPECT_EQ(console.cursor_row(), 2);
  EXPECT_EQ(console.cursor_column(), 1);
  console.write_text("bcdef");
  EXPECT_EQ(console.row_text(1), std::string(80, 'a'));
  EXPECT_EQ(console.text_at(2, 1, 6), "bcdef ");
  EXPECT_EQ(console.cursor_column(), 6);
}

TEST(ScreenWriting, ScrollsAtRowTwentyFive) {
  MemoryConsole console;
  console.set_colours(Colour::bright_white, Colour::blue);
  console.clear();
  console.write_text("top");
  console.move_to(25, 1);
  console.write_text("bottom");
  console.line_break();
  EXPECT_EQ(console.cursor_row(), 25);
  EXPECT_EQ(console.cursor_column(), 1);
  EXPECT_EQ(console.text_at(24, 1, 6), "bottom");
  EXPECT_EQ(console.text_at(1, 1, 3), "   ");  // "top" scrolled away
  EXPECT_EQ(console.row_text(25), std::string(80, ' '));
  EXPECT_EQ(console.background_at(25, 80), Colour::blue);

  // Filling the bottom row scrolls too.
  console.write_text(std::string(80, 'z'));
  EXPECT_EQ(console.row_text(24), std::string(80, 'z'));
  EXPECT_EQ(console.text_at(23, 1, 6), "bottom");
  EXPECT_EQ(console.cursor_row(), 25);
  EXPECT_EQ(console.cursor_column(), 1);
}

TEST(ScreenWriting, ControlCharactersActAsOnAConsole) {
  MemoryConsole console;
  console.clear();
  console.write_text("ab\ncd\rX\tY\bZ");
  EXPECT_EQ(console.text_at(1, 1, 3), "ab ");
  // "cd", CR back to column 1, "X", TAB blanks up to column 9, "Y", BS, "Z" over it.
  EXPECT_EQ(console.text_at(2, 1, 10), "X       Z ");
}

TEST(PrepareConsoleWindow, SizeTitleColoursAndClearInThisOrder) {
  MemoryConsole console;
  console.write_text("left over");
  prepare_console_window(console, "Kestrane  Ver. 3.1");
  EXPECT_EQ(console.calls(),
            (std::vector<std::string>{"set_size 80 25", "set_title Kestrane  Ver. 3.1",
                                      "set_colours 15 1", "clear"}));
  EXPECT_EQ(console.title(), "Kestrane  Ver. 3.1");
  EXPECT_EQ(console.cursor_row(), 1);
  EXPECT_EQ(console.cursor_column(), 1);
  for (int r = 1; r <= kConsoleRows; ++r) {
    for (int c = 1; c <= kConsoleColumns; ++c) {
      ASSERT_EQ(console.char_at(r, c), ' ');
      ASSERT_EQ(console.foreground_at(r, c), Colour::bright_white);
      ASSERT_EQ(console.background_at(r, c), Colour::blue);
    }
  }
  console.write_text("Kestrane");
  EXPECT_EQ(console.foreground_at(1, 8), Colour::bright_white);
  EXPECT_EQ(console.background_at(1, 8), Colour::blue);
}

TEST(MemoryConsoleScript, KeysAndAnswersAreConsumedInOrderAndRecorded) {
  MemoryConsole console;
  const std::vector<std::string> items{"a", "b", "c", "d"};
  console.push_keys(1);
  console.push_list_box_choice({3, 1});
  console.push_list_box_keys("Down Space Down Down Space Enter");
  console.write_text("first");
  console.wait_for_key();
  console.write_text(" second");
  const ListBoxRequest request{.heading = " Pick",
                               .instruction = "Mark some",
                               .items = items,
                               .mode = ListBoxMode::multiple_choice};
  EXPECT_EQ(console.list_box(request).items, (std::vector<int>{3, 1}));
  EXPECT_EQ(console.list_box(request).items, (std::vector<int>{2, 4}));
  ASSERT_EQ(console.key_waits().size(), 1u);
  EXPECT_EQ(console.key_waits()[0].row_text(1).substr(0, 6), "first ");
  EXPECT_THROW(console.wait_for_key(), ScriptExhausted);
  EXPECT_THROW(console.list_box(request), ScriptExhausted);

  // Every box is recorded as asked for, with what it gave.
  ASSERT_EQ(console.list_boxes().size(), 3u);
  const RecordedListBox& box = console.list_boxes()[1];
  EXPECT_EQ(box.heading, " Pick");
  EXPECT_EQ(box.instruction, "Mark some");
  EXPECT_EQ(box.items, items);
  EXPECT_EQ(box.mode, ListBoxMode::multiple_choice);
  EXPECT_EQ(box.result.items, (std::vector<int>{2, 4}));
  EXPECT_EQ(console.list_boxes()[0].result.items, (std::vector<int>{3, 1}));
}

TEST(MemoryConsoleScript, KeysThatLeaveTheBoxOpenAreAnError) {
  MemoryConsole console;
  const std::vector<std::string> items{"a", "b"};
  console.push_list_box_keys("Down Space");
  EXPECT_THROW(console.list_box({.items = items, .mode = ListBoxMode::multiple_choice}),
               ScriptExhausted);
}

TEST(MemoryConsoleScript, MovingOffTheScreenIsAnError) {
  MemoryConsole console;
  EXPECT_THROW(console.move_to(0, 1), std::out_of_range);
  EXPECT_THROW(console.move_to(26, 1), std::out_of_range);
  EXPECT_THROW(console.move_to(1, 81), std::out_of_range);
  console.move_to(25, 80);
  EXPECT_EQ(console.cursor_row(), 25);
  EXPECT_EQ(console.cursor_column(), 80);
}

}  // namespace
}  // namespace kestrane
