// The record loop: walks the nuclide records of a dose-rate file, matches each to a selected
// age, integrates its rates and hands the coefficients to the coefficient files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "dose/hermite_rows.h"
#include "dose/tail_rows.h"
#include "input/data_sets.h"
#include "input/dose_rate_file.h"
#include "input/line_reader.h"
#include "input/record_tables.h"

namespace kestrane {

// The integration times of the files of each selected-age position: one list for every
// position, or one list of its own for each (where a commitment to an age adds a time).
class PositionTimes {
 public:
  PositionTimes() = default;
  // The same times for every position.
  PositionTimes(std::vector<double> every)  // NOLINT(google-explicit-constructor)
      : lists_{std::move(every)} {}
  PositionTimes(std::initializer_list<double> every)  // NOLINT(google-explicit-constructor)
      : lists_{std::vector<double>(every)} {}
  // The times of each position, by position.
  explicit PositionTimes(std::vector<std::vector<double>> each) : lists_(std::move(each)) {}
  // The times of 0-based `position`.
  std::span<const double> of(int position) const {
    if (lists_.empty()) return {};
    const auto at = static_cast<std::size_t>(position);
    return lists_.size() == 1 ? lists_.front() : lists_.at(at);
  }

 private:
  std::vector<std::vector<double>> lists_;
};

// What the loop needs to know of the run.
struct RunSetup {
  DataSet data_set = DataSet::inhalation;
  std::vector<double> times;  // integration times T(1..M), days
  // Where not empty, the integration times of each selected-age position, in place of
  // `times`: those times with the commitment to an age after them where it is not among them.
  std::vector<std::vector<double>> age_times;
  std::vector<int> age_groups;  // selected age-group numbers 1..6, in selection order
  std::vector<int> regions;     // selected region numbers, in selection order
  int lung_region = 30;         // region number of the composite "Lung" (names + 1)
  // The names of the selected regions, in selection order, for messages (may be empty).
  std::vector<std::string> region_names;
  // Threads that parse and integrate the records: 1 does everything on the calling thread;
  // n > 1 starts n - 1 worker threads, while the calling thread reads the file, hands the
  // results on and computes too whenever it would otherwise wait; 0 takes as many as the
  // machine has processors (1 on a single processor). The sink and the progress observer see
  // the same calls in the same order whatever it is.
  int threads = 0;
  // When not empty, only records of these nuclides are processed: names upper-cased, without
  // trailing blanks, compared with the record's nuclide so.
  std::vector<std::string> nuclides;
  // When set, counts the records passed over (age not selected or nuclide not listed).
  std::int64_t* passed_over = nullptr;
  // The rate models before the first and after the last tabulated time.
  TailModels tails;

  // The integration times of 0-based selected-age `position`.
  std::span<const double> times_of(int position) const {
    return age_times.empty()
               ? std::span<const double>(times)
               : std::span<const double>(age_times.at(static_cast<std::size_t>(position)));
  }
  // The most integration times of any position.
  std::size_t most_times() const {
    std::size_t most = times.size();
    for (const auto& list : age_times) most = std::max(most, list.size());
    return most;
  }
  PositionTimes position_times() const {
    return age_times.empty() ? PositionTimes(times) : PositionTimes(age_times);
  }
};

// How many coefficients are negative and how many extended (a coefficient can be both), and
// in how many records.
struct NoteCounts {
  std::int64_t negative = 0;
  std::int64_t extended = 0;
  std::int64_t records = 0;
  // How many exponential after-parts fell back to constant.
  std::int64_t fallbacks = 0;
  NoteCounts& operator+=(const NoteCounts& other) {
    negative += other.negative;
    extended += other.extended;
    records += other.records;
    fallbacks += other.fallbacks;
    return *this;
  }
};

// One picture a sink drew of a record: the name of its file and its document.
struct RecordPicture {
  std::string file_name;
  std::string document;
};

// What a sink prepares of one record, maybe on a worker thread, for the loop's thread to write:
// the record's rows of its coefficient file, its row of the notes file with the counts of its
// notes (empty and zero when nothing is noted), its lines of doses, and its pictures.
struct PreparedRecord {
  std::string rows;
  std::string notes;
  std::string doses;
  NoteCounts note_counts;
  std::vector<RecordPicture> pictures;
};

// Receives the coefficients of every processed record.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // `position` is the 0-based selected-age position the record matched.
  virtual void record_done(int position, const HeaderRecord& header,
                           const CoefficientTable& coef) = 0;

  // A sink may have the costly part of its work, such as formatting rows, done on a worker
  // thread: the loop may call prepare() there, for several records at the same time (so it
  // must change nothing), and then hands what it prepared to record_prepared() on the loop's
  // thread, in file order, in place of record_done(). By default nothing is prepared and
  // record_prepared() is record_done().
  virtual PreparedRecord prepare(int /*position*/, const HeaderRecord& /*header*/,
                                 const CoefficientTable& /*coef*/) const {
    return {};
  }
  // prepare() for a sink that also reads the record's tabulated rates (pictures drawn from
  // them): the loop calls this one, on the same terms, for every processed record; by default
  // it is prepare().
  virtual PreparedRecord prepare_from(int position, const HeaderRecord& header,
                                      const RateTable& /*rates*/,
                                      const CoefficientTable& coef) const {
    return prepare(position, header, coef);
  }
  virtual void record_prepared(int position, const HeaderRecord& header,
                               const CoefficientTable& coef, PreparedRecord& /*prepared*/) {
    record_done(position, header, coef);
  }
  // Whether record_prepared() reads the coefficient table. A sink whose prepared text holds
  // all it needs says no, and the pipeline spares carrying the table from the worker to the
  // loop's thread: the table it then hands on holds no record's coefficients.
  virtual bool reads_prepared_table() const { return true; }
};

