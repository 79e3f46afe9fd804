// The record loop: reads the nuclide records of a dose-rate file one after another, integrates
// the rates of every record whose age was selected and hands its coefficients on; on one
// thread, or with the reading and the handing on on the calling thread and the parsing,
// integrating and formatting of batches of records on worker threads, and on the calling
// thread whenever it would otherwise wait.
#include "dose/record_loop.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

#include "dose/hermite.h"

namespace kestrane {

namespace {

constexpr int kLow = 0;
constexpr int kHigh = 1;

// Which tables a table code asks to integrate. The code is compared as a whole, so a letter
// followed by blanks names no table.
struct TablesToIntegrate {
  bool low = false;
  bool high = false;
};

TablesToIntegrate tables_of_code(std::string_view code) {
  if (code == "L") return {true, false};
  if (code == "H") return {false, true};
  if (code == "B") return {true, true};
  return {};
}

[[noreturn]] void refuse_record(const HeaderRecord& header, const std::string& file_name,
                                const std::string& reason) {
  refuse_in_record(file_name, header.line_number, reason, header.line, header.line_number);
}

// The first time point (from 1) whose time is not later than the one before it, or 0.
int first_time_out_of_order(int n, const double* x) {
  for (int i = 1; i < n; ++i) {
    if (!(x[i - 1] < x[i])) return i + 1;
  }
  return 0;
}

[[noreturn]] void refuse_integration(const HeaderRecord& header, const RateTable& rates,
                                     const std::string& file_name, int status) {
  std::string reason;
  if (status == -1) {
    reason = "the record has " + std::to_string(header.n) +
             (header.n == 1 ? " time point" : " time points") +
             ", too few to integrate its rates (at least two are needed)";
  } else if (const int i = first_time_out_of_order(header.n, rates.x.data()); i > 0) {
    reason = "the time of time point " + std::to_string(i) +
             " is not later than the one before it, so the rates cannot be integrated";
  } else {
    reason = "the rates of the record cannot be integrated (status " + std::to_string(status) + ")";
  }
  refuse_record(header, file_name, reason);
}

// Integrates table t of every selected region from 0 to each time. The slopes of a row are
// estimated once and serve every time; `work` has been prepared for the record's times.
void integrate_table(int t, const HeaderRecord& header, const RateTable& rates, int region_count,
                     const std::string& file_name, const HermiteRows& work,
                     CoefficientTable& coef) {
  std::array<double, kMaxTimePoints> d;
  for (int j = 0; j < region_count; ++j) {
    const double* f = rates.value[t][j].data();
    int status = 0;
    work.slopes(f, d.data(), status);
    if (status < 0) refuse_integration(header, rates, file_name, status);
    // Status 1 to 3 only says that a limit lies beyond the table: the end piece is extended.
    // A refusal of the table holds for every time alike.
    work.integrate(f, d.data(), coef.coef[t][j].data(), status);
    if (status < 0) refuse_integration(header, rates, file_name, status);
  }
}

void zero_table(int t, std::size_t time_count, int region_count, CoefficientTable& coef) {
  for (int j = 0; j < region_count; ++j) {
    std::fill_n(coef.coef[t][j].begin(), time_count, 0.0);
  }
}

}  // namespace

int match_age(std::int32_t age_days, std::span<const int> age_groups) {
  for (std::size_t k = 0; k < age_groups.size(); ++k) {
    const int group = age_groups[k];
    if (group < 1 || group > kAgeGroupCount) continue;
    const std::int32_t g = kAgeGroups[static_cast<std::size_t>(group - 1)].days;
    if ((g > kAdultThresholdDays && age_days > kAdultThresholdDays) || g == age_days) {
      return static_cast<int>(k) + 1;
    }
  }
  return 0;
}

void clear_rates(RateTable& rates, int region_count, int n) {
  const int points = std::clamp(n, 0, kMaxTimePoints);
  for (auto& table : rates.value) {
    for (int j = 0; j < region_count; ++j) {
      std::fill_n(table[static_cast<std::size_t>(j)].begin(), points, 0.0);
    }
  }
}

void compute_coefficients(const HeaderRecord& header, const RateTable& rates,
                          std::span<const double> times, int region_count,
                          const std::string& file_name, CoefficientTable& coef) {
  HermiteRows work;
  compute_coefficients(header, rates, times, region_count, file_name, coef, work);
}

void compute_coefficients(const HeaderRecord& header, const RateTable& rates,
                          std::span<const double> times, int region_count,
                          const std::string& file_name, CoefficientTable& coef, HermiteRows& work) {
  if (header.n == 1) {
    // A single time point carries the coefficients themselves, for every time.
    for (int t : {kLow, kHigh}) {
      for (int j = 0; j < region_count; ++j) {
        std::fill_n(coef.coef[t][j].begin(), times.size(), rates.value[t][j][0]);
      }
    }
    return;
  }
  const TablesToIntegrate tables = tables_of_code(header.table_code);
  if (tables.low || tables.high) work.prepare(header.n, rates.x.data(), 0.0, times);
  if (tables.low) {
    integrate_table(kLow, header, rates, region_count, file_name, work, coef);
  } else {
    zero_table(kLow, times.size(), region_count, coef);
  }
  if (tables.high) {
    integrate_table(kHigh, header, rates, region_count, file_name, work, coef);
  } else {
    zero_table(kHigh, times.size(), region_count, coef);
  }
}

namespace {

void check_setup(const RunSetup& setup) {
  if (setup.regions.size() > static_cast<std::size_t>(kMaxSelectedRegions)) {
    throw std::invalid_argument("more selected regions than the rate table holds");
  }
  if (setup.times.size() > static_cast<std::size_t>(kMaxIntegrationTimes)) {
    throw std::invalid_argument("more integration times than the coefficient table holds");
  }
  for (const int region : setup.regions) {
    if (region != setup.lung_region && (region < 1 || region > kMaxRegionNames)) {
      throw std::invalid_argument("region number " + std::to_string(region) +
                                  " has no column in the dose-rate file");
    }
  }
}

// The tables of one thread that computes coefficients, set up once and reused from record to
// record.
struct Workspace {
  RateTable rates;
  CoefficientTable coef;
  HermiteRows work;
};

void process_serially(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                      ProgressObserver* progress) {
  const int region_count = static_cast<int>(setup.regions.size());
  const std::span<const double> times(setup.times);
  const std::string& file_name = reader.display_name();
  const auto tables = std::make_unique<Workspace>();
  HeaderRecord header;

  // The test for the end of the file comes after each record, so the first header line is
  // read without one. A line of blanks where a header is expected is passed over.
  do {
    const std::string_view line = reader.read_line();
    if (is_blank_header(line)) continue;
    header = decode_header(line, setup.data_set, reader.line_number());
    validate_header(header, file_name);

    const int position = match_age(header.age_days, setup.age_groups);
    if (position == 0) {
      skip_data_block(reader, header);
      continue;
    }
    clear_rates(tables->rates, region_count, header.n);
    read_data_block(reader, header, setup.regions, setup.lung_region, tables->rates);
    if (progress != nullptr) {
      progress->record_processed(header, reader.bytes_consumed(), reader.total_bytes());
    }
    compute_coefficients(header, tables->rates, times, region_count, file_name, tables->coef,
                         tables->work);
    sink.record_done(position - 1, header, tables->coef);
  } while (!reader.at_end_of_file());
}

// One processed record on its way: cut from the file on the calling thread, computed and
// prepared on a worker (or the calling thread), handed on on the calling thread.
struct RecordJob {
  int position = 0;  // the matched selected-age position, from 1
  HeaderRecord header;
  std::string block;             // the data lines; released once parsed
  std::uint64_t bytes_done = 0;  // the reader's progress after the block
  std::vector<double> coef;      // coef[t][j][m] at (t * R + j) * M + m
  std::string prepared;          // the sink's text
  // A failure of the record's work; `before_progress` when it came while the data were read
  // (where the loop on one thread fails before it reports the record).
  std::exception_ptr error;
  bool before_progress = false;
};

// Records computed by one thread at once, in file order, so that threads meet once per batch.
struct Batch {
  std::vector<RecordJob> records;
  std::exception_ptr read_error;  // the refusal that ended the reading after these records
  std::size_t bytes = 0;          // a rough measure of the memory the batch takes
  bool done = false;              // set when computed, under the pipeline's lock
};

// A batch is closed at about this many bytes of text, and at most a few batches per computing
// thread are under way at once, so that the memory taken stays small whatever the file's size.
constexpr std::size_t kBatchBytes = std::size_t{256} << 10;
constexpr int kBatchesPerThread = 2;
constexpr int kMaxThreads = 64;

// About what a processed record takes besides its data lines while under way: its packed
// coefficients and its formatted rows.
std::size_t bytes_per_record(const RunSetup& setup) {
  const std::size_t regions = setup.regions.size();
  const std::size_t rows = std::max<std::size_t>(setup.times.size(), 1);
  return sizeof(RecordJob) + rows * (26 + 19 * regions) +
         2 * sizeof(double) * setup.times.size() * regions;
}

class RecordPipeline {
 public:
  RecordPipeline(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                 ProgressObserver* progress, int workers)
      : reader_(reader),
        setup_(setup),
        sink_(sink),
        progress_(progress),
        file_name_(reader.display_name()),
        total_bytes_(reader.total_bytes()),
        region_count_(static_cast<int>(setup.regions.size())),
        max_batches_(static_cast<std::size_t>(kBatchesPerThread * (workers + 1) + 1)),
        per_record_bytes_(bytes_per_record(setup)),
        delivered_(std::make_unique<CoefficientTable>()),
        own_space_(std::make_unique<Workspace>()) {
    for (int w = 0; w < workers; ++w) spaces_.push_back(std::make_unique<Workspace>());
  }

