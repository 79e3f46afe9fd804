// Windows of an input file mapped for reading, and the thread that fills in the page tables of
// the next window while the reader looks at the current one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace kestrane {

// The bytes [start, start + size) of a source, readable while `bytes` is held.
struct SourceWindow {
  std::shared_ptr<const char> bytes;
  std::uint64_t start = 0;
  std::size_t size = 0;
};

// Maps windows of an open file, read-only; each is unmapped when the last holder lets it go.
class FileWindows {
 public:
  explicit FileWindows(int fd) : fd_(fd) {}
  ~FileWindows();
  FileWindows(const FileWindows&) = delete;
  FileWindows& operator=(const FileWindows&) = delete;

  // The window with its page tables filled in (in one call, rather than a fault for every few
  // pages as they are first read). No bytes when the file cannot be mapped (errno says why).
  // `start` is a multiple of the page size.
  SourceWindow map_now(std::uint64_t start, std::size_t size) const;
  // The window mapped at once, its page tables filled in on a thread of its own (started by
  // the first call), so that the reader finds them filled in when it comes to the window.
  SourceWindow map_ahead(std::uint64_t start, std::size_t size);

 private:
  SourceWindow map(std::uint64_t start, std::size_t size, bool populate) const;
  void run();

  int fd_;
  std::mutex mutex_;
  std::condition_variable changed_;
  SourceWindow pending_;  // the window to fill in next
  bool ending_ = false;
  bool no_thread_ = false;  // none could be started: windows are filled in as they are mapped
  std::thread thread_;
};

}  // namespace kestrane
