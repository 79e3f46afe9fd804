// The progress line of the processing screen, throttled.
#include "app/progress_display.h"

namespace kestrane {

ProgressDisplay::ProgressDisplay(Console& console, std::chrono::steady_clock::duration interval)
    : console_(console), interval_(interval) {}

void ProgressDisplay::record_processed(const HeaderRecord& header, std::uint64_t /*bytes_done*/,
                                       std::uint64_t /*bytes_total*/) {
  line_.assign(header.line);
  pending_ = true;
  const auto now = std::chrono::steady_clock::now();
  if (!drawn_any_ || now - last_draw_ >= interval_) {
    draw();
    last_draw_ = now;
  }
}

void ProgressDisplay::finish() {
  if (pending_) draw();
}

void ProgressDisplay::draw() {
  // The row is not cleared first: header lines of one data set all have the same length.
  console_.move_to(kRow, kColumn);
  console_.write_text(line_);
  console_.line_break();
  console_.refresh();
  drawn_any_ = true;
  pending_ = false;
}

}  // namespace kestrane
