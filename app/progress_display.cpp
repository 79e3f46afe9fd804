// The progress of the record loop: its text, the processing screen's header line and bar,
// and kestrane-batch's bar, each throttled.
#include "app/progress_display.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace kestrane {
namespace {

// Whole seconds as m:ss, or h:mm:ss from an hour on.
std::string clock_text(double seconds) {
  const long long s = static_cast<long long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
  }
  return buf;
}

double seconds_between(ProgressClock::time_point from, ProgressClock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

std::string progress_text(const ProgressFigures& figures, int bar_width) {
  const std::uint64_t total = figures.bytes_total;
  const std::uint64_t done = std::min(figures.bytes_done, total);
  const double share = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
  const double rate = figures.seconds > 0 ? static_cast<double>(done) / figures.seconds : 0.0;
  const auto filled = static_cast<std::size_t>(share * bar_width);
  std::string bar(filled, '#');
  bar.append(static_cast<std::size_t>(bar_width) - filled, '.');
  const std::string left =
      rate > 0 ? clock_text(static_cast<double>(total - done) / rate) : std::string("-");
  char buf[160];
  std::snprintf(buf, sizeof buf, "%lld records [%s] %3.0f%% %7.1f MB/s %s left", figures.records,
                bar.c_str(), share * 100, rate / 1e6, left.c_str());
  return buf;
}

// ---- The processing screen --------------------------------------------------------------

ProgressDisplay::ProgressDisplay(Console& console, ProgressClock::duration interval,
                                 std::function<ProgressClock::time_point()> now)
    : console_(console), interval_(interval), now_(std::move(now)), start_(now_()) {}

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

// ---- kestrane-batch ---------------------------------------------------------------------

namespace {
// Set while a bar stands on the terminal's last line, for a signal handler to read.
volatile std::sig_atomic_t g_bar_drawn = 0;
}  // namespace

bool progress_bar_drawn() noexcept { return g_bar_drawn != 0; }

ProgressBar::ProgressBar(std::ostream& err) : err_(err), start_(ProgressClock::now()) {}

void ProgressBar::record_processed(const HeaderRecord&, std::uint64_t bytes_done,
                                   std::uint64_t bytes_total) {
  ++records_;
  const ProgressClock::time_point now = ProgressClock::now();
  if (drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  last_draw_ = now;
  std::string line =
      progress_text({records_, bytes_done, bytes_total, seconds_between(start_, now)}, 20);
  const std::size_t width = line.size();
  if (width < width_) line.append(width_ - width, ' ');
  width_ = std::max(width_, width);
  g_bar_drawn = 1;
  err_ << '\r' << line << std::flush;
  drawn_ = true;
}

void ProgressBar::finish() {
  if (!drawn_) return;
  err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
  drawn_ = false;
  g_bar_drawn = 0;
}

}  // namespace kestrane
