// The progress text of the record loop and kestrane-batch's bar, throttled.
#include "app/progress_bar.h"

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

}  // namespace

double seconds_between(ProgressClock::time_point from, ProgressClock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

std::string progress_text(const ProgressFigures& figures, int bar_width) {
  char buf[160];
  if (figures.bytes_total == 0) {
    const double read = static_cast<double>(figures.bytes_done);
    const double rate = figures.seconds > 0 ? read / figures.seconds : 0.0;
    std::snprintf(buf, sizeof buf, "%lld records %7.1f MB read %7.1f MB/s", figures.records,
                  read / 1e6, rate / 1e6);
    return buf;
  }
  const std::uint64_t total = figures.bytes_total;
  const std::uint64_t done = std::min(figures.bytes_done, total);
  const double share = total > 0 ? static_cast<double>(done) / static_cast<double>(total) : 0.0;
  const double rate = figures.seconds > 0 ? static_cast<double>(done) / figures.seconds : 0.0;
  const auto filled = static_cast<std::size_t>(share * bar_width);
  std::string bar(filled, '#');
  bar.append(static_cast<std::size_t>(bar_width) - filled, '.');
  const std::string left =
      rate > 0 ? clock_text(static_cast<double>(total - done) / rate) : std::string("-");
  std::snprintf(buf, sizeof buf, "%lld records [%s] %3.0f%% %7.1f MB/s %s left", figures.records,
                bar.c_str(), share * 100, rate / 1e6, left.c_str());
  return buf;
}

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
