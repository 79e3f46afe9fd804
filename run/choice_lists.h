// The lists of a run's choice read in one place for every front end (the dialogue,
// kestrane-batch and the Python module): the age, region and nuclide lists as kestrane-batch
// documents them, the composite "Lung" region, and the refusal of a choice in parts.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "dose/tail_rows.h"
#include "input/data_sets.h"

namespace kestrane {

// What a refused choice is about.
enum class ChoiceField {
  data_set,
  ages,
  regions,
  times,
  nuclides,
  plot,
  threads,
  output,
  before,
  after,
  to_age,
  scheme
};

// The name of a field as the module's keywords and kestrane-batch's options (after "--")
// spell it: "ages", "regions", "times", "nuclides", "plot", ...
std::string_view field_name(ChoiceField field);

// A choice that cannot be resolved, in parts: what it is about, the reason ("unknown item
// \"8\"."), and the valid items where there is a list of them. The message is "<label>:
// <reason>", then " Valid items: <valid>." where there are any; `label` is the field's name as
// the front end calls it ("--ages" on the command line, "ages" in Python).
class ChoiceError : public std::invalid_argument {
 public:
  ChoiceError(ChoiceField field, std::string_view label, std::string reason,
              std::string valid = {});
  ChoiceField field() const { return field_; }
  const std::string& reason() const { return reason_; }
  const std::string& valid() const { return valid_; }

 private:
  ChoiceField field_;
  std::string reason_;
  std::string valid_;
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

// The rate model before the first or after the last tabulated time of a name ("extend",
// "zero", "constant", "linear" before; "extend", "zero", "constant", "exponential" after),
// without regard to case. Throws ChoiceError naming `label` and listing the valid models for
// any other name.
BeforeModel resolve_before_model(std::string_view name, std::string_view label = "--before");
AfterModel resolve_after_model(std::string_view name, std::string_view label = "--after");

// The valid models as a refusal lists them: "extend, zero, constant, linear".
std::string before_model_list();
std::string after_model_list();

// Whether `nuclide` (a header's field) is one of `chosen`, compared without regard to case
// and trailing blanks; an empty `chosen` takes every nuclide.
bool nuclide_chosen(std::span<const std::string> chosen, std::string_view nuclide);

}  // namespace kestrane
