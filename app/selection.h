// The age and target-region dialogue: two list boxes, the echo of each choice on the console,
// and the selected-age and selected-region lists that the rest of the run works from.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "input/line_reader.h"
#include "platform/console.h"

namespace kestrane {

// Item number of "ALL AGES" in the age list box.
inline constexpr int kAllAgesItem = 7;
// The number of names on the region-name line of both data sets.
inline constexpr int kStandardRegionNameCount = 29;

// What the dialogue fills. Numbers count from 1, as the list boxes show them.
struct Selection {
  std::vector<std::string> age_list;     // the seven age-list items, "ALL AGES" last
  std::vector<int> age_groups;           // age-group numbers 1..6, in the order of the result
  std::vector<std::string> region_list;  // the file's n names, "Lung", "ALL ORGANS"
  std::vector<int> regions;              // region numbers 1..n+1, in the order of the result

  // Number of names on the region-name line (n): "Lung" is region n + 1.
  int region_name_count() const { return static_cast<int>(region_list.size()) - 2; }
};

// The seven items of the age list box.
std::vector<std::string> make_age_list();

// The region list box items for the file's names: the names, "Lung", "ALL ORGANS".
std::vector<std::string> make_region_list(const std::vector<std::string>& names);

// The item numbers of a multiple-choice list-box result: the text split at every NUL, each
// field read by the numeric reading rule and rounded to the nearest integer (ties to even).
// An empty result gives no fields; otherwise there is one more field than NULs.
std::vector<int> list_box_item_numbers(std::string_view result);

// The selected-age list for an age list-box result: 1..6 when "ALL AGES" (item 7) is one of
// its fields, otherwise the fields in their order. Empty for an empty result.
std::vector<int> ages_from_result(std::string_view result);

// The selected-region list for a region list-box result, with `name_count` names on the
// region-name line. "ALL ORGANS" (item n + 2) among the chosen items gives regions 1..n + 1
// (every region of the file and "Lung"). For the 29 names of both data sets it is recognised
// as it always has been, by the two characters "31" anywhere in the result; for another n, by
// a field whose number is n + 2. Otherwise the fields in their order. Numbers the box never
// shows (outside 1..n + 1) are dropped, so the list only ever names real regions.
std::vector<int> regions_from_result(std::string_view result, int name_count);

// Runs the dialogue on the dose-rate file `reader`, opened with nothing read: reads its title
// and region-name lines, shows the age list box and, unless it was closed without a choice,
// the region list box, and echoes each choice at the cursor. Afterwards the reader stands at
// the first header line. Either list may come back empty; the run driver then stops the run.
// Throws InputError when the region-name line is refused.
Selection select_ages_and_regions(Console& console, LineReader& reader);

}  // namespace kestrane
