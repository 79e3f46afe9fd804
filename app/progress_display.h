// Progress of the record loop, shown while the records are processed: on the processing
// screen, the header line of the last processed record at row 12, column 20, with a progress
// bar below it; in kestrane-batch, a bar on standard error. Both bars say the same, drawn by
// progress_text, and are redrawn a few times a second at most so the work never waits on the
// terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "dose/record_loop.h"
#include "platform/console.h"

namespace kestrane {

// Where the record loop stands.
struct ProgressFigures {
  long long records = 0;          // records processed so far
  std::uint64_t bytes_done = 0;   // bytes of the dose-rate file read
  std::uint64_t bytes_total = 0;  // its size
  double seconds = 0;             // since processing began
};

// "<records> records [<bar>] NN% <rate> MB/s <time> left": the bar `bar_width` characters
// of '#' for the share read and '.' for the rest; the time left at the rate so far, as m:ss
// or h:mm:ss, or "-" before anything is read.
std::string progress_text(const ProgressFigures& figures, int bar_width);

using ProgressClock = std::chrono::steady_clock;

// The progress of the processing screen.
class ProgressDisplay : public ProgressObserver {
 public:
  static constexpr int kRow = 12;
  static constexpr int kColumn = 20;
  static constexpr int kBarRow = kRow + 1;
  static constexpr int kBarWidth = 10;
  static constexpr std::chrono::milliseconds kDefaultInterval{250};

  // Draws at most once per `interval`: the first record's header at once, the bar first one
  // interval after the start (so a short run never shows it). `now` gives the time.
  explicit ProgressDisplay(
      Console& console, ProgressClock::duration interval = kDefaultInterval,
      std::function<ProgressClock::time_point()> now = [] { return ProgressClock::now(); });

  void record_processed(const HeaderRecord& header, std::uint64_t bytes_done,
                        std::uint64_t bytes_total) override;

  // Draws the header of the last processed record if it is not on the screen yet, and the
  // bar as it ends if it was shown. Called when the record loop has ended, however it ended.
  void finish();

 private:
  void draw(bool with_bar);

  Console& console_;
  ProgressClock::duration interval_;
  std::function<ProgressClock::time_point()> now_;
  ProgressClock::time_point start_;
  ProgressClock::time_point last_draw_{};
  bool drawn_any_ = false;
  bool bar_shown_ = false;
  bool pending_ = false;
  std::string line_;
  ProgressFigures figures_;
};

// True while a ProgressBar stands on the terminal's line, so that a signal handler can write
// its note on a line of its own. Async-signal-safe.
bool progress_bar_drawn() noexcept;

// The bar of kestrane-batch on a terminal's standard error: one line, rewritten in place
// (carriage return) at most ten times a second.
class ProgressBar : public ProgressObserver {
 public:
  explicit ProgressBar(std::ostream& err);

  void record_processed(const HeaderRecord& header, std::uint64_t bytes_done,
                        std::uint64_t bytes_total) override;

  // Removes the bar, leaving the line empty for what follows.
  void finish();

 private:
  std::ostream& err_;
  ProgressClock::time_point start_;
  ProgressClock::time_point last_draw_{};
  long long records_ = 0;
  std::size_t width_ = 0;
  bool drawn_ = false;
};

}  // namespace kestrane
