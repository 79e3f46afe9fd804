// The processing screen's header line and progress bar, throttled.
#include "app/progress_display.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

namespace kestrane {

ProgressDisplay::ProgressDisplay(Console& console, ProgressClock::duration interval,
                                 std::function<ProgressClock::time_point()> now)
    : console_(console), interval_(interval), now_(std::move(now)), start_(now_()) {
  if (const char* hold = std::getenv("KESTRANE_TEST_HOLD_FILE")) hold_file_ = hold;
}

void ProgressDisplay::record_processed(const HeaderRecord& header, std::uint64_t bytes_done,
                                       std::uint64_t bytes_total) {
  line_.assign(header.line);
  pending_ = true;
  ++figures_.records;
  figures_.bytes_done = bytes_done;
  figures_.bytes_total = bytes_total;
  const ProgressClock::time_point now = now_();
  if (!drawn_any_ || now - last_draw_ >= interval_) {
    figures_.seconds = seconds_between(start_, now);
    draw(now - start_ >= interval_);
    last_draw_ = now;
  }
  if (!hold_file_.empty()) hold_for_tests();
}

// For the real-terminal tests (tests/e2e) only: while the file named by
// KESTRANE_TEST_HOLD_FILE exists, the run waits after each processed record, its screen kept
// as in any run (the bar drawn once its interval has passed), so that a test can act while the
// records are processed however fast the build is. Without the variable nothing waits.
void ProgressDisplay::hold_for_tests() {
  std::error_code error;
  while (std::filesystem::exists(hold_file_, error)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const ProgressClock::time_point now = now_();
    if (!bar_shown_ && now - start_ >= interval_) {
      figures_.seconds = seconds_between(start_, now);
      draw(true);
      last_draw_ = now;
    }
  }
}

void ProgressDisplay::finish() {
  if (!pending_ && !bar_shown_) return;
  figures_.seconds = seconds_between(start_, now_());
  draw(bar_shown_);
}

void ProgressDisplay::draw(bool with_bar) {
  // The header row is not cleared first: header lines of one data set all have the same
  // length. The bar row is, up to the last column but one, since the bar's text varies.
  console_.move_to(kRow, kColumn);
  console_.write_text(line_);
  console_.line_break();
  if (with_bar) {
    std::string bar = progress_text(figures_, kBarWidth);
    bar.resize(static_cast<std::size_t>(kConsoleColumns - kColumn), ' ');
    console_.move_to(kBarRow, kColumn);
    console_.write_text(bar);
    console_.line_break();
    bar_shown_ = true;
  }
  console_.refresh();
  drawn_any_ = true;
  pending_ = false;
}

}  // namespace kestrane
