// Tests of the dose sums: a record worked by hand, the split rule on both sides of its
// condition, a record without a high table, the scheme laid on a run's columns, and the
// effective dose unchanged when a tissue is cut into two halves.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "dose/dose_sums.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

constexpr std::size_t kTime = 1;  // the integration time the hand-worked record uses

// Sets column `k` at integration time kTime to the low and high coefficients given; the time
// before holds other numbers, so that a sum reading the wrong time fails.
void set(CoefficientTable& table, std::size_t k, double low, double high) {
  table.coef[0][k][kTime] = low;
  table.coef[1][k][kTime] = high;
  table.coef[0][k][kTime - 1] = 1000 + low;
  table.coef[1][k][kTime - 1] = 1000 + high;
}

// The hand-worked record, radiation weights low 1 and high 20:
//   column   low     high     H = low + 20 high
//   0        2       0.125    2 + 2.5  = 4.5
//   1        1       0.0625   1 + 1.25 = 2.25
//   2        0.5     0        0.5
//   3        3       0.25     3 + 5    = 8
//   4        c4      0        c4 (10 unless a case says otherwise)
//   5        1       0        1
//   6        1.5     0.125    1.5 + 2.5 = 4
std::unique_ptr<CoefficientTable> hand_record(double c4 = 10) {
  auto table = std::make_unique<CoefficientTable>();
  set(*table, 0, 2, 0.125);
  set(*table, 1, 1, 0.0625);
  set(*table, 2, 0.5, 0);
  set(*table, 3, 3, 0.25);
  set(*table, 4, c4, 0);
  set(*table, 5, 1, 0);
  set(*table, 6, 1.5, 0.125);
  return table;
}

// Three tissues and a remainder of three regions:
//   A, weight 0.25:  0.5 x 4.5 + 0.5 x 2.25  = 3.375
//   B, weight 0.5:   1 x 0.5                 = 0.5
//   C, weight 0.125: 0.75 x 8 + 0.25 x 1     = 6.25
//   remainder, weight 0.125, columns 4, 5, 6: (10 + 1 + 4) / 3 = 5
// Tissue part of E: 0.25 x 3.375 + 0.5 x 0.5 + 0.125 x 6.25 = 0.84375 + 0.25 + 0.78125 = 1.875.
DoseColumns hand_scheme(bool split) {
  DoseColumns columns;
  columns.low = 1;
  columns.high = 20;
  columns.tissues = {
      {0.25, {{0, 0.5}, {1, 0.5}}}, {0.5, {{2, 1.0}}}, {0.125, {{3, 0.75}, {5, 0.25}}}};
  columns.remainder_weight = 0.125;
  columns.remainder = {4, 5, 6};
  columns.split = split;
  return columns;
}

std::vector<double> doses(const DoseColumns& columns, const CoefficientTable& table,
                          std::size_t time = kTime) {
  std::vector<double> out(columns.value_count(), -1.0);
  record_doses(columns, table, time, out);
  return out;
}

TEST(DoseSums, HandWorkedRecord) {
  // Without the split: E = 1.875 + 0.125 x 5 = 2.5.
  EXPECT_EQ(doses(hand_scheme(false), *hand_record()),
            (std::vector<double>{3.375, 0.5, 6.25, 5, 2.5}));
}

struct SplitCase {
  const char* label;
  bool split;
  double c4;  // H of column 4, a remainder region
  std::vector<double> expected;
};

class DoseSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(DoseSplit, TakesHalfTheWeightOnlyAboveEveryTissue) {
  EXPECT_EQ(doses(hand_scheme(GetParam().split), *hand_record(GetParam().c4)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DoseSplit,
    ::testing::Values(
        // H(4) = 10 > 6.25, the largest tissue: 0.0625 x 10 + 0.0625 x (1 + 4) / 2 = 0.625 +
        // 0.15625 = 0.78125; E = 1.875 + 0.78125 = 2.65625. The remainder's H stays the mean.
        SplitCase{"above", true, 10, {3.375, 0.5, 6.25, 5, 2.65625}},
        // The same record without split: 2.5 (the hand-worked record).
        SplitCase{"above_no_split", false, 10, {3.375, 0.5, 6.25, 5, 2.5}},
        // H(4) = 6.25, a tie with tissue C: no split. Mean (6.25 + 1 + 4) / 3 = 3.75;
        // E = 1.875 + 0.125 x 3.75 = 2.34375 (a split would give 1.875 + 0.546875).
        SplitCase{"tie", true, 6.25, {3.375, 0.5, 6.25, 3.75, 2.34375}},
        // H(4) = 4, below tissue C: no split. Mean (4 + 1 + 4) / 3 = 3; E = 1.875 + 0.375 =
        // 2.25 (a split would give 1.875 + 0.40625).
        SplitCase{"below", true, 4, {3.375, 0.5, 6.25, 3, 2.25}}),
    [](const ::testing::TestParamInfo<SplitCase>& param) {
      return std::string(param.param.label);
    });

TEST(DoseSums, OneRegionRemainderNeverSplits) {
  // Remainder column 4 alone, H = 10 above every tissue: E = 1.875 + 0.125 x 10 = 3.125.
  DoseColumns columns = hand_scheme(true);
  columns.remainder = {4};
  EXPECT_EQ(doses(columns, *hand_record()), (std::vector<double>{3.375, 0.5, 6.25, 10, 3.125}));
}

TEST(DoseSums, RecordWithoutAHighTable) {
  // Only the low table: H is the low coefficient. Column 0: 2, column 1: 6, column 2: 4.
  // One tissue of weight 0.5 on column 0 (H 2), remainder of weight 0.5 on columns 1 and 2
  // (mean 5): E = 1 + 2.5 = 3.5; with split, 6 > 2 gives 0.25 x 6 + 0.25 x 4 = 2.5, E = 3.5.
  auto table = std::make_unique<CoefficientTable>();
  table->coef[0][0][kTime] = 2;
  table->coef[0][1][kTime] = 6;
  table->coef[0][2][kTime] = 4;
  DoseColumns columns;
  columns.low = 1;
  columns.high = 20;
  columns.tissues = {{0.5, {{0, 1.0}}}};
  columns.remainder_weight = 0.5;
  columns.remainder = {1, 2};
  EXPECT_EQ(doses(columns, *table), (std::vector<double>{2, 5, 3.5}));
  columns.split = true;
  EXPECT_EQ(doses(columns, *table), (std::vector<double>{2, 5, 3.5}));
}

TEST(DoseSums, ColumnsFollowTheRunsRegions) {
  WeightingScheme scheme;
  scheme.low = 1;
  scheme.high = 20;
  scheme.tissues.resize(2);
  scheme.tissues[0].weight = 0.75;
  scheme.tissues[1].weight = 0.125;
  scheme.remainder_weight = 0.125;
  scheme.split = true;
  SchemeRegions regions;
  regions.tissues = {{{30, 0.5}, {3, 0.5}}, {{9, 1.0}}};
  regions.remainder = {3, 12};
  // Region numbers in column order; region 3 is chosen twice and taken at its first column.
  const std::vector<int> setup{12, 30, 3, 9, 3};
  const DoseColumns columns = dose_columns(scheme, regions, setup);
  EXPECT_EQ(columns.low, 1);
  EXPECT_EQ(columns.high, 20);
  ASSERT_EQ(columns.tissues.size(), 2u);
  EXPECT_EQ(columns.tissues[0].weight, 0.75);
  EXPECT_EQ(columns.tissues[0].parts, (std::vector<std::pair<int, double>>{{1, 0.5}, {2, 0.5}}));
  EXPECT_EQ(columns.tissues[1].parts, (std::vector<std::pair<int, double>>{{3, 1.0}}));
  EXPECT_EQ(columns.remainder_weight, 0.125);
  EXPECT_EQ(columns.remainder, (std::vector<int>{2, 0}));
  EXPECT_TRUE(columns.split);
  EXPECT_EQ(columns.value_count(), 4u);

  regions.remainder = {3, 7};
  EXPECT_THROW(dose_columns(scheme, regions, setup), std::invalid_argument);
}

// Random tables and schemes: with split = false, a tissue cut into two tissues of half its
// weight on the same regions gives the same effective dose, to rounding.
TEST(DoseSums, HalvedTissueKeepsTheEffectiveDose) {
  test_support::Rng rng(20261210);
  auto table = std::make_unique<CoefficientTable>();
  for (int trial = 0; trial < 200; ++trial) {
    const std::size_t regions = 6;
    const std::size_t time = static_cast<std::size_t>(rng.below(kMaxIntegrationTimes));
    for (std::size_t k = 0; k < regions; ++k) {
      table->coef[0][k][time] = rng.unit() * 1e-9;
      table->coef[1][k][time] = rng.one_in(4) ? 0.0 : rng.unit() * 1e-10;
    }
    DoseColumns columns;
    columns.low = 1;
    columns.high = 1 + 19 * rng.unit();
    double left = 1;
    for (std::size_t i = 0; i < 3; ++i) {
      DoseColumns::Tissue tissue;
      tissue.weight = left * rng.unit();
      left -= tissue.weight;
      const int parts = 1 + rng.below(3);
      for (int p = 0; p < parts; ++p) tissue.parts.emplace_back(rng.below(4), rng.unit());
      columns.tissues.push_back(tissue);
    }
    columns.remainder_weight = left;
    columns.remainder = {4, 5};

    const std::size_t cut = static_cast<std::size_t>(rng.below(3));
    DoseColumns halved = columns;
    halved.tissues[cut].weight /= 2;
    halved.tissues.insert(halved.tissues.begin() + static_cast<std::ptrdiff_t>(cut) + 1,
                          halved.tissues[cut]);

    const double whole = doses(columns, *table, time).back();
    const double halves = doses(halved, *table, time).back();
    ASSERT_GT(whole, 0);
    EXPECT_LE(std::fabs(halves - whole), 1e-15 * whole) << "trial " << trial;
  }
}

}  // namespace
}  // namespace kestrane
