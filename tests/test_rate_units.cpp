// Tests of the units read from a dose-rate file's title line: which parentheses name them and
// what the rate, coefficient and dose units are then.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "input/rate_units.h"

namespace kestrane {

void PrintTo(const RateUnits& units, std::ostream* os) {
  *os << "{" << units.rate << " | " << units.coefficient << " | " << units.dose << "}";
}

namespace {

struct TitleCase {
  const char* name;
  std::string title;
  std::optional<RateUnits> units;
};

void PrintTo(const TitleCase& c, std::ostream* os) { *os << c.name; }

const RateUnits kGray{"Gy/d per Bq", "Gy/Bq", "Sv/Bq"};

class TitleUnits : public ::testing::TestWithParam<TitleCase> {};

TEST_P(TitleUnits, AreThoseOfTheFirstParenthesisThatNamesThem) {
  const TitleCase& c = GetParam();
  EXPECT_EQ(rate_units(c.title), c.units);
  // Whatever the title, a unit found reads "<unit>/d per Bq" with its coefficient "<unit>/Bq".
  if (const auto units = rate_units(c.title)) {
    ASSERT_TRUE(units->coefficient.ends_with("/Bq"));
    const std::string unit = units->coefficient.substr(0, units->coefficient.size() - 3);
    EXPECT_EQ(units->rate, unit + "/d per Bq");
    EXPECT_FALSE(unit.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Titles, TitleUnits,
    ::testing::Values(
        TitleCase{"Sample",
                  "Inhalation absorbed dose rates (Gy/d per Bq), synthetic sample data, seed 1",
                  kGray},
        TitleCase{"WithIntake", "Absorbed dose rates (Gy/d per Bq intake)", kGray},
        TitleCase{"WithMoreWords", "Rates (Gy/d per Bq of intake, adult)", kGray},
        TitleCase{"Milligray", "(mGy/d per Bq)", RateUnits{"mGy/d per Bq", "mGy/Bq", "mSv/Bq"}},
        TitleCase{"MicrograyAsU", "(uGy/d per Bq)", RateUnits{"uGy/d per Bq", "uGy/Bq", "uSv/Bq"}},
        TitleCase{"MicrograyAsMicroSign", "(\xc2\xb5Gy/d per Bq)",
                  RateUnits{"\xc2\xb5Gy/d per Bq", "\xc2\xb5Gy/Bq", "\xc2\xb5Sv/Bq"}},
        TitleCase{"Decagray", "(daGy/d per Bq)", RateUnits{"daGy/d per Bq", "daGy/Bq", "daSv/Bq"}},
        TitleCase{"MeV", "Energy absorbed (MeV/d per Bq)", RateUnits{"MeV/d per Bq", "MeV/Bq", ""}},
        TitleCase{"SievertIsNoGray", "(Sv/d per Bq)", RateUnits{"Sv/d per Bq", "Sv/Bq", ""}},
        TitleCase{"NotAPrefix", "(xGy/d per Bq)", RateUnits{"xGy/d per Bq", "xGy/Bq", ""}},
        TitleCase{"GrayInOtherCase", "(gy/d per Bq)", RateUnits{"gy/d per Bq", "gy/Bq", ""}},
        TitleCase{"NoUnitNamed", "Inhalation absorbed dose rates", std::nullopt},
        TitleCase{"EmptyTitle", "", std::nullopt},
        TitleCase{"OtherParenthesis", "Dose rates (synthetic)", std::nullopt},
        TitleCase{"OutsideParentheses", "Absorbed dose rates Gy/d per Bq (synthetic)",
                  std::nullopt},
        TitleCase{"SecondParenthesis", "Rates (synthetic) (mGy/d per Bq)",
                  RateUnits{"mGy/d per Bq", "mGy/Bq", "mSv/Bq"}},
        TitleCase{"FirstOfTwo", "(Gy/d per Bq) converted from (mGy/d per Bq)", kGray},
        TitleCase{"OddSpacing", "(  Gy/d  per\tBq \t)", kGray},
        TitleCase{"BlankBeforeTheSlash", "(Gy /d per Bq)", std::nullopt},
        TitleCase{"NoBlankBeforePer", "(Gy/dper Bq)", std::nullopt},
        TitleCase{"PerDayWritten", "(Gy/day per Bq)", std::nullopt},
        TitleCase{"MoreAfterBq", "(Gy/d per Bqs)", std::nullopt},
        TitleCase{"WordsInOtherCase", "(Gy/d PER bq)", std::nullopt},
        TitleCase{"EmptyUnit", "(/d per Bq)", std::nullopt},
        TitleCase{"Unclosed", "Rates (Gy/d per Bq intake", std::nullopt},
        TitleCase{"EndsAfterBq", "Rates (Gy/d per Bq", std::nullopt},
        TitleCase{"NestedInside", "(Gy/d per Bq (inhaled) intake)", kGray},
        TitleCase{"NestedAndUnclosed", "(Gy/d per Bq (intake)", std::nullopt},
        TitleCase{"InsideAnother", "Rates ((Gy/d per Bq) synthetic)", kGray},
        TitleCase{"UnitWithOtherSigns", "(<keV>/d per Bq)",
                  RateUnits{"<keV>/d per Bq", "<keV>/Bq", ""}}),
    [](const ::testing::TestParamInfo<TitleCase>& test) { return test.param.name; });

}  // namespace
}  // namespace kestrane