// Told of every processed record, for a progress display. Called on the loop's thread;
// an implementation must return quickly. `bytes_total` is 0 where the size of the input is
// not known beforehand (a pipe).
class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  virtual void record_processed(const HeaderRecord& header, std::uint64_t bytes_done,
                                std::uint64_t bytes_total) = 0;
};

// The first selected-age position (1-based) whose age group matches `age_days`, or 0.
int match_age(std::int32_t age_days, std::span<const int> age_groups);

// Clears time points 1..N of the first `region_count` selected-region rows of the table that
// the record's data block does not fill (tables_filled_by_block), the only cells of it a
// record of N time points can use. Done before read_data_block, so a table the record does not
// carry reads as zeros; the cells of a carried table are all written by the reading.
void clear_rates(RateTable& rates, int region_count, const HeaderRecord& header);

// The coefficients of one record whose data block has been read into `rates` (after
// clear_rates): with N = 1 the tabulated low and high values themselves for every time,
// whatever the table code; otherwise, for the tables the code names ("L" low, "H" high,
// "B" both, blanks after the letter not counting; any other code none), the integrals of the
// monotone Hermite interpolant from 0 to each time with their parts outside the tabulated
// times, and zeros for the other table. Throws InputError naming `file_name`, the line and
// the header line when a table to be integrated has fewer than two time points or times that
// do not strictly increase (at the line of the first time not later than the one before it,
// naming that one's line too), or when a coefficient is infinite or not a number (naming the
// region, by `region_names` where given, and the integration time). With `models` other than
// both `extend`, each integral is split at the first and last tabulated times and its parts
// before and after the table follow the models (dose/tail_rows.h), the fallbacks of the
// exponential after-part counted in coef.tail_fallbacks; with both `extend` the integral is the
// interpolant's from 0, in one piece.
void compute_coefficients(const HeaderRecord& header, const RateTable& rates,
                          std::span<const double> times, int region_count,
                          const std::string& file_name, CoefficientTable& coef,
                          TailModels models = {});
// The same, with the slope and integral work space of the caller (kept between records, so
// that nothing is allocated per record); `tails` (used only with models other than both
// `extend`) may be null, and is then made for the record.
void compute_coefficients(const HeaderRecord& header, const RateTable& rates,
                          std::span<const double> times, int region_count,
                          const std::string& file_name, CoefficientTable& coef, HermiteRows& work,
                          std::span<const std::string> region_names = {}, TailModels models = {},
                          TailRows* tails = nullptr);

// One record that the run processes, as read from the file: its matched selected-age
// position (from 1), its header and its data lines, not yet parsed.
struct RecordText {
  int position = 0;
  HeaderRecord header;
  LinesText block;               // as take_data_block_text gives it
  std::uint64_t bytes_done = 0;  // the reader's progress after the block
};

// Reads the records of a dose-rate file that a run processes, for the loop on one thread and
// for the pipeline alike, so that both read exactly the same way: blank lines where a header
// is expected and records of ages not selected are passed over, every header is checked.
class RecordReader {
 public:
  // `reader` stands at the first header line.
  RecordReader(LineReader& reader, const RunSetup& setup);
  // The next record to process; false at the end of the file. Throws InputError, naming the
  // file, line and header line, for a header or a data block that cannot be read.
  bool next(RecordText& record);

 private:
  LineReader& reader_;
  const RunSetup& setup_;
  bool started_ = false;
};

// The tables of one thread that computes coefficients, set up once and reused from record to
// record.
struct RecordWorkspace {
  RateTable rates;
  CoefficientTable coef;
  HermiteRows work;
  TailRows tails;
};

// Parses the data block of a record into space.rates (cleared first). Refusals name
// `file_name`, the line and the record's header line.
void read_rates(const RecordText& record, const RunSetup& setup, const std::string& file_name,
                RecordWorkspace& space);

// The coefficients of a record whose rates read_rates has read, into space.coef.
void compute_record(const RecordText& record, const RunSetup& setup, const std::string& file_name,
                    RecordWorkspace& space);

// Reads records from the reader (standing at the first header line) to the end of the
// file. Throws InputError, naming the file, line and header line, when a record cannot be
// read or integrated; rows of earlier records have been handed to the sink by then, and
// nothing of a later record. Throws std::invalid_argument, before reading, when the setup
// holds more regions or times than the tables or a region number without a column.
// With more than one thread (RunSetup::threads) the sink's prepare() may run on any of them;
// record_prepared(), record_done() and the progress observer are called on the calling thread
// only, in file order.
void process_records(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                     ProgressObserver* progress);

}  // namespace kestrane
