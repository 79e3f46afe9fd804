// The age, region and nuclide lists of a run read into age-group and region numbers and
// nuclide names, each refusal in parts.
#include "run/choice_lists.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "base/ascii.h"
#include "input/input_error.h"

namespace kestrane {
namespace {

using ascii::equal_ignoring_case;
using ascii::trim;

// Region names are short; an escaped name is never cut in a list of the valid items.
constexpr std::size_t kWholeName = 4096;

// The value of an item made of decimal digits only; nothing for any other item.
std::optional<long long> item_number(std::string_view item) {
  if (item.empty() ||
      !std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  long long value = 0;
  const auto result = std::from_chars(item.data(), item.data() + item.size(), value);
  if (result.ec != std::errc()) return std::nullopt;
  return value;
}

std::vector<std::string_view> split_items(std::string_view list) {
  std::vector<std::string_view> items;
  for (;;) {
    const std::size_t comma = list.find(',');
    items.push_back(trim(list.substr(0, comma)));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return items;
}

// A text quoted in a message, its bytes that a terminal would act on escaped.
std::string quoted_text(std::string_view text) {
  // Built by appending, as GCC 12 takes "\"" + std::string for an overlapping copy.
  std::string quoted(1, '"');
  quoted.append(printable_excerpt(text, kWholeName)).push_back('"');
  return quoted;
}

// Reads a list whose items each stand for one number, or for all of them; `resolve`
// returns the number of an item (0 for "all", -1 for an unknown item).
template <typename Resolve, typename Describe>
std::vector<int> resolve_list(ChoiceField field, std::string_view label, std::string_view list,
                              const std::string& valid, int all_count, Resolve resolve,
                              Describe describe) {
  const auto refuse = [&](std::string reason) { throw ChoiceError(field, label, reason, valid); };
  if (trim(list).empty()) refuse("the list is empty.");
  const std::vector<std::string_view> items = split_items(list);
  std::vector<int> result;
  for (std::string_view item : items) {
    if (item.empty()) {
      refuse("empty item in " + quoted_text(list) + ".");
    }
    const int number = resolve(item);
    if (number < 0) {
      refuse("unknown item " + quoted_text(item) + ".");
    }
    if (number == 0) {
      if (items.size() > 1) {
        refuse(quoted_text(item) + " already takes every item and cannot be combined with others.");
      }
      for (int i = 1; i <= all_count; ++i) result.push_back(i);
      return result;
    }
    if (std::find(result.begin(), result.end(), number) != result.end()) {
      refuse(quoted_text(item) + " repeats " + describe(number) + ".");
    }
    result.push_back(number);
  }
  return result;
}

}  // namespace

std::string_view field_name(ChoiceField field) {
  switch (field) {
    case ChoiceField::data_set:
      return "data-set";
    case ChoiceField::ages:
      return "ages";
    case ChoiceField::regions:
      return "regions";
    case ChoiceField::times:
      return "times";
    case ChoiceField::nuclides:
      return "nuclides";
    case ChoiceField::plot:
      return "plot";
    case ChoiceField::threads:
      return "threads";
    case ChoiceField::output:
      return "output";
    case ChoiceField::before:
      return "before";
    case ChoiceField::after:
      return "after";
    case ChoiceField::to_age:
      return "to-age";
    case ChoiceField::scheme:
      return "scheme";
  }
  return "choice";
}

ChoiceError::ChoiceError(ChoiceField field, std::string_view label, std::string reason,
                         std::string valid)
    : std::invalid_argument(std::string(label) + ": " + reason +
                            (valid.empty() ? "" : " Valid items: " + valid + ".")),
      field_(field),
      reason_(std::move(reason)),
      valid_(std::move(valid)) {}

namespace {

template <std::size_t N>
std::string model_list(const std::array<std::string_view, N>& names) {
  std::string list;
  for (const std::string_view name : names) {
    if (!list.empty()) list += ", ";
    list += name;
  }
  return list;
}

}  // namespace

std::string before_model_list() { return model_list(kBeforeModelNames); }
std::string after_model_list() { return model_list(kAfterModelNames); }

BeforeModel resolve_before_model(std::string_view name, std::string_view label) {
  if (const std::optional<BeforeModel> model = before_model_named(name)) return *model;
  throw ChoiceError(ChoiceField::before, label, "unknown model " + quoted_text(name) + ".",
                    before_model_list());
}

AfterModel resolve_after_model(std::string_view name, std::string_view label) {
  if (const std::optional<AfterModel> model = after_model_named(name)) return *model;
  throw ChoiceError(ChoiceField::after, label, "unknown model " + quoted_text(name) + ".",
                    after_model_list());
}

std::string region_name(int region, std::span<const std::string> names) {
  if (region == lung_region_number(names.size())) return std::string(kLungRegionName);
  if (region < 1 || static_cast<std::size_t>(region) > names.size()) {
    throw std::invalid_argument("region number " + std::to_string(region) + " has no name");
  }
  return names[static_cast<std::size_t>(region) - 1];
}

std::vector<int> resolve_age_list(std::string_view list, std::string_view label) {
  std::string valid = "1 to 6";
  for (const AgeGroup& group : kAgeGroups) valid += ", " + std::to_string(group.days);
  for (const AgeGroup& group : kAgeGroups) valid += ", " + std::string(trim(group.label));
  valid += ", all";

  const auto resolve = [](std::string_view item) -> int {
    if (equal_ignoring_case(item, "all") || equal_ignoring_case(item, "ALL AGES")) return 0;
    if (const auto number = item_number(item)) {
      if (*number >= 1 && *number <= kAgeGroupCount) return static_cast<int>(*number);
      for (int g = 1; g <= kAgeGroupCount; ++g) {
        if (kAgeGroups[static_cast<std::size_t>(g - 1)].days == *number) return g;
      }
      return -1;
    }
    for (int g = 1; g <= kAgeGroupCount; ++g) {
      if (equal_ignoring_case(item, trim(kAgeGroups[static_cast<std::size_t>(g - 1)].label))) {
        return g;
      }
    }
    return -1;
  };
  const auto describe = [](int g) {
    const AgeGroup& group = kAgeGroups[static_cast<std::size_t>(g - 1)];
    return "age group " + std::to_string(g) + " (" + std::string(trim(group.label)) + ", " +
           std::to_string(group.days) + " days)";
  };
  return resolve_list(ChoiceField::ages, label, list, valid, kAgeGroupCount, resolve, describe);
}

std::vector<int> resolve_region_list(std::string_view list, std::span<const std::string> names,
                                     std::string_view label) {
  const int lung = lung_region_number(names.size());
  std::string valid = "1 to " + std::to_string(lung);
  for (const std::string& name : names) valid += ", " + printable_excerpt(name, kWholeName);
  valid += ", Lung, all";

  // Numbers and keywords first: a name of the file never takes their place.
  const auto resolve = [&](std::string_view item) -> int {
    if (const auto number = item_number(item)) {
      return (*number >= 1 && *number <= lung) ? static_cast<int>(*number) : -1;
    }
    if (equal_ignoring_case(item, kLungRegionName)) return lung;
    if (equal_ignoring_case(item, "all") || equal_ignoring_case(item, "ALL ORGANS")) return 0;
    // A name as the file spells it chooses that region; otherwise a name that matches one
    // region without regard to case, and never one that matches two ("BB-Secretory" and
    // "bb-Secretory" are two regions).
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (item == names[k]) return static_cast<int>(k) + 1;
    }
    std::vector<std::size_t> matches;
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (equal_ignoring_case(item, names[k])) matches.push_back(k);
    }
    if (matches.size() > 1) {
      std::string spellings;
      for (std::size_t m = 0; m < matches.size(); ++m) {
        if (m > 0) spellings += m + 1 == matches.size() ? " and " : ", ";
        spellings += quoted_text(names[matches[m]]);
      }
      throw ChoiceError(ChoiceField::regions, label,
                        quoted_text(item) + " is ambiguous: it matches " + spellings +
                            " without regard to case; give the name as the file spells it or "
                            "the region number.",
                        valid);
    }
    if (matches.size() == 1) return static_cast<int>(matches.front()) + 1;
    return -1;
  };
  const auto describe = [&](int region) {
    return "region " + std::to_string(region) + " (" +
           printable_excerpt(region_name(region, names), kWholeName) + ")";
  };
  return resolve_list(ChoiceField::regions, label, list, valid, lung, resolve, describe);
}

std::vector<std::string> resolve_nuclide_list(std::string_view list, std::string_view label) {
  std::vector<std::string> names;
  std::vector<std::string> folded;
  for (const std::string_view item : split_items(list)) {
    if (item.empty()) throw ChoiceError(ChoiceField::nuclides, label, "an empty item in the list");
    std::string upper = ascii::to_upper(item);
    if (std::find(folded.begin(), folded.end(), upper) == folded.end()) {
      folded.push_back(std::move(upper));
      names.emplace_back(item);
    }
  }
  return names;
}

bool nuclide_chosen(std::span<const std::string> chosen, std::string_view nuclide) {
  if (chosen.empty()) return true;
  nuclide = ascii::trim_right(nuclide);
  return std::any_of(chosen.begin(), chosen.end(), [&](const std::string& name) {
    return equal_ignoring_case(ascii::trim_right(name), nuclide);
  });
}

}  // namespace kestrane
