// The age and target-region dialogue: list boxes, their results and the echo lines.
#include "app/selection.h"

#include <algorithm>
#include <numeric>

#include "input/dose_rate_file.h"
#include "input/run_tables.h"

namespace kestrane {

namespace {

constexpr std::string_view kAllAgesText = "ALL AGES";
constexpr std::string_view kLungText = "Lung";
constexpr std::string_view kAllOrgansText = "ALL ORGANS";

// A count as the console shows a number: the sign place (a blank), the digits, a blank.
std::string console_number(std::size_t count) {
  std::string text(1, ' ');
  return text.append(std::to_string(count)).append(1, ' ');
}

// "<title>" with the count, a line break, then every chosen item and a blank on one line.
void echo_choice(Console& console, std::string_view title, const std::vector<int>& numbers,
                 const std::vector<std::string>& items) {
  console.write_text(title);
  console.write_text(console_number(numbers.size()));
  console.line_break();
  for (int number : numbers) {
    console.write_text(items[static_cast<std::size_t>(number - 1)]);
    console.write_text(" ");
  }
  console.line_break();
}

bool contains(const std::vector<int>& numbers, int number) {
  return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

// The numbers 1..count.
std::vector<int> one_to(int count) {
  std::vector<int> numbers(static_cast<std::size_t>(std::max(count, 0)));
  std::iota(numbers.begin(), numbers.end(), 1);
  return numbers;
}

// The numbers in order, without those outside 1..highest.
std::vector<int> within(std::vector<int> numbers, int highest) {
  std::erase_if(numbers, [highest](int n) { return n < 1 || n > highest; });
  return numbers;
}

}  // namespace

std::vector<std::string> make_age_list() {
  std::vector<std::string> list;
  for (const AgeGroup& group : kAgeGroups) list.emplace_back(group.label);
  list.emplace_back(kAllAgesText);
  return list;
}

std::vector<std::string> make_region_list(const std::vector<std::string>& names) {
  std::vector<std::string> list(names);
  list.emplace_back(kLungText);
  list.emplace_back(kAllOrgansText);
  return list;
}

std::vector<int> list_box_item_numbers(std::string_view result) {
  std::vector<int> numbers;
  if (result.empty()) return numbers;
  for (;;) {
    const std::size_t nul = result.find('\0');
    numbers.push_back(parse_integer(result.substr(0, nul)));
    if (nul == std::string_view::npos) break;
    result.remove_prefix(nul + 1);
  }
  return numbers;
}

std::vector<int> ages_from_result(std::string_view result) {
  const std::vector<int> numbers = list_box_item_numbers(result);
  // With seven items the field test and a search for the character "7" agree.
  if (contains(numbers, kAllAgesItem)) return one_to(kAgeGroupCount);
  return within(numbers, kAgeGroupCount);
}

std::vector<int> regions_from_result(std::string_view result, int name_count) {
  const std::vector<int> numbers = list_box_item_numbers(result);
  const int lung = name_count + 1;
  const bool all_organs = name_count == kStandardRegionNameCount
                              ? result.find("31") != std::string_view::npos
                              : contains(numbers, name_count + 2);
  if (all_organs) return one_to(lung);
  return within(numbers, lung);
}

Selection select_ages_and_regions(Console& console, LineReader& reader) {
  Selection selection;
  selection.age_list = make_age_list();
  selection.region_list = make_region_list(read_region_names(reader));

  const std::string ages =
      ConsoleListBox(console, 1, 32766, 32766, "Multiple Select: Ctrl + Right Click",
                     " Select Age(s) of Interest", selection.age_list, 1, 3, 0);
  if (ages.empty()) return selection;
  selection.age_groups = ages_from_result(ages);
  echo_choice(console, "Ages to be process ", selection.age_groups, selection.age_list);

  const std::string regions =
      ConsoleListBox(console, 3, 32766, 32766, "Multiple Select: Ctrl + Left Click",
                     " Select Target Regions", selection.region_list, 1, 3, 0);
  if (regions.empty()) {
    console.write_text("Result$ = ");
    console.write_text(regions);
    console.line_break();
    return selection;
  }
  selection.regions = regions_from_result(regions, selection.region_name_count());
  echo_choice(console, "Organs to be process ", selection.regions, selection.region_list);
  return selection;
}

}  // namespace kestrane
