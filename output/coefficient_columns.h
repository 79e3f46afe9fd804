// The coefficients of a run kept in memory, column by column, as the CSV files lay them out:
// one row per record, integration time and selected region. No file is written and no lock
// taken, so a library can run the record loop straight into these columns.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "dose/record_loop.h"

namespace kestrane {

// The fields of one processed record that every one of its rows repeats.
struct RecordFields {
  std::string nuclide;      // without its surrounding blanks
  std::string class_or_f1;  // without its surrounding blanks
  std::int32_t age_days = 0;
  std::int64_t header_line = 0;
  std::int32_t points = 0;  // N; 1 means the values were copied, not integrated
};

// Doubles appended one by one and kept in chunks of a fixed size, each mapped from the system
// on its own: the column grows with no copy, a chunk holds memory only for the values written
// to it, and each chunk handed on is given back to the system at once (memory the allocator
// would keep for itself).
class ChunkedDoubles {
 public:
  void push_back(double value) {
    if (size_ % kChunk == 0) add_chunk();
    chunks_.back().get()[size_ % kChunk] = value;
    ++size_;
  }
  std::size_t size() const { return size_; }
  // Copies the values to `out` in order, giving back each chunk once it is copied; the column
  // is then empty.
  void move_to(double* out);

 private:
  static constexpr std::size_t kChunk = std::size_t{1} << 20;  // 8 MiB of address space
  struct Unmap {
    void operator()(double* chunk) const;
  };
  void add_chunk();
  std::vector<std::unique_ptr<double, Unmap>> chunks_;
  std::size_t size_ = 0;
};

// The rows of one selected age, in the order of its CSV file: every record has the same
// number of rows, one per integration time and selected region in that order, so a row's
// record, time and region follow from its place. A coefficient of a table the record does not
// carry is NaN, and so is the share outside of a coefficient that is NaN or was copied
// (N = 1).
struct CoefficientColumns {
  std::vector<RecordFields> records;
  ChunkedDoubles low;
  ChunkedDoubles high;
  ChunkedDoubles low_share_outside;
  ChunkedDoubles high_share_outside;
  std::size_t rows() const { return low.size(); }
};

// Whether the table code of `header` names table t (0 low, 1 high): "L" the low table, "H"
// the high one, "B" both, blanks after the letter not counting.
bool record_has_table(const HeaderRecord& header, int t);

// A record sink that appends every processed record to the columns of its selected age (the
// record loop has passed over the nuclides not chosen).
class ColumnSink : public RecordSink {
 public:
  ColumnSink(std::size_t ages, std::vector<double> times, std::size_t region_count);
  void record_done(int position, const HeaderRecord& header, const CoefficientTable& coef) override;
  std::vector<CoefficientColumns>& columns() { return columns_; }
  // The rows of each record: integration times x selected regions.
  std::size_t rows_per_record() const { return times_.size() * region_count_; }

 private:
  std::vector<CoefficientColumns> columns_;
  std::vector<double> times_;
  std::size_t region_count_;
};

}  // namespace kestrane
