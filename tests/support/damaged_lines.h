// A table of damaged data lines, shared by the tests of the readers of a data block and of the
// front ends: each a whole data line of a file of 29 region names, with what is said of it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kestrane::test_support {

struct DamagedLine {
  std::string name;
  std::string line;  // the data line: time 0, then the 29 rate fields
  // The refusal of the line, between "<file>, line <n>: " and ". Header line", whatever regions
  // are chosen; empty where the line is read.
  std::string reason;
  // Where the line is read: a line of the usual fields that reads the same, field by field.
  std::string reads_as;
};

inline void PrintTo(const DamagedLine& damaged, std::ostream* os) { *os << damaged.name; }

// The sound line that the cases change: time 0 and region column c holding c x 10^-11, all in
// the usual form; it is line 4 of the inhalation file of tests/data/app/run.
std::string sound_data_line();

// A broken field in each position, a line shifted by one character, a line cut short, rates
// below zero, and lines that are read: -0.000E+00 and blanks (0), a '+' lead and other forms.
std::vector<DamagedLine> damaged_lines();

}  // namespace kestrane::test_support
