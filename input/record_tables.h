// The tables of one nuclide record and their capacities: the tabulated times and dose rates
// read from the file, and the coefficients integrated from them.
#pragma once

#include <array>
#include <cstdint>

namespace kestrane {

inline constexpr int kMaxTimePoints = 150;        // time points per record
inline constexpr int kMaxRegionNames = 33;        // names on the region-name line
inline constexpr int kMaxSelectedRegions = 35;    // rows of the rate and coefficient tables
inline constexpr int kMaxIntegrationTimes = 100;  // entries of the integration-time list

// Times and rates of one record. Index 0-based throughout:
// x[i] is time point i + 1; value[t][k][i] is table t (0 low, 1 high), selected-region
// position k + 1, time point i + 1.
struct RateTable {
  std::array<double, kMaxTimePoints> x{};
  std::array<std::array<std::array<double, kMaxTimePoints>, kMaxSelectedRegions>, 2> value{};
};

// The smallest magnitude that the numbers of a coefficient file cannot show: they are printed
// in single precision, where this (halfway from the largest single-precision number to 2^128)
// and all above it round to infinity, which would print one column too wide.
inline constexpr double kCoefficientFileLimit = 0x1.ffffffp127;

// Coefficients of one record: coef[t][k][m] is table t (0 low, 1 high), selected-region
// position k + 1, integration time m + 1.
struct CoefficientTable {
  using Cells =
      std::array<std::array<std::array<double, kMaxIntegrationTimes>, kMaxSelectedRegions>, 2>;
  Cells coef{};
  // outside[t][k][m]: the part of coef[t][k][m] (the integral from 0 to T) that lies outside
  // [first_time, last_time], where the end pieces of the interpolant are continued; 0 where
  // the integral lies wholly inside, for a table not integrated and for one time point.
  Cells outside{};
  double first_time = 0;  // x(1) and x(N) of the record
  double last_time = 0;
  // Whether table t was integrated by the interpolant (false for one time point and for a
  // table the code does not name).
  std::array<bool, 2> integrated{};
  // How many of the coefficients past the last tabulated time had an exponential after-part
  // that fell back to constant (rates that do not fall); 0 with any other after-model.
  std::int64_t tail_fallbacks = 0;
};

}  // namespace kestrane
