// Reading the weighting-scheme file with toml++: every key checked, every weight a finite
// number of zero or more, the tissue and remainder weights adding up to 1, and each region in
// at most one of a tissue and the remainder.
#include "input/weighting_scheme.h"

#include <sys/stat.h>
#include <toml++/toml.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>

#include "base/ascii.h"
#include "input/input_error.h"
#include "platform/file_services.h"

namespace kestrane {
namespace {

// Names from the scheme are short; a quoted name is never cut.
constexpr std::size_t kWholeName = 4096;
// How far a weight sum may lie from 1.
constexpr double kWeightSumTolerance = 1e-6;
// The tissue name the remainder's dose takes; no tissue may have it.
constexpr std::string_view kRemainderName = "Remainder";
// The composite region after the file's own (run/choice_lists.h: names.size() + 1).
constexpr std::string_view kLungName = "Lung";

// A text from the scheme quoted in a message, its bytes that a terminal would act on escaped.
std::string quote_text(std::string_view text) {
  std::string out(1, '"');
  out.append(printable_excerpt(text, kWholeName)).push_back('"');
  return out;
}

// A number in the shortest form that reads back to the same double.
std::string shortest(double value) {
  std::array<char, 32> text{};
  const auto written = std::to_chars(text.data(), text.data() + text.size(), value);
  return std::string(text.data(), written.ptr);
}

std::int64_t line_of(const toml::source_region& source) {
  return static_cast<std::int64_t>(source.begin.line);
}
std::int64_t line_of(const toml::node& node) { return line_of(node.source()); }

// What a value is, for the refusal of a value of the wrong kind.
std::string_view kind_of(const toml::node& node) {
  switch (node.type()) {
    case toml::node_type::table:
      return "a table";
    case toml::node_type::array:
      return "an array";
    case toml::node_type::string:
      return "a string";
    case toml::node_type::integer:
      return "an integer";
    case toml::node_type::floating_point:
      return "a floating-point number";
    case toml::node_type::boolean:
      return "a boolean";
    case toml::node_type::date:
      return "a date";
    case toml::node_type::time:
      return "a time";
    case toml::node_type::date_time:
      return "a date-time";
    case toml::node_type::none:
      break;
  }
  return "nothing";
}

class SchemeReader {
 public:
  explicit SchemeReader(const std::string& file) : file_(file) {}

  [[noreturn]] void refuse(std::int64_t line, const std::string& reason) const {
    throw InputError::at_line(file_, line, reason);
  }

  // Refuses the first key of `table` (in the file's order) that is not one of `allowed`.
  void refuse_unknown_keys(const toml::table& table,
                           std::initializer_list<std::string_view> allowed, std::string_view where,
                           std::string_view keys) const {
    const toml::key* first = nullptr;
    for (const auto& [key, value] : table) {
      if (std::find(allowed.begin(), allowed.end(), key.str()) != allowed.end()) continue;
      if (first == nullptr || before(key.source(), first->source())) first = &key;
    }
    if (first != nullptr) {
      refuse(line_of(first->source()), "unknown key " + quote_text(first->str()) + " in " +
                                           std::string(where) + "; its keys are " +
                                           std::string(keys));
    }
  }

  // A weight or fraction: a finite number (integer or floating point) of zero or more.
  // `what` names it in the refusals; `missing_line` is where a missing one is refused.
  double weight(const toml::node* node, std::int64_t missing_line, const std::string& what) const {
    if (node == nullptr) refuse(missing_line, what + " is missing");
    double value = 0;
    if (const auto* integer = node->as_integer()) {
      value = static_cast<double>(integer->get());
    } else if (const auto* floating = node->as_floating_point()) {
      value = floating->get();
    } else {
      refuse(line_of(*node), what + " must be a number, not " + std::string(kind_of(*node)));
    }
    if (!std::isfinite(value)) {
      refuse(line_of(*node), what + " must be a finite number, not " + shortest(value));
    }
    if (value < 0) refuse(line_of(*node), what + " must not be negative: " + shortest(value));
    return value;
  }

  // A name: a string, which must be there.
  std::string name(const toml::node* node, std::int64_t missing_line,
                   const std::string& what) const {
    if (node == nullptr) refuse(missing_line, what + " has no name");
    const auto* text = node->as_string();
    if (text == nullptr) {
      refuse(line_of(*node),
             "the name of " + what + " must be a string, not " + std::string(kind_of(*node)));
    }
    // A name names a row of the dose files: an empty one would read as the effective dose's
    // row, and a line end or another control character would break the line.
    const std::string& value = text->get();
    if (ascii::trim(value).empty()) refuse(line_of(*node), "the name of " + what + " is empty");
    for (const char c : value) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte == 0x7f) {
        refuse(line_of(*node),
               "the name of " + what + " holds a control character: " + quote_text(value));
      }
    }
    return value;
  }

