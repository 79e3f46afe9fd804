// The progress of the record loop in words and on a terminal's line: the text both front
// ends draw ("<records> records [<bar>] NN% <rate> MB/s <time> left", or of a pipe
// "<records> records <amount> MB read <rate> MB/s"), and kestrane-batch's
// bar on standard error, redrawn ten times a second at most so the work never waits on the
// terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

#include "dose/record_loop.h"

namespace kestrane {

// Where the record loop stands.
struct ProgressFigures {
  long long records = 0;          // records processed so far
  std::uint64_t bytes_done = 0;   // bytes of the dose-rate file read
  std::uint64_t bytes_total = 0;  // its size; 0 where it is not known (a pipe)
  double seconds = 0;             // since processing began
};

// "<records> records [<bar>] NN% <rate> MB/s <time> left": the bar `bar_width` characters
// of '#' for the share read and '.' for the rest; the time left at the rate so far, as m:ss
// or h:mm:ss, or "-" before anything is read. Where the size is not known there is no share
// and no time left to tell: "<records> records <amount> MB read <rate> MB/s", the amount in
// the same millions of bytes as the rate.
std::string progress_text(const ProgressFigures& figures, int bar_width);

using ProgressClock = std::chrono::steady_clock;

// The seconds from `from` to `to`.
double seconds_between(ProgressClock::time_point from, ProgressClock::time_point to);

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
