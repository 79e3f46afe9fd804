// The weighting-scheme file (TOML): the radiation weights of the dose-rate file's two tables,
// the tissues with their weights and the regions that make them up, and the remainder. Read
// and checked here; the region names are looked up on a dose-rate file's region-name line.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrane {

// One region of a tissue and the fraction of the tissue's dose it carries.
struct SchemePart {
  std::string region;  // a region name of the dose-rate file, or "Lung"
  double fraction = 0;
  std::int64_t line = 0;  // the line of the scheme file that names it
};

struct SchemeTissue {
  std::string name;
  double weight = 0;
  std::vector<SchemePart> regions;  // in the file's order
  std::int64_t line = 0;            // the line of its [[tissue]] header
};

struct WeightingScheme {
  std::string file;          // the scheme file as its refusals name it (what the user typed)
  std::string name;          // its `name`
  double low = 0, high = 0;  // radiation weights of the low and high tables
  std::vector<SchemeTissue> tissues;  // in the file's order
  double remainder_weight = 0;
  std::vector<std::string> remainder;         // the remainder's regions, in the file's order
  std::vector<std::int64_t> remainder_lines;  // the line naming each of them
  bool split = false;                         // `split` (false when absent)
};

// The scheme in `text`, its refusals naming `shown_name`. Throws InputError at the offending
// line for a text that is not TOML and for any scheme this program does not take (see the
// README's "Doses").
WeightingScheme parse_weighting_scheme(std::string_view text, const std::string& shown_name);

// The scheme in the file at `path`: a regular file only, a missing one or a folder named as
// such; then parse_weighting_scheme.
WeightingScheme read_weighting_scheme(const std::filesystem::path& path,
                                      const std::string& shown_name);

// The scheme's region names as region numbers of a region-name line of `region_names`
// (1-based; "Lung" is region_names.size() + 1): each tissue's parts with their fractions, in
// order, and the remainder's regions. Names compare exactly. Throws InputError at the line of
// a name the region-name line does not hold, listing the valid names.
struct SchemeRegions {
  std::vector<std::vector<std::pair<int, double>>> tissues;  // region number, fraction
  std::vector<int> remainder;
};
SchemeRegions resolve_scheme_regions(const WeightingScheme& scheme,
                                     std::span<const std::string> region_names);

}  // namespace kestrane
