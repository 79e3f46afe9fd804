// Windows of an input file mapped for reading, and the thread that fills in the page tables of
// the next window and finds its line breaks while the reader looks at the current one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "input/line_scan.h"
#include "platform/mapped_input.h"

namespace kestrane {

// The bytes [start, start + size) of a source, readable while `bytes` is held, and where its
// line breaks lie once they are known (null when nobody looks for them).
struct SourceWindow {
  std::shared_ptr<const char> bytes;
  std::uint64_t start = 0;
  std::size_t size = 0;
  std::shared_ptr<line_scan::LineBreaks> breaks;
  std::uint64_t breaks_from = 0;  // the offset in the source that those of `breaks` count from
};

// Finds the line breaks of a window and sets them ready, unless there are more than `most`.
void find_window_breaks(const SourceWindow& window, std::size_t most);

// Maps windows of an open file, read-only; each is unmapped when the last holder lets it go.
// The file is watched meanwhile: should another program make it shorter than `size` (its size
// when opened), the run stops with a message that names it by `display_name` rather than die
// of the SIGBUS a page past the new end raises (platform/mapped_input.h).
class FileWindows {
 public:
  FileWindows(int fd, std::uint64_t size, std::string_view display_name)
      : fd_(fd), watch_(fd, size, display_name) {}
  ~FileWindows();
  FileWindows(const FileWindows&) = delete;
  FileWindows& operator=(const FileWindows&) = delete;

  // The window with its page tables filled in (in one call, rather than a fault for every few
  // pages as they are first read). No bytes when the file cannot be mapped (errno says why).
  // `start` is a multiple of the page size.
  SourceWindow map_now(std::uint64_t start, std::size_t size) const;
  // The window mapped at once, its page tables filled in and its line breaks found on a
  // thread of its own (started by the first call), so that the reader finds them ready when
  // it comes to the window, having spent none of its own time on them.
  SourceWindow map_ahead(std::uint64_t start, std::size_t size);
  // Waits until the line breaks of the window last made ready by map_ahead have been looked
  // for: the other thread has them nearly found by the time the reader comes to the window,
  // sooner than the reader would find them itself.
  void wait_for_breaks(const SourceWindow& window);

 private:
  SourceWindow map(std::uint64_t start, std::size_t size, bool populate) const;
  void run();

  int fd_;
  MappedInputWatch watch_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::condition_variable looked_;  // the line breaks of a window have been looked for
  SourceWindow pending_;            // the window to fill in next
  bool ending_ = false;
  bool no_thread_ = false;  // none could be started: windows are filled in as they are mapped
  std::thread thread_;
};

}  // namespace kestrane
