// The units of a dose-rate file's rates as its title line names them: a parenthesis such as
// "(Gy/d per Bq)" or "(Gy/d per Bq intake)", and the units of the coefficients and doses that
// follow from it, for the provenance files and the captions of the pictures.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrane {

struct RateUnits {
  std::string rate;         // "Gy/d per Bq": the unit as read, then "/d per Bq"
  std::string coefficient;  // "Gy/Bq": the rate integrated over days
  std::string dose;         // "Sv/Bq" for a gray with or without an SI prefix; empty otherwise
  bool operator==(const RateUnits&) const = default;
};

// The units named by the first parenthesis of `title` that reads "(<unit>/d per Bq" followed
// by ")" or by a blank and more words up to the parenthesis that closes it (parentheses
// inside it nested in pairs). <unit> is a run of characters other than blanks (spaces, TABs),
// '/', '(' and ')', right after the "(" or after blanks; blanks may also stand between "d",
// "per" and "Bq" (the rate is given with one space each) and before the ")"; the words are
// matched as written, case and all. A prefixed gray ("mGy") gives the same prefix to the
// sievert of the dose ("mSv/Bq"). None when no parenthesis of the title reads so.
std::optional<RateUnits> rate_units(std::string_view title);

}  // namespace kestrane
