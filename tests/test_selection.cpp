// Tests of the age and target-region dialogue: list-box results, the selected lists and the
// echo lines on the in-memory screen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/selection.h"
#include "input/line_reader.h"
#include "platform/memory_console.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

using kestrane::test_support::padded;

using namespace std::string_literals;

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

TEST(ListBoxItemNumbers, SplitsAtEveryNulAndKeepsOrder) {
  EXPECT_EQ(list_box_item_numbers(""), std::vector<int>{});
  EXPECT_EQ(list_box_item_numbers("2\0"s
                                  "4"),
            (std::vector<int>{2, 4}));
  EXPECT_EQ(list_box_item_numbers("6\0"s
                                  "1"),
            (std::vector<int>{6, 1}));
  EXPECT_EQ(list_box_item_numbers("12"), std::vector<int>{12});
  // One more field than NULs, an empty field reading as 0.
  EXPECT_EQ(list_box_item_numbers("3\0"s), (std::vector<int>{3, 0}));
}

TEST(AgesFromResult, AllAgesWithOrWithoutOthersGivesTheSixGroupsInOrder) {
  EXPECT_EQ(ages_from_result("7"), one_to(6));
  EXPECT_EQ(ages_from_result("5\0"s
                             "7\0"s
                             "2"),
            one_to(6));
  EXPECT_EQ(ages_from_result("7\0"s
                             "1"),
            one_to(6));
}

TEST(AgesFromResult, KeepsTheOrderOfTheResult) {
  EXPECT_EQ(ages_from_result("6\0"s
                             "1"),
            (std::vector<int>{6, 1}));
  EXPECT_EQ(ages_from_result("2\0"s
                             "4"),
            (std::vector<int>{2, 4}));
  EXPECT_EQ(ages_from_result(""), std::vector<int>{});
}

TEST(RegionsFromResult, TwentyNineNamesAllOrgansIsTheText31) {
  EXPECT_EQ(regions_from_result("31", 29), one_to(30));
  EXPECT_EQ(regions_from_result("4\0"s
                                "31\0"s
                                "30",
                                29),
            one_to(30));
  // Items 3 and 1 do not stand next to each other in the text.
  EXPECT_EQ(regions_from_result("3\0"s
                                "1",
                                29),
            (std::vector<int>{3, 1}));
  EXPECT_EQ(regions_from_result("30", 29), std::vector<int>{30});
  EXPECT_EQ(regions_from_result("29\0"s
                                "13\0"s
                                "1",
                                29),
            (std::vector<int>{29, 13, 1}));
}

TEST(RegionsFromResult, OtherNameCountsPlaceLungAndAllOrgansAfterTheNames) {
  // Three names: "Lung" is 4, "ALL ORGANS" 5.
  EXPECT_EQ(regions_from_result("5", 3), one_to(4));
  EXPECT_EQ(regions_from_result("2\0"s
                                "5",
                                3),
            one_to(4));
  EXPECT_EQ(regions_from_result("4\0"s
                                "2",
                                3),
            (std::vector<int>{4, 2}));
  // Eleven names: "ALL ORGANS" is 13, which items 1 and 3 do not make.
  EXPECT_EQ(regions_from_result("1\0"s
                                "3",
                                11),
            (std::vector<int>{1, 3}));
  EXPECT_EQ(regions_from_result("13", 11), one_to(12));
  // Thirty-three names, the most a region-name line may hold: "ALL ORGANS" is 35.
  EXPECT_EQ(regions_from_result("35", 33), one_to(34));
  EXPECT_EQ(regions_from_result("3\0"s
                                "5",
                                33),
            (std::vector<int>{3, 5}));
  // "31" is an ordinary region here.
  EXPECT_EQ(regions_from_result("31", 33), std::vector<int>{31});
}

TEST(RegionsFromResult, NumbersTheBoxNeverShowsAreDropped) {
  EXPECT_EQ(regions_from_result("0\0"s
                                "2\0"s
                                "9",
                                3),
            std::vector<int>{2});
  EXPECT_EQ(ages_from_result("8\0"s
                             "3"),
            std::vector<int>{3});
}

class SelectionDialogue : public ::testing::Test {
 protected:
  // The cursor where the title screen leaves it: after " Press any key to continue." on row 14.
  void SetUp() override { console.move_to(14, 28); }

  Selection run(int names = kStandardRegionNameCount) {
    LineReader reader = dose_rate_file(names);
    Selection s = select_ages_and_regions(console, reader);
    third_line = std::string(reader.read_line());
    return s;
  }

  MemoryConsole console;
  std::string third_line;
};

