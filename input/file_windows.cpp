// Windows of an input file mapped for reading (platform/mapped_input maps them), with their
// page tables filled in at once, on the reader's thread or ahead of it on a thread of its own.
#include "input/file_windows.h"

#include <unistd.h>

#include <cstdint>
#include <system_error>
#include <utility>

#include "platform/mapped_input.h"
#include "platform/threads.h"

namespace kestrane {

void find_window_breaks(const SourceWindow& window, std::size_t most) {
  if (window.breaks && window.size <= line_scan::kMostBrokenWindow &&
      line_scan::find_breaks(window.bytes.get(), window.size, most, window.breaks->at)) {
    window.breaks->ready.store(true, std::memory_order_release);
  }
}

FileWindows::~FileWindows() {
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

SourceWindow FileWindows::map(std::uint64_t start, std::size_t size, bool populate_now) const {
  std::shared_ptr<const char> bytes = map_for_reading(fd_, start, size, populate_now);
  if (!bytes) return {};
  return {std::move(bytes), start, size, {}, 0};
}

SourceWindow FileWindows::map_now(std::uint64_t start, std::size_t size) const {
  return map(start, size, true);
}

SourceWindow FileWindows::map_ahead(std::uint64_t start, std::size_t size) {
  std::unique_lock lock(mutex_);
  if (!thread_.joinable() && !no_thread_) {
    // The thread takes no quit signal: those go to the thread that expects them. Those its
    // own faults raise stay open to their handlers (a blocked one would kill the process
    // outright): a SIGBUS where the file became shorter ends the run with a message.
    try {
      thread_ = start_quiet_thread([this] { run(); });
    } catch (const std::system_error&) {
      no_thread_ = true;
    }
  }
  if (no_thread_) return map(start, size, true);
  SourceWindow window = map(start, size, false);
  if (window.bytes) {
    window.breaks = std::make_shared<line_scan::LineBreaks>();
    window.breaks_from = start;
    pending_ = window;  // one left unfilled is no longer needed
    lock.unlock();
    changed_.notify_one();
  }
  return window;
}

void FileWindows::wait_for_breaks(const SourceWindow& window) {
  if (!window.breaks) return;
  std::unique_lock lock(mutex_);
  looked_.wait(lock, [&window] { return window.breaks->looked.load(std::memory_order_acquire); });
}

void FileWindows::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return ending_ || pending_.bytes; });
    if (ending_) return;
    const SourceWindow window = std::exchange(pending_, SourceWindow());
    lock.unlock();
    populate_mapping(window.bytes.get(), window.size);
    // The line breaks of a window of short lines would take up to four times its size: they
    // are left to the reader once they would take a quarter of it.
    find_window_breaks(window, window.size / 16);
    window.breaks->looked.store(true, std::memory_order_release);
    lock.lock();
    looked_.notify_all();
  }
}

}  // namespace kestrane
