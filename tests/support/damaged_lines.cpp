// The table of damaged data lines, every refusal written out in full.
#include "tests/support/damaged_lines.h"

#include <cstddef>
#include <stdexcept>

#include "tests/support/test_support.h"

namespace kestrane::test_support {

namespace {

// `line` with region column `column` (from 1) replaced by the ten characters of `field`.
std::string with_field(std::string line, int column, const std::string& field) {
  if (field.size() != 10) throw std::logic_error("a rate field has ten characters: " + field);
  line.replace(static_cast<std::size_t>(10 * column - 1), 10, field);
  return line;
}

}  // namespace

std::string sound_data_line() {
  std::vector<double> rates;
  for (int c = 1; c <= 29; ++c) rates.push_back(c * 1e-11);
  return data_line(0.0, rates);
}

std::vector<DamagedLine> damaged_lines() {
  const std::string sound = sound_data_line();
  std::vector<DamagedLine> cases;
  // One character more before region column 4: that column reads "  4.000E-1", a sound number,
  // and the column after it holds the broken rest.
  std::string shifted = sound;
  shifted.insert(39, " ");
  shifted.pop_back();
  cases.push_back({"ShiftedByOneCharacter", shifted,
                   "the rate field of region column 5 (columns 50-59) holds \"1 5.000E-1\", not "
                   "one number with blanks around it",
                   ""});
  cases.push_back({"BrokenTime", "0.0.0E+00" + sound.substr(9),
                   "the time field (columns 1-9) holds \"0.0.0E+00\", not one number with blanks "
                   "around it",
                   ""});
  for (int c = 1; c <= 29; ++c) {
    const std::string columns = std::to_string(10 * c) + "-" + std::to_string(10 * c + 9);
    cases.push_back({"BrokenColumn" + std::to_string(c), with_field(sound, c, " 1.00 E-11"),
                     "the rate field of region column " + std::to_string(c) + " (columns " +
                         columns + ") holds \" 1.00 E-11\", not one number with blanks around it",
                     ""});
  }
  cases.push_back({"CutShort", sound.substr(0, 255),
                   "the data line ends after column 255, before the rate field of region column "
                   "25 (columns 250-259) that is read from it is complete",
                   ""});
  cases.push_back({"NotFinite", with_field(sound, 3, "    1E400 "),
                   "the rate field of region column 3 (columns 30-39) \"    1E400 \" is a number "
                   "too large to be read as a finite value",
                   ""});
  cases.push_back({"Negative", with_field(sound, 7, "-7.000E-11"),
                   "the rate field of region column 7 (columns 70-79) holds -7.000E-11, a rate "
                   "below zero; an absorbed dose rate cannot be negative",
                   ""});
  cases.push_back({"NegativeInAnotherForm", with_field(sound, 20, "  -2.0E-10"),
                   "the rate field of region column 20 (columns 200-209) holds -2.0E-10, a rate "
                   "below zero; an absorbed dose rate cannot be negative",
                   ""});
  // A broken field is named before a rate below zero earlier on the line.
  cases.push_back({"BrokenAfterNegative",
                   with_field(with_field(sound, 2, "-2.000E-11"), 21, "2.1OOE-10 "),
                   "the rate field of region column 21 (columns 210-219) holds \"2.1OOE-10 \", not "
                   "one number with blanks around it",
                   ""});
  cases.push_back({"NegativeZero", with_field(with_field(sound, 4, "-0.000E+00"), 25, "  -0.0E+0 "),
                   "", with_field(with_field(sound, 4, " 0.000E+00"), 25, " 0.000E+00")});
  cases.push_back({"BlankFields",
                   with_field(with_field(sound, 4, "          "), 26, "\t  \t      "), "",
                   with_field(with_field(sound, 4, " 0.000E+00"), 26, " 0.000E+00")});
  cases.push_back({"PlusLeadAndOtherForms",
                   with_field(with_field(with_field(sound, 4, "+4.000E-11"), 9, "9.0000E-11"), 28,
                              "  2.8d-10 "),
                   "", sound});
  return cases;
}

}  // namespace kestrane::test_support
