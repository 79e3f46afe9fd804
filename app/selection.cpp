// The age and target-region dialogue: list boxes, their results and the echo lines.
#include "app/selection.h"

#include <algorithm>
#include <numeric>

#include "app/screen_texts.h"
#include "input/data_sets.h"
#include "input/dose_rate_file.h"
#include "run/choice_lists.h"

namespace kestrane {

namespace {

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
  list.emplace_back(kAllAgesItemText);
  return list;
}

std::vector<std::string> make_region_list(const std::vector<std::string>& names) {
  std::vector<std::string> list(names);
  list.emplace_back(kLungItemText);
  list.emplace_back(kAllOrgansItemText);
  return list;
}

std::vector<int> ages_from_result(const ListBoxResult& choice) {
  if (contains(choice.items, kAllAgesItem)) return one_to(kAgeGroupCount);
  return within(choice.items, kAgeGroupCount);
}

std::vector<int> regions_from_result(const ListBoxResult& choice, int name_count) {
  const int lung = lung_region_number(static_cast<std::size_t>(name_count));
  if (contains(choice.items, lung + 1)) return one_to(lung);
  return within(choice.items, lung);
}

Selection select_ages_and_regions(Console& console, LineReader& reader) {
  return select_ages_and_regions(console, read_region_names(reader));
}

Selection select_ages_and_regions(Console& console, const std::vector<std::string>& names) {
  Selection selection;
  selection.age_list = make_age_list();
  selection.region_list = make_region_list(names);

  const ListBoxResult ages = console.list_box({.heading = kAgeBoxHeading,
                                               .instruction = kAgeBoxInstruction,
                                               .items = selection.age_list,
                                               .mode = ListBoxMode::multiple_choice});
  if (!ages.chosen()) return selection;
  selection.age_groups = ages_from_result(ages);
  echo_choice(console, kAgesEcho, selection.age_groups, selection.age_list);

  const ListBoxResult regions = console.list_box({.heading = kRegionBoxHeading,
                                                  .instruction = kRegionBoxInstruction,
                                                  .items = selection.region_list,
                                                  .mode = ListBoxMode::multiple_choice});
  if (!regions.chosen()) {
    // The label of the empty result, with nothing after it.
    console.write_text(kNoRegionsEcho);
    console.line_break();
    return selection;
  }
  selection.regions = regions_from_result(regions, selection.region_name_count());
  echo_choice(console, kRegionsEcho, selection.regions, selection.region_list);
  return selection;
}

}  // namespace kestrane
