// Tests of the age and target-region dialogue: from the list-box choices to the selected lists,
// and the echo lines on the in-memory screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/selection.h"
#include "input/line_reader.h"
#include "tests/support/test_support.h"
#include "ui/memory_console.h"

namespace kestrane {
namespace {

using kestrane::test_support::padded;

// A region-name line of `count` names R01, R02, ...
std::string region_line(int count) {
  std::string line = "Regions";
  for (int k = 1; k <= count; ++k) line += (k < 10 ? " R0" : " R") + std::to_string(k);
  return line;
}

LineReader dose_rate_file(int names) {
  return LineReader::from_bytes(
      "Title line\r\n" + region_line(names) + "\r\nH-3       100     F           2 1 L\r\n",
      "DATA\\KVR13INH.DRT");
}

std::vector<int> one_to(int n) {
  std::vector<int> v;
  for (int i = 1; i <= n; ++i) v.push_back(i);
  return v;
}

struct AgesCase {
  std::vector<int> chosen;
  std::vector<int> ages;
};

void PrintTo(const AgesCase& c, std::ostream* os) {
  *os << "chosen " << ::testing::PrintToString(c.chosen);
}

class AgesFromResult : public ::testing::TestWithParam<AgesCase> {};

TEST_P(AgesFromResult, GivesTheSelectedAgeList) {
  EXPECT_EQ(ages_from_result({GetParam().chosen}), GetParam().ages);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, AgesFromResult,
    ::testing::Values(
        // "ALL AGES", alone or with others, gives the six groups in ascending order.
        AgesCase{{7}, one_to(6)}, AgesCase{{5, 7, 2}, one_to(6)}, AgesCase{{7, 1}, one_to(6)},
        // Otherwise the order of marking is kept.
        AgesCase{{6, 1}, {6, 1}}, AgesCase{{2, 4}, {2, 4}}, AgesCase{{}, {}},
        // Numbers the box never shows are dropped.
        AgesCase{{8, 3, 0}, {3}}));

struct RegionsCase {
  int names;
  std::vector<int> chosen;
  std::vector<int> regions;
};

void PrintTo(const RegionsCase& c, std::ostream* os) {
  *os << c.names << " names, chosen " << ::testing::PrintToString(c.chosen);
}

class RegionsFromResult : public ::testing::TestWithParam<RegionsCase> {};

TEST_P(RegionsFromResult, GivesTheSelectedRegionList) {
  const RegionsCase& c = GetParam();
  EXPECT_EQ(regions_from_result({c.chosen}, c.names), c.regions);
}

INSTANTIATE_TEST_SUITE_P(
    Choices, RegionsFromResult,
    ::testing::Values(
        // Twenty-nine names: "Lung" is 30, "ALL ORGANS" 31, which gives 1..30 and never 31.
        RegionsCase{29, {31}, one_to(30)}, RegionsCase{29, {4, 31, 30}, one_to(30)},
        RegionsCase{29, {3, 1}, {3, 1}}, RegionsCase{29, {30}, {30}},
        RegionsCase{29, {29, 13, 1}, {29, 13, 1}}, RegionsCase{29, {}, {}},
        // Three names: "Lung" is 4, "ALL ORGANS" 5.
        RegionsCase{3, {5}, one_to(4)}, RegionsCase{3, {2, 5}, one_to(4)},
        RegionsCase{3, {4, 2}, {4, 2}},
        // Eleven names: "ALL ORGANS" is 13, which items 1 and 3 do not make.
        RegionsCase{11, {1, 3}, {1, 3}}, RegionsCase{11, {13}, one_to(12)},
        // Thirty-three names, the most a region-name line may hold: "ALL ORGANS" is 35, and
        // 31 an ordinary region.
        RegionsCase{33, {35}, one_to(34)}, RegionsCase{33, {3, 5}, {3, 5}},
        RegionsCase{33, {31}, {31}},
        // Numbers the box never shows are dropped.
        RegionsCase{3, {0, 2, 9}, {2}}, RegionsCase{29, {131, 310}, {}}));

class SelectionDialogue : public ::testing::Test {
 protected:
  // The cursor where the title screen leaves it: after " Press any key to continue." on row 14.
  void SetUp() override { console.move_to(14, 28); }