  RecordPipeline(const RecordPipeline&) = delete;
  RecordPipeline& operator=(const RecordPipeline&) = delete;

  // Stops the workers, also when a record's refusal or the sink ends the run early.
  ~RecordPipeline() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    abandon_.store(true, std::memory_order_relaxed);
    work_ready_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  void run() {
    for (const auto& space : spaces_) {
      threads_.emplace_back([this, s = space.get()] { work(*s); });
    }
    read_records();
    deliver_all();
  }

 private:
  // The calling thread: reads header lines and cuts the data blocks of processed records,
  // exactly as the loop on one thread reads them, and hands on what the workers finish.
  void read_records() {
    auto batch = std::make_unique<Batch>();
    for (bool more = true; more;) {
      try {
        more = read_record(*batch);
      } catch (...) {
        batch->read_error = std::current_exception();
        break;
      }
      if (batch->bytes >= kBatchBytes) {
        submit(std::move(batch));
        batch = std::make_unique<Batch>();
      }
    }
    if (!batch->records.empty() || batch->read_error) submit(std::move(batch));
  }

  // Reads the next record: passes it over, or adds it to the batch. False at the end of the
  // file. The test for the end comes after each record, so the first header line is read
  // without one.
  bool read_record(Batch& batch) {
    const std::string_view line = reader_.read_line();
    if (!is_blank_header(line)) {
      HeaderRecord header = decode_header(line, setup_.data_set, reader_.line_number());
      validate_header(header, file_name_);
      const int position = match_age(header.age_days, setup_.age_groups);
      if (position == 0) {
        skip_data_block(reader_, header);
      } else {
        std::string block = read_data_block_text(reader_, header);
        batch.bytes += block.size() + header.line.size() + per_record_bytes_;
        RecordJob& job = batch.records.emplace_back();
        job.position = position;
        job.header = std::move(header);
        job.block = std::move(block);
        job.bytes_done = reader_.bytes_consumed();
      }
    }
    return !reader_.at_end_of_file();
  }

