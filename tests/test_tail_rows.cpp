// Tests of the rate models before the first and after the last tabulated time: every model's
// integrals from 0, through the record loop's own computation, against those that
// tests/data/tails/make_tails.py works out exactly, and the notes they give.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dose/record_loop.h"
#include "dose/tail_rows.h"
#include "output/notes_file.h"

namespace kestrane {
namespace {

// One record of tails.txt with its expected integrals under one pair of models.
struct TailCase {
  std::string name;
  std::string code;
  std::vector<double> x;
  std::vector<std::vector<double>> rows[2];  // low, high
  std::vector<double> times;
  TailModels models;
  std::int64_t fallbacks = 0;
  std::vector<std::vector<double>> coef[2], outside[2];
};

void PrintTo(const TailCase& c, std::ostream* os) { *os << c.name; }

std::vector<double> numbers(std::istringstream& fields, bool hex) {
  std::vector<double> values;
  for (std::string field; fields >> field;) {
    values.push_back(hex ? std::strtod(field.c_str(), nullptr) : std::stod(field));
  }
  return values;
}

// The cases of tails.txt in which `side` ("before" or "after") has the model `model`.
std::vector<TailCase> cases_of(const std::string& side, const std::string& model) {
  std::ifstream in(std::string(KESTRANE_TEST_DATA) + "/tails/tails.txt");
  std::vector<TailCase> cases;
  TailCase record;
  bool kept = false;  // whether the expected values that follow belong to a case kept
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string tag;
    fields >> tag;
    if (tag == "record") {
      record = TailCase();
      fields >> record.name >> record.code;
    } else if (tag == "x") {
      record.x = numbers(fields, true);
    } else if (tag == "low" || tag == "high") {
      record.rows[tag == "high"].push_back(numbers(fields, true));
    } else if (tag == "times") {
      record.times = numbers(fields, true);
    } else if (tag == "models") {
      std::string before, after;
      fields >> before >> after;
      cases.push_back(record);
      cases.back().name += "_" + before + "_" + after;
      cases.back().models = {*before_model_named(before), *after_model_named(after)};
      fields >> cases.back().fallbacks;
      kept = (side == "before" ? before : after) == model;
      if (!kept) cases.pop_back();
    } else if ((tag == "coef" || tag == "outside") && kept) {
      std::string table;
      fields >> table;
      auto& cells = tag == "coef" ? cases.back().coef : cases.back().outside;
      cells[table == "high"].push_back(numbers(fields, false));
    }
  }
  return cases;
}

class TailModel : public ::testing::TestWithParam<TailCase> {};

// Within 1e-13 of the exact value; an exact 0 is 0.
void expect_close(double got, double want, const std::string& where) {
  EXPECT_LE(std::abs(got - want), 1e-13 * std::abs(want))
      << where << ": " << got << " against " << want;
}

TEST_P(TailModel, GivesTheExactIntegralsAndCountsTheFallbacks) {
  const TailCase& c = GetParam();
  HeaderRecord header;
  header.nuclide = "Cs-137 ";
  header.class_or_f1 = "F";
  header.age_days = 100;
  header.line_number = 3;
  header.n = static_cast<int>(c.x.size());
  header.table_code = c.code;
  header.tables = tables_of_code(c.code);
  const int regions = static_cast<int>(std::max(c.rows[0].size(), c.rows[1].size()));
  auto rates = std::make_unique<RateTable>();
  auto coef = std::make_unique<CoefficientTable>();
  for (std::size_t i = 0; i < c.x.size(); ++i) rates->x[i] = c.x[i];
  for (int t = 0; t < 2; ++t) {
    for (std::size_t j = 0; j < c.rows[t].size(); ++j) {
      for (std::size_t i = 0; i < c.x.size(); ++i) rates->value[t][j][i] = c.rows[t][j][i];
    }
  }
  compute_coefficients(header, *rates, c.times, regions, "DATA\\KVR13INH.DRT", *coef, c.models);
  for (int t = 0; t < 2; ++t) {
    // A table the record does not hold stays 0, and is not integrated.
    EXPECT_EQ(coef->integrated[t], c.x.size() > 1 && !c.rows[t].empty());
    for (int j = 0; j < regions; ++j) {
      for (std::size_t m = 0; m < c.times.size(); ++m) {
        const std::string where = (t == 0 ? "low row " : "high row ") + std::to_string(j) +
                                  " time " + std::to_string(c.times[m]);
        const bool held = static_cast<std::size_t>(j) < c.rows[t].size();
        expect_close(coef->coef[t][j][m], held ? c.coef[t][j][m] : 0.0, where);
        expect_close(coef->outside[t][j][m], held ? c.outside[t][j][m] : 0.0, where + " outside");
      }
    }
  }
  EXPECT_EQ(coef->tail_fallbacks, c.fallbacks);
  // A record with a fallback is noted, its count in the last column.
  std::string notes;
  NoteCounts counts;
  std::vector<std::string> names(static_cast<std::size_t>(regions), "Liver");
  append_note_row(notes, header, *coef, c.times, names, counts);
  EXPECT_EQ(counts.fallbacks, c.fallbacks);
  if (c.fallbacks > 0) {
    EXPECT_TRUE(notes.ends_with("," + std::to_string(c.fallbacks) + "\n")) << notes;
  } else if (!notes.empty()) {
    EXPECT_TRUE(notes.ends_with(",0\n")) << notes;
  }
}

std::string case_name(const ::testing::TestParamInfo<TailCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(BeforeExtend, TailModel, ::testing::ValuesIn(cases_of("before", "extend")),
                         case_name);
INSTANTIATE_TEST_SUITE_P(BeforeZero, TailModel, ::testing::ValuesIn(cases_of("before", "zero")),
                         case_name);
INSTANTIATE_TEST_SUITE_P(BeforeConstant, TailModel,
                         ::testing::ValuesIn(cases_of("before", "constant")), case_name);
INSTANTIATE_TEST_SUITE_P(BeforeLinear, TailModel, ::testing::ValuesIn(cases_of("before", "linear")),
                         case_name);
INSTANTIATE_TEST_SUITE_P(AfterExtend, TailModel, ::testing::ValuesIn(cases_of("after", "extend")),
                         case_name);
INSTANTIATE_TEST_SUITE_P(AfterZero, TailModel, ::testing::ValuesIn(cases_of("after", "zero")),
                         case_name);
INSTANTIATE_TEST_SUITE_P(AfterConstant, TailModel,
                         ::testing::ValuesIn(cases_of("after", "constant")), case_name);
INSTANTIATE_TEST_SUITE_P(AfterExponential, TailModel,
                         ::testing::ValuesIn(cases_of("after", "exponential")), case_name);

}  // namespace
}  // namespace kestrane
