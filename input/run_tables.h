// Shared run tables of Kestrane: data sets, age groups, capacities, rate and coefficient tables.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kestrane {

inline constexpr int kMaxTimePoints = 150;        // time points per record
inline constexpr int kMaxRegionNames = 33;        // names on the region-name line
inline constexpr int kMaxSelectedRegions = 35;    // rows of the rate and coefficient tables
inline constexpr int kMaxIntegrationTimes = 100;  // entries of the integration-time list
inline constexpr int kAgeGroupCount = 6;
inline constexpr int kAdultThresholdDays = 7299;  // adult group takes every age above this

// The two dose-rate data sets.
enum class DataSet { inhalation, ingestion };

// "h" for inhalation, "g" for ingestion: the letter in coefficient file names.
constexpr char data_set_letter(DataSet ds) { return ds == DataSet::inhalation ? 'h' : 'g'; }

// File name of a data set inside DATA ("KVR13INH.DRT" / "KVR13ING.DRT").
constexpr std::string_view data_set_file_name(DataSet ds) {
  return ds == DataSet::inhalation ? "KVR13INH.DRT" : "KVR13ING.DRT";
}

struct AgeGroup {
  std::string_view label;  // list text, exactly eight characters
  std::int32_t days;       // age at intake in days
};

// Age groups 1..6; kAgeGroups[g - 1] is age group g.
inline constexpr std::array<AgeGroup, kAgeGroupCount> kAgeGroups{{
    {"Infant  ", 100},
    {"1 y-old ", 365},
    {"5 y-old ", 1825},
    {"10 y-old", 3650},
    {"15 y-old", 5475},
    {"Adult   ", 7300},
}};

// Times and rates of one record. Index 0-based throughout:
// x[i] is time point i + 1; value[t][k][i] is table t (0 low, 1 high), selected-region
// position k + 1, time point i + 1.
struct RateTable {
  std::array<double, kMaxTimePoints> x{};
  std::array<std::array<std::array<double, kMaxTimePoints>, kMaxSelectedRegions>, 2> value{};
};

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
};

}  // namespace kestrane
