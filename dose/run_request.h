// The choice of a run resolved in one place for every front end (the dialogue, kestrane-batch
// and the Python module): the age and region lists as kestrane-batch documents them, the
// composite "Lung" region, and the request that becomes the record loop's RunSetup.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dose/record_loop.h"
#include "input/data_sets.h"

namespace kestrane {

// A choice of ages or regions that cannot be resolved; the message names the list (its
// `label`, "--ages"), what is wrong and the valid items.
class ChoiceError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// The name of the composite region, which follows the file's own regions.
inline constexpr std::string_view kLungRegionName = "Lung";

// The region number of "Lung" for a region-name line of `name_count` names.
constexpr int lung_region_number(std::size_t name_count) {
  return static_cast<int>(name_count) + 1;
}

// The name of region `region` (1-based): the file's name, or "Lung" after them.
std::string region_name(int region, std::span<const std::string> names);

// The age groups of an age list: comma-separated items, each an age-group number 1 to 6, the
// age in days of an age group (100, 365, 1825, 3650, 5475, 7300), an age-list text without
// regard to case and surrounding blanks ("infant", "1 y-old", "adult"), or "all" (also
// "ALL AGES") for groups 1 to 6. Kept in the order given. Throws ChoiceError, listing the
// valid items, for an unknown, empty or repeated item.
std::vector<int> resolve_age_list(std::string_view list, std::string_view label = "--ages");

// The region numbers of a region list for the names of the region-name line: comma-separated
// items, each a region number 1 to n + 1, "Lung" (region n + 1), "all" (also "ALL ORGANS")
// for regions 1 to n + 1, or a region name: as the file spells it, or else without regard to
// case when it matches only one region (one that matches two is refused as ambiguous, naming
// both spellings). Numbers and those
// keywords always mean what they say: a region of the file whose name is a number or a
// keyword is chosen by its number. Kept in the order given. Throws ChoiceError, listing the
// valid items (the file's names with every byte that is not printable escaped), for an
// unknown, empty or repeated item.
std::vector<int> resolve_region_list(std::string_view list, std::span<const std::string> names,
                                     std::string_view label = "--regions");

// The nuclides of a nuclide list: comma-separated names, each without its surrounding blanks,
// in the order given, a name repeated (without regard to case) once. Throws ChoiceError
// naming `label` for an empty item.
std::vector<std::string> resolve_nuclide_list(std::string_view list,
                                              std::string_view label = "--nuclides");

// Whether `nuclide` (a header's field) is one of `chosen`, compared without regard to case
// and trailing blanks; an empty `chosen` takes every nuclide.
bool nuclide_chosen(std::span<const std::string> chosen, std::string_view nuclide);

// A run's choice, resolved: what the record loop needs, whichever front end made it.
struct RunRequest {
  DataSet data_set = DataSet::inhalation;
  std::vector<double> times;            // integration times in days, in order
  std::vector<int> age_groups;          // age-group numbers 1..6, in the order of the files
  std::vector<int> regions;             // region numbers, in the order of the columns
  std::vector<std::string> file_names;  // the names of the file's region-name line
  std::vector<std::string> nuclides;    // only these nuclides; empty for every one
  int threads = 0;                      // as RunSetup::threads
};

// The record loop's setup of a request: "Lung" after the file's names, the selected regions'
// names. Throws std::invalid_argument for a region number without a name.
RunSetup make_run_setup(const RunRequest& request);

}  // namespace kestrane