TEST_F(SelectionDialogue, ShowsBothListBoxesWithTheirArguments) {
  console.push_list_box_result(
      "2\0"s
      "4");
  console.push_list_box_result("30");
  const Selection s = run();

  ASSERT_EQ(console.list_boxes().size(), 2u);
  const RecordedListBox& ages = console.list_boxes()[0];
  EXPECT_EQ(ages.kind, 1);
  EXPECT_EQ(ages.arg2, 32766);
  EXPECT_EQ(ages.arg3, 32766);
  EXPECT_EQ(ages.instruction, "Multiple Select: Ctrl + Right Click");
  EXPECT_EQ(ages.heading, " Select Age(s) of Interest");
  EXPECT_EQ(ages.items, (std::vector<std::string>{"Infant  ", "1 y-old ", "5 y-old ", "10 y-old",
                                                  "15 y-old", "Adult   ", "ALL AGES"}));
  EXPECT_EQ(ages.arg7, 1);
  EXPECT_EQ(ages.mode, 3);
  EXPECT_EQ(ages.arg9, 0);

  const RecordedListBox& regions = console.list_boxes()[1];
  EXPECT_EQ(regions.kind, 3);
  EXPECT_EQ(regions.arg2, 32766);
  EXPECT_EQ(regions.arg3, 32766);
  EXPECT_EQ(regions.instruction, "Multiple Select: Ctrl + Left Click");
  EXPECT_EQ(regions.heading, " Select Target Regions");
  ASSERT_EQ(regions.items.size(), 31u);
  EXPECT_EQ(regions.items[0], "R01");
  EXPECT_EQ(regions.items[28], "R29");
  EXPECT_EQ(regions.items[29], "Lung");
  EXPECT_EQ(regions.items[30], "ALL ORGANS");
  EXPECT_EQ(regions.arg7, 1);
  EXPECT_EQ(regions.mode, 3);
  EXPECT_EQ(regions.arg9, 0);

  EXPECT_EQ(s.region_list, regions.items);
  EXPECT_EQ(s.age_list, ages.items);
  // The reader stands at the first header line.
  EXPECT_EQ(third_line, "H-3       100     F           2 1 L");
}

TEST_F(SelectionDialogue, EchoLinesByteForByte) {
  console.push_list_box_result(
      "2\0"s
      "4");
  console.push_list_box_result("30");
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
  console.push_list_box_result("7");
  console.push_list_box_result("1");
  const Selection s = run();
  EXPECT_EQ(s.age_groups, one_to(6));
  EXPECT_EQ(console.row_text(14), padded(std::string(27, ' ') + "Ages to be process  6 "));
  EXPECT_EQ(console.row_text(15), padded("Infant   1 y-old  5 y-old  10 y-old 15 y-old Adult    "));
  EXPECT_EQ(console.row_text(17), padded("R01 "));
}

TEST_F(SelectionDialogue, OrderOfTheResultIsKept) {
  console.push_list_box_result(
      "6\0"s
      "1");
  console.push_list_box_result(
      "3\0"s
      "1");
  const Selection s = run();
  EXPECT_EQ(s.age_groups, (std::vector<int>{6, 1}));
  EXPECT_EQ(s.regions, (std::vector<int>{3, 1}));
  EXPECT_EQ(console.row_text(15), padded("Adult    Infant   "));
  EXPECT_EQ(console.row_text(16), padded("Organs to be process  2 "));
  EXPECT_EQ(console.row_text(17), padded("R03 R01 "));
}

TEST_F(SelectionDialogue, AllOrgansGivesRegionsOneToThirtyNeverThirtyOne) {
  console.push_list_box_result("1");
  console.push_list_box_result(
      "5\0"s
      "31");
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
  console.push_list_box_result("");
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
  console.push_list_box_result("1");
  console.push_list_box_result("");
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
  EXPECT_EQ(console.list_boxes()[0].result,
            "6\0"s
            "1");
  EXPECT_EQ(s.age_groups, (std::vector<int>{6, 1}));
  EXPECT_EQ(s.regions, (std::vector<int>{30, 1, 2}));
}

TEST_F(SelectionDialogue, ThreeNamesPutLungAndAllOrgansAtFourAndFive) {
  console.push_list_box_result("1");
  console.push_list_box_result("5");
  const Selection s = run(3);
  EXPECT_EQ(s.region_list, (std::vector<std::string>{"R01", "R02", "R03", "Lung", "ALL ORGANS"}));
  EXPECT_EQ(s.region_name_count(), 3);
  EXPECT_EQ(s.regions, one_to(4));
  EXPECT_EQ(console.row_text(17), padded("R01 R02 R03 Lung "));
}

TEST_F(SelectionDialogue, TooManyRegionNamesAreRefused) {
  console.push_list_box_result("1");
  console.push_list_box_result("1");
  EXPECT_THROW(run(34), InputError);
  EXPECT_TRUE(console.list_boxes().empty());
}

}  // namespace
}  // namespace kestrane
