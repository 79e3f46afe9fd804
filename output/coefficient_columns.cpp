// The in-memory sink of a run: each processed record's coefficients and shares outside the
// tabulated times appended to the columns of its selected age.
#include "output/coefficient_columns.h"

#include <sys/mman.h>

#include <algorithm>
#include <limits>
#include <new>

#include "base/ascii.h"
#include "output/csv_file.h"
#include "output/notes_file.h"

namespace kestrane {

void ChunkedDoubles::Unmap::operator()(double* chunk) const {
  ::munmap(chunk, kChunk * sizeof(double));
}

void ChunkedDoubles::add_chunk() {
  void* chunk = ::mmap(nullptr, kChunk * sizeof(double), PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (chunk == MAP_FAILED) throw std::bad_alloc();
  chunks_.emplace_back(static_cast<double*>(chunk));
}

void ChunkedDoubles::move_to(double* out) {
  for (std::size_t c = 0; c < chunks_.size(); ++c) {
    const std::size_t count = std::min(kChunk, size_ - c * kChunk);
    std::copy_n(chunks_[c].get(), count, out + c * kChunk);
    chunks_[c].reset();
  }
  chunks_.clear();
  size_ = 0;
}

bool record_has_table(const HeaderRecord& header, int t) {
  return t == 0 ? holds_low(header.tables) : holds_high(header.tables);
}

ColumnSink::ColumnSink(std::size_t ages, std::vector<double> times, std::size_t region_count)
    : columns_(ages), times_(std::move(times)), region_count_(region_count) {}

void ColumnSink::record_done(int position, const HeaderRecord& header,
                             const CoefficientTable& coef) {
  CoefficientColumns& out = columns_.at(static_cast<std::size_t>(position));
  out.records.push_back({std::string(trim_spaces(header.nuclide)),
                         std::string(trim_spaces(header.class_or_f1)), header.age_days,
                         header.line_number, header.n});
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  const bool has[2] = {record_has_table(header, 0), record_has_table(header, 1)};
  ChunkedDoubles* values[2] = {&out.low, &out.high};
  ChunkedDoubles* shares[2] = {&out.low_share_outside, &out.high_share_outside};
  for (std::size_t m = 0; m < times_.size(); ++m) {
    for (std::size_t j = 0; j < region_count_; ++j) {
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
