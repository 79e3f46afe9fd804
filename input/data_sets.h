// The two dose-rate data sets (their file names and file-name letters) and the six age groups
// at intake that a run chooses from.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kestrane {

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

}  // namespace kestrane