  // Queues a batch for the workers, handing on every finished batch at the front on the way
  // and, while the most batches are under way, computing one itself or waiting.
  void submit(std::unique_ptr<Batch> batch) {
    std::unique_lock lock(mutex_);
    for (;;) {
      while (!under_way_.empty() && under_way_.front()->done) deliver_front(lock);
      if (under_way_.size() < max_batches_) break;
      if (!help(lock)) batch_done_.wait(lock);
    }
    waiting_.push_back(batch.get());
    under_way_.push_back(std::move(batch));
    lock.unlock();
    work_ready_.notify_one();
  }

  void deliver_all() {
    std::unique_lock lock(mutex_);
    while (!under_way_.empty()) {
      if (under_way_.front()->done) {
        deliver_front(lock);
      } else if (!help(lock)) {
        batch_done_.wait(lock);
      }
    }
  }

  // Rather than wait, the calling thread computes the first waiting batch itself. False when
  // no batch is waiting.
  bool help(std::unique_lock<std::mutex>& lock) {
    if (waiting_.empty()) return false;
    Batch* batch = waiting_.front();
    waiting_.pop_front();
    lock.unlock();
    compute(*batch, *own_space_);
    lock.lock();
    batch->done = true;
    return true;
  }

  // Takes the finished batch at the front and hands it on without holding the lock.
  void deliver_front(std::unique_lock<std::mutex>& lock) {
    std::unique_ptr<Batch> batch = std::move(under_way_.front());
    under_way_.pop_front();
    lock.unlock();
    // Relock on the way out, also when the batch ends the run with a refusal.
    struct Relock {
      std::unique_lock<std::mutex>& lock;
      ~Relock() { lock.lock(); }
    } relock{lock};
    deliver(*batch);
  }

