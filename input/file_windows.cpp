// Windows of an input file mapped for reading (mmap), with their page tables filled in at once,
// on the reader's thread or ahead of it on a thread of its own.
#include "input/file_windows.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <system_error>
#include <utility>

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
                      size};
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
    // The thread takes no signal: those the program handles go to the threads that expect them.
    sigset_t all;
    sigset_t saved;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &saved);
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      no_thread_ = true;
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  }
  if (no_thread_) return map(start, size, true);
  SourceWindow window = map(start, size, false);
  if (window.bytes) {
    pending_ = window;  // one left unfilled is no longer needed
    lock.unlock();
    changed_.notify_one();
  }
  return window;
}

void FileWindows::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return ending_ || pending_.bytes; });
    if (ending_) return;
    const SourceWindow window = std::exchange(pending_, SourceWindow());
    lock.unlock();
    populate(window);
    lock.lock();
  }
}

}  // namespace kestrane
