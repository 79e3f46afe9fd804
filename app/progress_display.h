// The progress line of the processing screen: the header line of the last processed record
// at row 12, column 20, redrawn a few times a second at most so the work never waits on the
// terminal.
#pragma once

#include <chrono>
#include <string>

#include "dose/record_loop.h"
#include "platform/console.h"

namespace kestrane {

class ProgressDisplay : public ProgressObserver {
 public:
  static constexpr int kRow = 12;
  static constexpr int kColumn = 20;
  static constexpr std::chrono::milliseconds kDefaultInterval{250};

  // Draws at most once per `interval`; the first record is drawn at once.
  explicit ProgressDisplay(Console& console,
                           std::chrono::steady_clock::duration interval = kDefaultInterval);

  void record_processed(const HeaderRecord& header, std::uint64_t bytes_done,
                        std::uint64_t bytes_total) override;

  // Draws the header of the last processed record if it is not on the screen yet. Called when
  // the record loop has ended, however it ended.
  void finish();

 private:
  void draw();

  Console& console_;
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point last_draw_{};
  bool drawn_any_ = false;
  bool pending_ = false;
  std::string line_;
};

}  // namespace kestrane
