// The in-memory sink of a run: each processed record's coefficients and shares outside the
// tabulated times appended to the columns of its selected age.
#include "output/coefficient_columns.h"

#include <limits>

#include "dose/run_request.h"
#include "input/ascii.h"
#include "output/csv_file.h"
#include "output/notes_file.h"

namespace kestrane {

bool record_has_table(const HeaderRecord& header, int t) {
  const std::string_view code = ascii::trim_right(header.table_code);
  if (code == "B") return true;
  return code == (t == 0 ? "L" : "H");
}

ColumnSink::ColumnSink(std::size_t ages, std::vector<double> times, std::size_t region_count,
                       std::vector<std::string> nuclides)
    : columns_(ages),
      times_(std::move(times)),
      region_count_(region_count),
      nuclides_(std::move(nuclides)) {}

void ColumnSink::record_done(int position, const HeaderRecord& header,
                             const CoefficientTable& coef) {
  if (!nuclide_chosen(nuclides_, header.nuclide)) return;
  CoefficientColumns& out = columns_.at(static_cast<std::size_t>(position));
  const auto index = static_cast<std::int32_t>(out.records.size());
  out.records.push_back({std::string(trim_spaces(header.nuclide)),
                         std::string(trim_spaces(header.class_or_f1)), header.age_days,
                         header.line_number, header.n});
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  const bool has[2] = {record_has_table(header, 0), record_has_table(header, 1)};
  std::vector<double>* values[2] = {&out.low, &out.high};
  std::vector<double>* shares[2] = {&out.low_share_outside, &out.high_share_outside};
  const std::size_t rows = times_.size() * region_count_;
  out.record.insert(out.record.end(), rows, index);
  for (std::size_t m = 0; m < times_.size(); ++m) {
    out.time_d.insert(out.time_d.end(), region_count_, times_[m]);
    for (std::size_t j = 0; j < region_count_; ++j) {
      out.region.push_back(static_cast<std::int32_t>(j));
      for (int t = 0; t < 2; ++t) {
        const double value = coef.coef[t][j][m];
        values[t]->push_back(has[t] ? value : kNone);
        shares[t]->push_back(
            has[t] && coef.integrated[t] ? share_outside(value, coef.outside[t][j][m]) : kNone);
      }
    }
  }
}

}  // namespace kestrane
