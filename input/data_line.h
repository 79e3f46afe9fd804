// One data line of a record: the columns of its fields, the plan of which of them a run
// reads, and the reading of a line into the rate table (the usual fields many at a time in
// vector registers, any other by the exact rule) with the check of every other field of the
// line, and the refusal that names a faulty field.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "input/dose_rate_file.h"
#include "input/number_rule.h"
#include "input/record_tables.h"

namespace kestrane {

// Width of the time field and of each region column of a data line.
inline constexpr int kTimeWidth = 9, kColumnWidth = 10;
// Region columns that may be read: those of the longest region-name line accepted.
inline constexpr int kMaxColumn = kMaxRegionNames;
// The characters of a data line that any field read lies in: the text of a block keeps no
// more of a line, so that a record of long lines takes no more memory than a usual one.
inline constexpr std::size_t kDataLineColumns = kTimeWidth + kColumnWidth * kMaxColumn;

// "Lung" combines region columns 15 to 18 with these single-precision weights.
inline constexpr std::array<int, 4> kLungColumns{15, 16, 17, 18};
inline constexpr double kLungWeightOuter = static_cast<double>(0.1665f);
inline constexpr double kLungWeightInner = static_cast<double>(0.333f);

// A field named with its columns, for messages: "age field (columns 9-13)".
std::string field_name(std::string_view name, int first, int last);

// What a field that should hold one number holds instead, for a message.
std::string field_fault(std::string_view what, std::string_view field, FieldReading reading);

// Where the value of each selected-region position comes from on a data line, and which fields
// every line must hold whatever is read of it.
struct ColumnPlan {
  std::array<int, kMaxColumn> columns{};  // distinct region columns to parse, ascending
  int column_count = 0;
  std::array<int, kMaxSelectedRegions> source{};  // column of position k, or 0 for "Lung"
  // The region columns of every data line, 1 to line_columns: one for each region name of the
  // file (the composite "Lung" is the number after them), and at least as far as those read.
  int line_columns = 0;
  bool reads_every_column = false;     // the columns read are all the line's columns
  std::size_t shortest_full_line = 0;  // a line at least this long holds every field of a line
  // The run of columns read in vector registers in one pass: from the first column read to the
  // last, where those are at least two and at least half the run (the others are read as well).
  int run_first = 0, run_count = 0;
  // Positions 0 to in_order - 1 take region columns 1, 2, ... in turn, as with all regions.
  std::size_t in_order = 0;
  bool one_column = false;  // one region, not "Lung": one field of a line is read

  ColumnPlan(std::span<const int> regions, int lung_region) {
    std::array<bool, kMaxColumn + 1> wanted{};
    for (std::size_t k = 0; k < regions.size(); ++k) {
      const int r = regions[k];
      if (r == lung_region) {
        source[k] = 0;
        for (int c : kLungColumns) wanted[static_cast<std::size_t>(c)] = true;
      } else if (r >= 1 && r <= kMaxColumn) {
        source[k] = r;
        wanted[static_cast<std::size_t>(r)] = true;
      } else {
        throw std::invalid_argument("region number " + std::to_string(r) +
                                    " has no column in the dose-rate file");
      }
    }
    line_columns = std::clamp(lung_region - 1, 0, kMaxColumn);
    for (int c = 1; c <= kMaxColumn; ++c) {
      if (!wanted[static_cast<std::size_t>(c)]) continue;
      columns[static_cast<std::size_t>(column_count++)] = c;
      line_columns = std::max(line_columns, c);
    }
    reads_every_column = column_count == line_columns;
    shortest_full_line = static_cast<std::size_t>(kTimeWidth + kColumnWidth * line_columns);
    if (column_count >= 2) {
      const int first = columns[0];
      const int count = columns[static_cast<std::size_t>(column_count - 1)] - first + 1;
      if (count <= 2 * column_count) run_first = first, run_count = count;
    }
    while (in_order < regions.size() && source[in_order] == static_cast<int>(in_order) + 1) {
      ++in_order;
    }
    one_column = regions.size() == 1 && source[0] != 0;
  }
};

// Reading one data line: its time into x[i] and the selected regions into value[t][.][i], with
// the check of the whole line. False, with the tables partly written, when the line does not
// hold its time and every rate field (region columns 1 to plan.line_columns) in full, when one
// of them holds anything but one finite number with blanks around it (blanks only read as 0),
// or when a rate is below zero. The fields not read are looked at for their form alone (in
// vector registers), and by the exact rule only where that is not the plain " d.dddEsdd".
using StoreDataLine = bool (*)(std::string_view line, const ColumnPlan& plan,
                               std::size_t region_count, std::size_t t, std::size_t i,
                               RateTable& table);

// The reading of a line for the plan, chosen once for a block: of the plan's columns, or of
// its one column (the time and that field alone, without the frame of the many-column reading).
StoreDataLine data_line_store(const ColumnPlan& plan);

// Refuses a data line that its reading (data_line_store) refused, whatever columns the plan
// reads, as the reading of every column refuses it: the first field of the line (the time, then
// region columns 1 to plan.line_columns) that the line does not hold in full or that holds no
// sound number; where every field holds one, the first rate below zero, with its value.
[[noreturn]] void refuse_data_line(std::string_view line, std::int64_t line_number,
                                   const ColumnPlan& plan, const HeaderRecord& header,
                                   std::int64_t header_line, std::string_view file_name);

}  // namespace kestrane
