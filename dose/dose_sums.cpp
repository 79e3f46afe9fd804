// The equivalent and effective doses of a record: each sum taken in one fixed order, so that
// every front end that writes them gets the same bits.
#include "dose/dose_sums.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kestrane {
namespace {

// The column of region number `region` in the run's columns.
int column_of(int region, std::span<const int> setup_regions) {
  const auto found = std::find(setup_regions.begin(), setup_regions.end(), region);
  if (found == setup_regions.end()) {
    throw std::invalid_argument("region " + std::to_string(region) +
                                " of the weighting scheme is not among the run's regions");
  }
  return static_cast<int>(found - setup_regions.begin());
}

// H of a column: low x low-table coefficient + high x high-table coefficient.
double region_dose(const DoseColumns& columns, const CoefficientTable& coef, int column,
                   std::size_t time) {
  const auto k = static_cast<std::size_t>(column);
  return columns.low * coef.coef[0][k][time] + columns.high * coef.coef[1][k][time];
}

}  // namespace

DoseColumns dose_columns(const WeightingScheme& scheme, const SchemeRegions& regions,
                         std::span<const int> setup_regions) {
  if (regions.tissues.size() != scheme.tissues.size()) {
    throw std::invalid_argument("the scheme's regions are not those of its tissues");
  }
  DoseColumns columns;
  columns.low = scheme.low;
  columns.high = scheme.high;
  for (std::size_t i = 0; i < scheme.tissues.size(); ++i) {
    DoseColumns::Tissue& tissue = columns.tissues.emplace_back();
    tissue.weight = scheme.tissues[i].weight;
    for (const auto& [region, fraction] : regions.tissues[i]) {
      tissue.parts.emplace_back(column_of(region, setup_regions), fraction);
    }
  }
  columns.remainder_weight = scheme.remainder_weight;
  for (const int region : regions.remainder) {
    columns.remainder.push_back(column_of(region, setup_regions));
  }
  columns.split = scheme.split;
  return columns;
}

void record_doses(const DoseColumns& columns, const CoefficientTable& coef, std::size_t time_index,
                  std::span<double> out) {
  const std::size_t tissues = columns.tissues.size();
  double effective = 0;
  for (std::size_t i = 0; i < tissues; ++i) {
    double dose = 0;
    for (const auto& [column, fraction] : columns.tissues[i].parts) {
      dose += fraction * region_dose(columns, coef, column, time_index);
    }
    out[i] = dose;
    effective += columns.tissues[i].weight * dose;
  }

  // The remainder: the mean of its regions, and the first region of the largest dose.
  const std::size_t count = columns.remainder.size();
  double sum = 0;
  double largest = 0;
  std::size_t largest_at = 0;
  for (std::size_t j = 0; j < count; ++j) {
    const double dose = region_dose(columns, coef, columns.remainder[j], time_index);
    sum += dose;
    if (j == 0 || dose > largest) {
      largest = dose;
      largest_at = j;
    }
  }
  const double remainder = count == 0 ? 0.0 : sum / static_cast<double>(count);
  out[tissues] = remainder;

  // The split: a remainder region whose dose exceeds every tissue's takes half the weight,
  // the mean of the other remainder regions the other half.
  bool split = columns.split && count >= 2;
  for (std::size_t i = 0; split && i < tissues; ++i) split = largest > out[i];
  if (split) {
    double others = 0;
    for (std::size_t j = 0; j < count; ++j) {
      if (j != largest_at) others += region_dose(columns, coef, columns.remainder[j], time_index);
    }
    const double half = columns.remainder_weight / 2;
    effective += half * largest + half * (others / static_cast<double>(count - 1));
  } else {
    effective += columns.remainder_weight * remainder;
  }
  out[tissues + 1] = effective;
}

}  // namespace kestrane
