// The age and target-region dialogue: two list boxes, the echo of each choice on the console,
// and the selected-age and selected-region lists that the rest of the run works from.
#pragma once

#include <string>
#include <vector>

#include "input/line_reader.h"
#include "ui/console.h"

namespace kestrane {

// Item number of "ALL AGES" in the age list box.
inline constexpr int kAllAgesItem = 7;

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

// The selected-age list for the choice in the age list box: 1..6 when "ALL AGES" (item 7)
// is among the chosen items, otherwise the chosen age groups in their order (other numbers,
// which the box never shows, are dropped). Empty when nothing was chosen.
std::vector<int> ages_from_result(const ListBoxResult& choice);

// The selected-region list for the choice in the region list box, with `name_count` names on
// the region-name line: regions 1..n + 1 (every region of the file and "Lung") when "ALL
// ORGANS" (item n + 2) is among the chosen items, otherwise the chosen items in their order.
// Numbers the box never shows (outside 1..n + 1) are dropped, so the list only ever names
// real regions.
std::vector<int> regions_from_result(const ListBoxResult& choice, int name_count);

// Runs the dialogue on the dose-rate file `reader`, opened with nothing read: reads its title
// and region-name lines, shows the age list box and, unless it was closed without a choice,
// the region list box, and echoes each choice at the cursor. Afterwards the reader stands at
// the first header line. Either list may come back empty; the run driver then stops the run.
// Throws InputError when the region-name line is refused.
Selection select_ages_and_regions(Console& console, LineReader& reader);
// The same for the names of a region-name line already read.
Selection select_ages_and_regions(Console& console, const std::vector<std::string>& names);

}  // namespace kestrane
