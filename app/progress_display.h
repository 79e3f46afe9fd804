// Progress of the record loop on the processing screen: the header line of the last
// processed record at row 12, column 20, with a progress bar below it (the text of
// progress_text, as kestrane-batch's bar says it), redrawn a few times a second at most so the
// work never waits on the terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "app/progress_bar.h"
#include "dose/record_loop.h"
#include "ui/console.h"

namespace kestrane {

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
  void hold_for_tests();

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
  std::string hold_file_;  // KESTRANE_TEST_HOLD_FILE, for the real-terminal tests only
};

}  // namespace kestrane