  // The calls of the loop on one thread for each record, in the same order.
  void deliver(Batch& batch) {
    const std::size_t regions = static_cast<std::size_t>(region_count_);
    const std::size_t times = setup_.times.size();
    for (RecordJob& job : batch.records) {
      if (job.error && job.before_progress) std::rethrow_exception(job.error);
      if (progress_ != nullptr) {
        progress_->record_processed(job.header, job.bytes_done, total_bytes_);
      }
      if (job.error) std::rethrow_exception(job.error);
      const double* from = job.coef.data();
      for (auto& table : delivered_->coef) {
        for (std::size_t j = 0; j < regions; ++j, from += times) {
          std::copy_n(from, times, table[j].begin());
        }
      }
      sink_.record_prepared(job.position - 1, job.header, *delivered_, job.prepared);
      job = RecordJob();  // the memory goes back at once
    }
    if (batch.read_error) std::rethrow_exception(batch.read_error);
  }

  // A worker: parses, integrates and prepares batch after batch.
  void work(Workspace& space) {
    std::unique_lock lock(mutex_);
    for (;;) {
      work_ready_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      Batch* batch = waiting_.front();
      waiting_.pop_front();
      lock.unlock();
      compute(*batch, space);
      lock.lock();
      batch->done = true;
      batch_done_.notify_one();
    }
  }

  void compute(Batch& batch, Workspace& space) const {
    const std::size_t regions = static_cast<std::size_t>(region_count_);
    const std::size_t times = setup_.times.size();
    for (RecordJob& job : batch.records) {
      if (abandon_.load(std::memory_order_relaxed)) return;
      bool parsed = false;
      try {
        clear_rates(space.rates, region_count_, job.header.n);
        parse_data_block(job.block, job.header, setup_.regions, setup_.lung_region, space.rates,
                         file_name_);
        parsed = true;
        job.block = std::string();
        compute_coefficients(job.header, space.rates, setup_.times, region_count_, file_name_,
                             space.coef, space.work);
        job.coef.resize(2 * regions * times);
        double* to = job.coef.data();
        for (const auto& table : space.coef.coef) {
          for (std::size_t j = 0; j < regions; ++j, to += times) {
            std::copy_n(table[j].begin(), times, to);
          }
        }
        job.prepared = sink_.prepare(job.position - 1, job.header, space.coef);
      } catch (...) {
        // The run stops at this record; the records after it are never handed on.
        job.error = std::current_exception();
        job.before_progress = !parsed;
        return;
      }
    }
  }

  LineReader& reader_;
  const RunSetup& setup_;
  RecordSink& sink_;
  ProgressObserver* const progress_;
  const std::string& file_name_;
  const std::uint64_t total_bytes_;
  const int region_count_;
  const std::size_t max_batches_;
  const std::size_t per_record_bytes_;           // memory a record takes besides its text
  std::unique_ptr<CoefficientTable> delivered_;  // the table handed to the sink
  std::unique_ptr<Workspace> own_space_;         // for the batches the calling thread computes
  std::vector<std::unique_ptr<Workspace>> spaces_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable work_ready_;            // a batch is waiting, or the workers are to stop
  std::condition_variable batch_done_;            // a worker computed a batch
  std::deque<std::unique_ptr<Batch>> under_way_;  // queued and not yet handed on, file order
  std::deque<Batch*> waiting_;                    // not yet taken by any thread
  bool stopping_ = false;
  std::atomic<bool> abandon_{false};  // the run ends early: the workers leave their batches
};

int thread_count(int requested) {
  if (requested > 0) return std::min(requested, kMaxThreads);
  const unsigned processors = std::thread::hardware_concurrency();
  return processors == 0 ? 1 : std::min(static_cast<int>(processors), kMaxThreads);
}

}  // namespace

void process_records(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                     ProgressObserver* progress) {
  check_setup(setup);
  const int threads = thread_count(setup.threads);
  if (threads <= 1) {
    process_serially(reader, setup, sink, progress);
    return;
  }
  // The calling thread computes too whenever it would otherwise wait.
  RecordPipeline pipeline(reader, setup, sink, progress, threads - 1);
  pipeline.run();
}

}  // namespace kestrane
