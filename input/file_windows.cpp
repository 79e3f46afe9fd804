// Windows of an input file mapped for reading (mmap), with their page tables filled in at once,
// on the reader's thread or ahead of it on a thread of its own.
#include "input/file_windows.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>
#include <utility>

#include "platform/threads.h"

namespace kestrane {

namespace {

// Fills in the page tables of a mapped window: in one call where the kernel can, or else by
// reading a byte of every page.
void populate(const SourceWindow& window) {
#if defined(MADV_POPULATE_READ)
  if (::madvise(const_cast<char*>(window.bytes.get()), window.size, MADV_POPULATE_READ) == 0) {
    return;
  }
#endif
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  volatile char sink = 0;
  for (std::size_t at = 0; page > 0 && at < window.size; at += page) sink = window.bytes.get()[at];
  (void)sink;
}

}  // namespace

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
  int flags = MAP_PRIVATE;
#if defined(MAP_POPULATE)
  if (populate_now) flags |= MAP_POPULATE;
#endif
  void* at = ::mmap(nullptr, size, PROT_READ, flags, fd_, static_cast<off_t>(start));
  if (at == MAP_FAILED) return {};
  SourceWindow window{{static_cast<const char*>(at),
                       [size](const char* p) { ::munmap(const_cast<char*>(p), size); }},
                      start,
                      size,
                      {},
                      0};
#if !defined(MAP_POPULATE)
  if (populate_now) populate(window);
#endif
  return window;
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
    populate(window);
    // The line breaks of a window of short lines would take up to four times its size: they
    // are left to the reader once they would take a quarter of it.
    find_window_breaks(window, window.size / 16);
    window.breaks->looked.store(true, std::memory_order_release);
    lock.lock();
    looked_.notify_all();
  }
}

}  // namespace kestrane