  // A table that must be there as one (`what` as "[radiation]").
  const toml::table& table(const toml::table& parent, std::string_view key,
                           const std::string& what) const {
    const toml::node* node = parent.get(key);
    if (node == nullptr) refuse(line_of(parent), "the scheme has no " + what);
    const auto* found = node->as_table();
    if (found == nullptr) {
      refuse(line_of(*node), what + " must be a table, not " + std::string(kind_of(*node)));
    }
    return *found;
  }

  SchemeTissue tissue(const toml::node& node) const {
    const auto* table = node.as_table();
    if (table == nullptr) {
      refuse(line_of(node),
             "each tissue must be a [[tissue]] table, not " + std::string(kind_of(node)));
    }
    SchemeTissue tissue;
    tissue.line = line_of(*table);
    refuse_unknown_keys(*table, {"name", "weight", "regions"}, "a [[tissue]]",
                        "name, weight and regions");
    tissue.name = name(table->get("name"), tissue.line, "a [[tissue]]");
    const std::string label = "tissue " + quote_text(tissue.name);
    tissue.weight = weight(table->get("weight"), tissue.line, "the weight of " + label);
    const toml::node* regions = table->get("regions");
    if (regions == nullptr) refuse(tissue.line, label + " has no regions");
    const auto* parts = regions->as_table();
    if (parts == nullptr) {
      refuse(line_of(*regions), "the regions of " + label +
                                    " must be a table of region names and fractions, as "
                                    "regions = { Liver = 1.0 }, not " +
                                    std::string(kind_of(*regions)));
    }
    if (parts->empty()) refuse(line_of(*regions), label + " has no regions");
    // The file's order, which the sums keep (a TOML table keeps its keys sorted).
    std::vector<std::pair<const toml::key*, const toml::node*>> ordered;
    for (const auto& [key, value] : *parts) ordered.emplace_back(&key, &value);
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
      return before(a.first->source(), b.first->source());
    });
    for (const auto& [key, value] : ordered) {
      SchemePart part;
      part.region = std::string(key->str());
      part.line = line_of(key->source());
      part.fraction =
          weight(value, part.line, "the fraction of " + quote_text(part.region) + " in " + label);
      tissue.regions.push_back(std::move(part));
    }
    return tissue;
  }

  void remainder(const toml::table& root, WeightingScheme& scheme) const {
    const toml::table& table = this->table(root, "remainder", "[remainder]");
    const std::int64_t line = line_of(table);
    refuse_unknown_keys(table, {"weight", "regions", "split"}, "[remainder]",
                        "weight, regions and split");
    scheme.remainder_weight = weight(table.get("weight"), line, "the remainder weight");
    const toml::node* regions = table.get("regions");
    if (regions == nullptr) refuse(line, "the remainder has no regions");
    const auto* list = regions->as_array();
    if (list == nullptr) {
      refuse(line_of(*regions), "the remainder's regions must be an array of region names, not " +
                                    std::string(kind_of(*regions)));
    }
    if (list->empty()) refuse(line_of(*regions), "the remainder has no regions");
    for (const toml::node& item : *list) {
      const auto* text = item.as_string();
      if (text == nullptr) {
        refuse(line_of(item),
               "each region of the remainder must be a string, not " + std::string(kind_of(item)));
      }
      scheme.remainder.push_back(text->get());
      scheme.remainder_lines.push_back(line_of(item));
    }
    if (const toml::node* split = table.get("split")) {
      const auto* flag = split->as_boolean();
      if (flag == nullptr) {
        refuse(line_of(*split), "split must be true or false, not " + std::string(kind_of(*split)));
      }
      scheme.split = flag->get();
    }
  }

  // The refusals across the parts: tissue names, the weight sum, regions twice.
  void check_whole(const WeightingScheme& scheme, std::int64_t sum_line) const {
    for (std::size_t i = 0; i < scheme.tissues.size(); ++i) {
      const SchemeTissue& tissue = scheme.tissues[i];
      if (tissue.name == kRemainderName) {
        refuse(tissue.line, "a tissue may not be named " + quote_text(kRemainderName) +
                                ", the name of the remainder's dose");
      }
      for (std::size_t j = 0; j < i; ++j) {
        if (scheme.tissues[j].name == tissue.name) {
          refuse(tissue.line, "tissue " + quote_text(tissue.name) +
                                  " is named twice (first at line " +
                                  std::to_string(scheme.tissues[j].line) + ")");
        }
      }
    }
    double sum = 0;
    for (const SchemeTissue& tissue : scheme.tissues) sum += tissue.weight;
    sum += scheme.remainder_weight;
    if (!(std::fabs(sum - 1.0) <= kWeightSumTolerance)) {
      refuse(sum_line, "the tissue and remainder weights add up to " + shortest(sum) + ", not 1");
    }
    for (std::size_t i = 0; i < scheme.remainder.size(); ++i) {
      const std::string& region = scheme.remainder[i];
      const std::int64_t line = scheme.remainder_lines[i];
      for (std::size_t j = 0; j < i; ++j) {
        if (scheme.remainder[j] == region) {
          refuse(line, "region " + quote_text(region) +
                           " is twice in the remainder (first at line " +
                           std::to_string(scheme.remainder_lines[j]) + ")");
        }
      }
      for (const SchemeTissue& tissue : scheme.tissues) {
        for (const SchemePart& part : tissue.regions) {
          if (part.region == region) {
            refuse(line, "region " + quote_text(region) + " is in the remainder and in tissue " +
                             quote_text(tissue.name) + " (line " + std::to_string(part.line) + ")");
          }
        }
      }
    }
  }

 private:
  static bool before(const toml::source_region& a, const toml::source_region& b) {
    return a.begin.line != b.begin.line ? a.begin.line < b.begin.line
                                        : a.begin.column < b.begin.column;
  }

  const std::string& file_;
};

}  // namespace