  Selection run(int names = 29) {
    LineReader reader = dose_rate_file(names);
    Selection s = select_ages_and_regions(console, reader);
    third_line = std::string(reader.read_line());
    return s;
  }

  MemoryConsole console;
  std::string third_line;
};

TEST_F(SelectionDialogue, ShowsBothListBoxesWithTheirTextsAndItems) {
  console.push_list_box_choice({2, 4});
  console.push_list_box_choice({30});
  const Selection s = run();

  ASSERT_EQ(console.list_boxes().size(), 2u);
  const RecordedListBox& ages = console.list_boxes()[0];
  EXPECT_EQ(ages.instruction, "Multiple Select: Ctrl + Right Click");
  EXPECT_EQ(ages.heading, " Select Age(s) of Interest");
  EXPECT_EQ(ages.items, (std::vector<std::string>{"Infant  ", "1 y-old ", "5 y-old ", "10 y-old",
                                                  "15 y-old", "Adult   ", "ALL AGES"}));
  EXPECT_EQ(ages.mode, ListBoxMode::multiple_choice);

  const RecordedListBox& regions = console.list_boxes()[1];
  EXPECT_EQ(regions.instruction, "Multiple Select: Ctrl + Left Click");
  EXPECT_EQ(regions.heading, " Select Target Regions");
  ASSERT_EQ(regions.items.size(), 31u);
  EXPECT_EQ(regions.items[0], "R01");
  EXPECT_EQ(regions.items[28], "R29");
  EXPECT_EQ(regions.items[29], "Lung");
  EXPECT_EQ(regions.items[30], "ALL ORGANS");
  EXPECT_EQ(regions.mode, ListBoxMode::multiple_choice);

  EXPECT_EQ(s.region_list, regions.items);
  EXPECT_EQ(s.age_list, ages.items);
  // The reader stands at the first header line.
  EXPECT_EQ(third_line, "H-3       100     F           2 1 L");
}

TEST_F(SelectionDialogue, EchoLinesByteForByte) {
  console.push_list_box_choice({2, 4});
  console.push_list_box_choice({30});
  const Selection s = run();

  EXPECT_EQ(s.age_groups, (std::vector<int>{2, 4}));
  EXPECT_EQ(s.regions, std::vector<int>{30});
  // The first echo continues the line the cursor stood on.
  EXPECT_EQ(console.row_text(14), padded(std::string(27, ' ') + "Ages to be process  2 "));
  // Each item, eight characters with its own blanks, is followed by one blank.
  EXPECT_EQ(console.row_text(15), padded("1 y-old  10 y-old "));
  EXPECT_EQ(console.row_text(16), padded("Organs to be process  1 "));
  EXPECT_EQ(console.row_text(17), padded("Lung "));
  EXPECT_EQ(console.cursor_row(), 18);
  EXPECT_EQ(console.cursor_column(), 1);
}

TEST_F(SelectionDialogue, AllAgesAloneEchoesAllSixItems) {
  console.push_list_box_choice({7});
  console.push_list_box_choice({1});
  const Selection s = run();
  EXPECT_EQ(s.age_groups, one_to(6));
  EXPECT_EQ(console.row_text(14), padded(std::string(27, ' ') + "Ages to be process  6 "));
  EXPECT_EQ(console.row_text(15), padded("Infant   1 y-old  5 y-old  10 y-old 15 y-old Adult    "));
  EXPECT_EQ(console.row_text(17), padded("R01 "));
}

TEST_F(SelectionDialogue, OrderOfTheResultIsKept) {
  console.push_list_box_choice({6, 1});
  console.push_list_box_choice({3, 1});
  const Selection s = run();
  EXPECT_EQ(s.age_groups, (std::vector<int>{6, 1}));
  EXPECT_EQ(s.regions, (std::vector<int>{3, 1}));
  EXPECT_EQ(console.row_text(15), padded("Adult    Infant   "));
  EXPECT_EQ(console.row_text(16), padded("Organs to be process  2 "));
  EXPECT_EQ(console.row_text(17), padded("R03 R01 "));
}

TEST_F(SelectionDialogue, AllOrgansGivesRegionsOneToThirtyNeverThirtyOne) {
  console.push_list_box_choice({1});
  console.push_list_box_choice({5, 31});
  const Selection s = run();
  EXPECT_EQ(s.regions, one_to(30));
  EXPECT_EQ(console.row_text(16), padded("Organs to be process  30 "));
  // Thirty names and blanks wrap over the 80 columns of the console.
  std::string names;
  for (int k = 1; k <= 29; ++k) names += (k < 10 ? "R0" : "R") + std::to_string(k) + " ";
  names += "Lung ";
  ASSERT_EQ(names.size(), 121u);
  EXPECT_EQ(console.row_text(17), names.substr(0, 80));
  EXPECT_EQ(console.row_text(18), padded(names.substr(80)));
  EXPECT_EQ(console.cursor_row(), 19);
}

TEST_F(SelectionDialogue, EmptyAgeBoxWritesNothingAndSkipsTheRegionBox) {
  console.push_list_box_choice({});
  const ScreenBuffer before = console.screen();
  const Selection s = run();
  EXPECT_TRUE(s.age_groups.empty());
  EXPECT_TRUE(s.regions.empty());
  EXPECT_EQ(console.list_boxes().size(), 1u);
  EXPECT_EQ(console.screen().text(), before.text());
  EXPECT_EQ(console.cursor_row(), 14);
  EXPECT_EQ(console.cursor_column(), 28);
  EXPECT_EQ(third_line, "H-3       100     F           2 1 L");
}

TEST_F(SelectionDialogue, EmptyRegionBoxWritesResultLine) {
  console.push_list_box_choice({1});
  console.push_list_box_choice({});
  const Selection s = run();
  EXPECT_EQ(s.age_groups, std::vector<int>{1});
  EXPECT_TRUE(s.regions.empty());
  EXPECT_EQ(console.row_text(15), padded("Infant   "));
  EXPECT_EQ(console.row_text(16), padded("Result$ = "));
  EXPECT_EQ(console.cursor_row(), 17);
  EXPECT_EQ(console.cursor_column(), 1);
}

TEST_F(SelectionDialogue, MarkedWithTheKeysInTheOrderMarked) {
  // Adult, then Infant; then "Lung", the first region and the second.
  console.push_list_box_keys("End Up Space Home Space Enter");
  console.push_list_box_keys("End Up Space Home Space Down Space Enter");
  const Selection s = run();
  EXPECT_EQ(console.list_boxes()[0].result.items, (std::vector<int>{6, 1}));
  EXPECT_EQ(s.age_groups, (std::vector<int>{6, 1}));
  EXPECT_EQ(s.regions, (std::vector<int>{30, 1, 2}));
}

TEST_F(SelectionDialogue, ThreeNamesPutLungAndAllOrgansAtFourAndFive) {
  console.push_list_box_choice({1});
  console.push_list_box_choice({5});
  const Selection s = run(3);
  EXPECT_EQ(s.region_list, (std::vector<std::string>{"R01", "R02", "R03", "Lung", "ALL ORGANS"}));
  EXPECT_EQ(s.region_name_count(), 3);
  EXPECT_EQ(s.regions, one_to(4));
  EXPECT_EQ(console.row_text(17), padded("R01 R02 R03 Lung "));
}

TEST_F(SelectionDialogue, TooManyRegionNamesAreRefused) {
  console.push_list_box_choice({1});
  console.push_list_box_choice({1});
  EXPECT_THROW(run(34), InputError);
  EXPECT_TRUE(console.list_boxes().empty());
}

}  // namespace
}  // namespace kestrane
