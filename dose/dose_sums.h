// Equivalent and effective doses of one record from its absorbed dose coefficients, by a
// weighting scheme laid on the run's coefficient-table columns.
#pragma once

#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "input/record_tables.h"
#include "input/weighting_scheme.h"

namespace kestrane {

// The scheme on the run's coefficient-table columns (0-based positions k of coef[t][k][m]).
struct DoseColumns {
  double low = 0, high = 0;  // radiation weights of the low and high tables
  struct Tissue {
    double weight = 0;
    std::vector<std::pair<int, double>> parts;  // column, fraction; in the scheme's order
  };
  std::vector<Tissue> tissues;
  double remainder_weight = 0;
  std::vector<int> remainder;  // columns, in the scheme's order
  bool split = false;

  // How many values record_doses writes: the tissues, the remainder, the effective dose.
  std::size_t value_count() const { return tissues.size() + 2; }
};

// The scheme's regions on the columns of a run whose region numbers, in column order, are
// `setup_regions` (RunSetup::regions); a region chosen twice is taken at its first column.
// Throws std::invalid_argument for a scheme region that is not among them.
DoseColumns dose_columns(const WeightingScheme& scheme, const SchemeRegions& regions,
                         std::span<const int> setup_regions);

// The doses of integration time `time_index` (0-based m) of a record's coefficients, into
// `out` (at least value_count() values): the equivalent dose of each tissue in order, that
// of the remainder, then the effective dose. A table the record does not hold reads 0.
// Allocates nothing.
void record_doses(const DoseColumns& columns, const CoefficientTable& coef, std::size_t time_index,
                  std::span<double> out);

}  // namespace kestrane