WeightingScheme parse_weighting_scheme(std::string_view text, const std::string& shown_name) {
  const SchemeReader reader(shown_name);
  toml::table root;
  try {
    root = toml::parse(text, std::string_view(shown_name));
  } catch (const toml::parse_error& error) {
    reader.refuse(line_of(error.source()),
                  "the file is not TOML: " + printable_excerpt(error.description(), kWholeName));
  }
  reader.refuse_unknown_keys(root, {"name", "radiation", "tissue", "remainder"}, "the scheme",
                             "name, radiation, tissue and remainder");
  WeightingScheme scheme;
  scheme.file = shown_name;
  const std::int64_t top = line_of(root);
  if (const toml::node* name = root.get("name")) {
    scheme.name = reader.name(name, top, "the scheme");
  } else {
    reader.refuse(top, "the scheme has no name");
  }

  const toml::table& radiation = reader.table(root, "radiation", "[radiation]");
  reader.refuse_unknown_keys(radiation, {"low", "high"}, "[radiation]", "low and high");
  scheme.low = reader.weight(radiation.get("low"), line_of(radiation), "the radiation weight low");
  scheme.high =
      reader.weight(radiation.get("high"), line_of(radiation), "the radiation weight high");

  if (const toml::node* tissues = root.get("tissue")) {
    const auto* list = tissues->as_array();
    if (list == nullptr) {
      reader.refuse(line_of(*tissues), "tissue must be an array of [[tissue]] tables, not " +
                                           std::string(kind_of(*tissues)));
    }
    for (const toml::node& item : *list) scheme.tissues.push_back(reader.tissue(item));
  }
  reader.remainder(root, scheme);
  const toml::table& remainder = *root.get("remainder")->as_table();
  const toml::node* remainder_weight = remainder.get("weight");
  reader.check_whole(scheme, line_of(*remainder_weight));
  return scheme;
}

WeightingScheme read_weighting_scheme(const std::filesystem::path& path,
                                      const std::string& shown_name) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    throw InputError::of_file(shown_name, "The weighting scheme " + shown_name + " was not found.");
  }
  if (!S_ISREG(info.st_mode)) {
    throw InputError::of_file(
        shown_name, shown_name + " is " + entry_kind(info.st_mode) +
                        (S_ISDIR(info.st_mode) ? ", not a file." : ", not a regular file."));
  }
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in || !bytes) {
    throw InputError::of_file(shown_name, "Unable to read " + shown_name + ".");
  }
  return parse_weighting_scheme(bytes.view(), shown_name);
}

SchemeRegions resolve_scheme_regions(const WeightingScheme& scheme,
                                     std::span<const std::string> region_names) {
  const int lung = static_cast<int>(region_names.size()) + 1;
  const auto number = [&](const std::string& name, std::int64_t line) {
    if (name == kLungName) return lung;
    const auto found = std::find(region_names.begin(), region_names.end(), name);
    if (found != region_names.end()) {
      return static_cast<int>(std::distance(region_names.begin(), found)) + 1;
    }
    std::string valid;
    for (const std::string& known : region_names) {
      valid.append(printable_excerpt(known, kWholeName)).append(", ");
    }
    valid.append(kLungName);
    throw InputError::at_line(scheme.file, line,
                              "unknown region " + quote_text(name) +
                                  " (the region names compare exactly); the regions are " + valid);
  };
  SchemeRegions regions;
  for (const SchemeTissue& tissue : scheme.tissues) {
    auto& parts = regions.tissues.emplace_back();
    for (const SchemePart& part : tissue.regions) {
      parts.emplace_back(number(part.region, part.line), part.fraction);
    }
  }
  for (std::size_t i = 0; i < scheme.remainder.size(); ++i) {
    regions.remainder.push_back(number(scheme.remainder[i], scheme.remainder_lines[i]));
  }
  return regions;
}

}  // namespace kestrane
