// The thread pipeline of the record loop: the calling thread reads the records (through the
// same RecordReader as the loop on one thread) and hands the results on in file order, while
// worker threads parse, integrate and format batches of records, and the calling thread
// computes too whenever it would otherwise wait.
#include "dose/record_pipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/threads.h"

namespace kestrane {

namespace {

// One processed record on its way: cut from the file on the calling thread, computed and
// prepared on a worker (or the calling thread), handed on on the calling thread.
struct RecordJob {
  RecordText record;  // the block (and the window of the file it may hold) is released once parsed
  // coef[t][j][m] at (t * R + j) * M + m, then outside[t][j][m] at ((2 + t) * R + j) * M + m
  std::vector<double> coef;
  double first_time = 0, last_time = 0;
  std::array<bool, 2> integrated{};
  std::int64_t tail_fallbacks = 0;
  PreparedRecord prepared;  // what the sink prepared
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
  // The windows of the file that the records' texts hold readable, counted apart, each with
  // the first batch that holds it: a window holds many records, for several batches in turn.
  std::size_t window_bytes = 0;
  bool done = false;  // set when computed, under the pipeline's lock
};

// A batch is closed at about this many bytes of text, and at most a few batches per computing
// thread are under way at once, holding together no more than kBytesInFlight (a single batch
// larger than that goes alone), so that the memory taken stays small whatever the file holds.
// The windows of the file the batches hold are kept within kWindowBytesInFlight the same way
// (with one window more at most: the one that the oldest batch under way shares with a batch
// already handed on, which counted it).
constexpr std::size_t kBatchBytes = std::size_t{256} << 10;
constexpr int kBatchesPerThread = 2;
constexpr std::size_t kBytesInFlight = std::size_t{8} << 20;
constexpr std::size_t kWindowBytesInFlight = std::size_t{16} << 20;

// About what a processed record takes besides its data lines while under way: its packed
// coefficients and its formatted rows.
std::size_t bytes_per_record(const RunSetup& setup) {
  const std::size_t regions = setup.regions.size();
  const std::size_t rows = std::max<std::size_t>(setup.most_times(), 1);
  return sizeof(RecordJob) + rows * (26 + 19 * regions) +
         4 * sizeof(double) * setup.most_times() * regions;
}

class RecordPipeline {
 public:
  RecordPipeline(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                 ProgressObserver* progress, int workers)
      : setup_(setup),
        sink_(sink),
        carry_table_(sink.reads_prepared_table()),
        progress_(progress),
        file_name_(reader.display_name()),
        total_bytes_(reader.total_bytes()),
        region_count_(static_cast<int>(setup.regions.size())),
        max_batches_(static_cast<std::size_t>(kBatchesPerThread * (workers + 1) + 1)),
        per_record_bytes_(bytes_per_record(setup)),
        records_(reader, setup),
        delivered_(std::make_unique<CoefficientTable>()),
        own_space_(std::make_unique<RecordWorkspace>()) {
    for (int w = 0; w < workers; ++w) spaces_.push_back(std::make_unique<RecordWorkspace>());
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
    // The workers never take a quit signal: the calling thread alone does, and it blocks
    // them while the files of the run are put in place.
    for (const auto& space : spaces_) {
      threads_.push_back(start_quiet_thread([this, s = space.get()] { work(*s); }));
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

  // Adds the next record to process to the batch. False at the end of the file.
  bool read_record(Batch& batch) {
    RecordText record;
    if (!records_.next(record)) return false;
    batch.bytes += record.block.view().size() + record.header.line.size() + per_record_bytes_;
    if (record.block.holder() != nullptr && record.block.holder() != last_window_) {
      last_window_ = record.block.holder();
      batch.window_bytes += record.block.held_bytes();
    }
    batch.records.emplace_back().record = std::move(record);
    return true;
  }

  // Queues a batch for the workers, handing on every finished batch at the front on the way
  // and, while the most batches are under way, computing one itself or waiting.
  void submit(std::unique_ptr<Batch> batch) {
    std::unique_lock lock(mutex_);
    for (;;) {
      while (!under_way_.empty() && under_way_.front()->done) deliver_front(lock);
      if (under_way_.empty() ||
          (under_way_.size() < max_batches_ && bytes_under_way_ + batch->bytes <= kBytesInFlight &&
           windows_under_way_ + batch->window_bytes <= kWindowBytesInFlight)) {
        break;
      }
      if (!help(lock)) batch_done_.wait(lock);
    }
    waiting_.push_back(batch.get());
    bytes_under_way_ += batch->bytes;
    windows_under_way_ += batch->window_bytes;
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
    bytes_under_way_ -= batch->bytes;
    windows_under_way_ -= batch->window_bytes;
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
    for (RecordJob& job : batch.records) {
      const std::size_t times = setup_.times_of(job.record.position - 1).size();
      if (job.error && job.before_progress) std::rethrow_exception(job.error);
      if (progress_ != nullptr) {
        progress_->record_processed(job.record.header, job.record.bytes_done, total_bytes_);
      }
      if (job.error) std::rethrow_exception(job.error);
      const double* from = job.coef.data();
      for (auto* cells : {&delivered_->coef, &delivered_->outside}) {
        for (auto& table : *cells) {
          for (std::size_t j = 0; carry_table_ && j < regions; ++j, from += times) {
            std::copy_n(from, times, table[j].begin());
          }
        }
      }
      delivered_->first_time = job.first_time;
      delivered_->last_time = job.last_time;
      delivered_->integrated = job.integrated;
      delivered_->tail_fallbacks = job.tail_fallbacks;
      sink_.record_prepared(job.record.position - 1, job.record.header, *delivered_, job.prepared);
      job = RecordJob();  // the memory goes back at once
    }
    if (batch.read_error) std::rethrow_exception(batch.read_error);
  }

  // A worker: parses, integrates and prepares batch after batch.
  void work(RecordWorkspace& space) {
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

  void compute(Batch& batch, RecordWorkspace& space) const {
    const std::size_t regions = static_cast<std::size_t>(region_count_);
    for (RecordJob& job : batch.records) {
      if (abandon_.load(std::memory_order_relaxed)) return;
      const std::size_t times = setup_.times_of(job.record.position - 1).size();
      bool parsed = false;
      try {
        read_rates(job.record, setup_, file_name_, space);
        parsed = true;
        job.record.block = LinesText();
        compute_record(job.record, setup_, file_name_, space);
        job.coef.resize(carry_table_ ? 4 * regions * times : 0);
        double* to = job.coef.data();
        for (const auto* cells : {&space.coef.coef, &space.coef.outside}) {
          for (const auto& table : *cells) {
            for (std::size_t j = 0; carry_table_ && j < regions; ++j, to += times) {
              std::copy_n(table[j].begin(), times, to);
            }
          }
        }
        job.first_time = space.coef.first_time;
        job.last_time = space.coef.last_time;
        job.integrated = space.coef.integrated;
        job.tail_fallbacks = space.coef.tail_fallbacks;
        job.prepared =
            sink_.prepare_from(job.record.position - 1, job.record.header, space.rates, space.coef);
      } catch (...) {
        // The run stops at this record; the records after it are never handed on.
        job.error = std::current_exception();
        job.before_progress = !parsed;
        return;
      }
    }
  }

  const RunSetup& setup_;
  RecordSink& sink_;
  const bool carry_table_;  // whether the sink reads the table of a prepared record
  ProgressObserver* const progress_;
  const std::string& file_name_;
  const std::uint64_t total_bytes_;
  const int region_count_;
  const std::size_t max_batches_;
  const std::size_t per_record_bytes_;  // memory a record takes besides its text
  RecordReader records_;
  std::unique_ptr<CoefficientTable> delivered_;  // the table handed to the sink
  std::unique_ptr<RecordWorkspace> own_space_;   // for the batches the calling thread computes
  std::vector<std::unique_ptr<RecordWorkspace>> spaces_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable work_ready_;            // a batch is waiting, or the workers are to stop
  std::condition_variable batch_done_;            // a worker computed a batch
  std::deque<std::unique_ptr<Batch>> under_way_;  // queued and not yet handed on, file order
  std::deque<Batch*> waiting_;                    // not yet taken by any thread
  std::size_t bytes_under_way_ = 0;               // the sum of their `bytes`
  std::size_t windows_under_way_ = 0;             // and of their `window_bytes`
  const void* last_window_ = nullptr;             // the window last counted, on the reading thread
  bool stopping_ = false;
  std::atomic<bool> abandon_{false};  // the run ends early: the workers leave their batches
};

}  // namespace

void process_in_pipeline(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                         ProgressObserver* progress, int workers) {
  RecordPipeline pipeline(reader, setup, sink, progress, workers);
  pipeline.run();
}

}  // namespace kestrane
