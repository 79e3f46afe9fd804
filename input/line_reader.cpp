// Sequential line reading of input files: block reads, the line-end rule, byte 26 as the end
// of the file, the refusal of over-long lines, and fields cut by column.
#include "input/line_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "input/file_windows.h"
#include "input/line_scan.h"
#include "platform/mapped_input.h"

namespace kestrane {

namespace {

using line_scan::kCr;
using line_scan::kEndOfFileByte;
using line_scan::kLf;

// The observer is handed the bytes read in pieces of at most this size.
constexpr std::uint64_t kObservedPiece = std::uint64_t{1} << 20;

std::string system_message(int error) { return std::strerror(error); }

}  // namespace

// The unread bytes of the file are base[pos, lim), base being the buffer the blocks are copied
// into or the window of the source the reader looks at. When the source is exhausted, lim
// marks the end of the file; when a byte 26 has been met, `stopped` holds and nothing more is
// read.
struct LineReader::Impl {
  std::string display_name;
  int fd = -1;                                // the open file, or -1 when reading from `memory`
  std::shared_ptr<const std::string> memory;  // the bytes of an in-memory reader
  std::size_t memory_pos = 0;                 // the next of them to copy
  std::size_t block_size = kDefaultBlockSize;
  bool windows = false;    // looks at windows of the source in place of copies of its blocks
  std::uint64_t page = 1;  // a window of a mapped file starts at a multiple of this

  std::unique_ptr<FileWindows> files;  // maps the windows of a file
  std::unique_ptr<char[]> buf;         // the blocks copied
  SourceWindow window;                 // the window looked at, held while any text uses it
  SourceWindow ahead;                  // the window after it, made ready beforehand
  std::shared_ptr<line_scan::LineBreaks> memory_breaks;  // those of in-memory bytes
  const char* base = nullptr;                            // buf or the window
  std::size_t capacity = 0;                              // bytes of the buffer, or of the window
  std::size_t pos = 0;
  std::size_t lim = 0;
  std::uint64_t buf_offset = 0;  // file offset of base[0]
  bool source_done = false;      // every byte of the source is in the buffer
  bool stopped = false;          // a byte 26 ended the file
  bool pending_lf = false;       // the last line ended with a CR at the end of the buffer

  std::int64_t line_number = 0;
  std::uint64_t total = 0;
  bool sized = false;  // `total` is the size a regular file had when it was opened
  // Sees every byte read, with what holds a window's bytes readable (null for a buffer's).
  std::function<void(std::string_view, std::shared_ptr<const void>)> observer;
  // The bytes of the file before this offset have been handed to the observer. A window's
  // bytes are handed on once the lines are taken from them (they are then in the processor's
  // cache, while a copy made as the window is mapped would fetch them from memory twice).
  std::uint64_t observed = 0;

  ~Impl() {
    files.reset();  // no longer watched before the descriptor goes
    if (fd >= 0) ::close(fd);
  }

  // The line after the last one returned has gone past kMaxLineLength characters.
  [[noreturn]] void refuse_long_line() const {
    throw LineTooLong(display_name, line_number + 1,
                      "the line goes on past column " + std::to_string(kMaxLineLength) +
                          ", far longer than any line of a sound input file");
  }

  // A regular file read in blocks has ended before the size it had when it was opened.
  [[noreturn]] void refuse_shortened() const {
    throw InputError::of_file(display_name, display_name + std::string(kShortenedWords));
  }

  void allocate(std::size_t size) {
    block_size = std::max<std::size_t>(size, 1);
    capacity = block_size;
    buf.reset(new char[capacity]);  // left uninitialised: only bytes read are looked at
    base = buf.get();
  }

  // Hands the bytes of the buffer or window up to file offset `to` to the observer, in pieces
  // of at most kObservedPiece.
  void observe_to(std::uint64_t to) {
    for (; observer && observed < to; observed += std::min(kObservedPiece, to - observed)) {
      const std::size_t piece = static_cast<std::size_t>(std::min(kObservedPiece, to - observed));
      observer(std::string_view(base + (observed - buf_offset), piece),
               windows ? window.bytes : std::shared_ptr<const void>());
    }
  }

  // The line breaks of the window, where they are known, and how far their offsets stand from
  // those of the window's bytes.
  const std::vector<std::uint32_t>* known_breaks(std::size_t& shift) const {
    if (!windows || !window.breaks || !window.breaks->ready.load(std::memory_order_acquire)) {
      return nullptr;
    }
    shift = static_cast<std::size_t>(window.start - window.breaks_from);
    return &window.breaks->at;
  }

  // The run of plain lines from pos, by the known line breaks or else by the bytes.
  line_scan::PlainRun plain_run(std::int64_t count, std::size_t keep) const {
    std::size_t shift = 0;
    if (const auto* breaks = known_breaks(shift)) {
      line_scan::PlainRun run =
          line_scan::plain_lines(*breaks, pos + shift, lim + shift, count, keep, kMaxLineLength);
      run.end -= shift;
      return run;
    }
    return line_scan::plain_lines(base, pos, lim, count, keep, kMaxLineLength);
  }

  // The bytes of the window that the lines taken have passed, a piece at a time.
  void observe_behind() {
    if (windows && observer && buf_offset + pos >= observed + kObservedPiece) {
      observe_to(buf_offset + pos);
    }
  }

  // The bytes [start, end) of the source, in place: mapped from the file (ahead: its page
  // tables filled in on another thread), or shared with the bytes of an in-memory reader.
  // Without bytes when the file cannot be mapped.
  SourceWindow map_window(std::uint64_t start, std::uint64_t end, bool in_advance) {
    const auto size = static_cast<std::size_t>(end - start);
    if (fd < 0) {
      // The line breaks of in-memory bytes (tests) are found at once for all windows, where a
      // file's are found window by window beforehand on another thread.
      if (!memory_breaks) {
        memory_breaks = std::make_shared<line_scan::LineBreaks>();
        find_window_breaks({{memory, memory->data()}, 0, memory->size(), memory_breaks, 0},
                           memory->size());
      }
      return {{memory, memory->data() + start}, start, size, memory_breaks, 0};
    }
    return in_advance ? files->map_ahead(start, size) : files->map_now(start, size);
  }

  // Where a window whose new bytes start at `seen` ends: a block further, at a page boundary.
  std::uint64_t window_end(std::uint64_t seen) const {
    const std::uint64_t end = seen + block_size;
    return std::min(total, end + (page - end % page) % page);
  }

  // Looks at the next window, which reaches a block beyond the bytes seen so far and holds the
  // unread bytes too: the one made ready beforehand where it does, or else one mapped from the
  // page of the first unread byte. Returns the bytes added.
  std::size_t next_window() {
    const std::uint64_t seen = buf_offset + lim;
    const std::uint64_t from = buf_offset + pos;
    SourceWindow next = std::exchange(ahead, SourceWindow());
    if (!next.bytes || next.start > from || next.start + next.size <= seen) {
      next = map_window(from - from % page, window_end(seen), false);
    } else if (files) {
      files->wait_for_breaks(next);
    }
    if (!next.bytes) {
      if (seen > 0) {
        throw InputError::of_file(display_name,
                                  "Error reading " + display_name + ": " + system_message(errno));
      }
      windows = false;  // a file that cannot be mapped is read in blocks
      allocate(block_size);
      return fill();
    }
    observe_to(seen);  // the rest of the window left
    window = std::move(next);
    base = window.bytes.get();
    buf_offset = window.start;
    capacity = window.size;
    pos = static_cast<std::size_t>(from - buf_offset);
    lim = capacity;
    const std::uint64_t end = buf_offset + capacity;
    source_done = end == total;
    if (!source_done) {
      // The reader leaves this window at the start of a line of at most kMaxLineLength
      // characters, which the next one is to hold as well.
      const std::uint64_t back =
          std::max(buf_offset + pos, end - std::min(end, std::uint64_t{kMaxLineLength}));
      ahead = map_window(back - back % page, window_end(end), true);
    }
    return static_cast<std::size_t>(end - seen);
  }

  // Moves the unread bytes to the front of the buffer (growing it when it is full of one
  // unfinished line) and reads the next block behind them, or looks at the next window.
  // Returns the number of bytes added.
  std::size_t fill() {
    if (source_done) return 0;
    if (windows) return next_window();
    if (pos > 0) {
      std::memmove(buf.get(), buf.get() + pos, lim - pos);
      buf_offset += pos;
      lim -= pos;
      pos = 0;
    }
    if (lim == capacity) {
      const std::size_t grown = capacity * 2;
      std::unique_ptr<char[]> bigger(new char[grown]);
      std::memcpy(bigger.get(), buf.get(), lim);
      buf = std::move(bigger);
      base = buf.get();
      capacity = grown;
    }
    std::size_t want = capacity - lim;
    // A regular file is read as far as its size when opened, as its windows would be.
    if (sized) {
      want = static_cast<std::size_t>(std::min<std::uint64_t>(want, total - buf_offset - lim));
    }
    std::size_t got = 0;
    if (fd < 0) {
      got = std::min(want, memory->size() - memory_pos);
      std::memcpy(buf.get() + lim, memory->data() + memory_pos, got);
      memory_pos += got;
    } else {
      while (want > 0) {
        const ssize_t n = ::read(fd, buf.get() + lim, want);
        if (n >= 0) {
          got = static_cast<std::size_t>(n);
          break;
        }
        if (errno != EINTR) {
          throw InputError::of_file(display_name,
                                    "Error reading " + display_name + ": " + system_message(errno));
        }
      }
    }
    if (got == 0) {
      if (sized && buf_offset + lim < total) refuse_shortened();
      source_done = true;
    }
    lim += got;
    observe_to(buf_offset + lim);
    return got;
  }

  // Takes the LF that belongs to a CR read at the very end of the previous buffer.
  void settle_pending_lf() {
    if (!pending_lf) return;
    if (pos == lim) fill();
    if (pos < lim && base[pos] == kLf) ++pos;
    pending_lf = false;
  }

  bool at_end() {
    observe_behind();
    if (stopped) return true;
    settle_pending_lf();
    if (pos == lim && fill() == 0) return true;
    if (base[pos] == kEndOfFileByte) {
      stopped = true;
      return true;
    }
    return false;
  }

  // Reads the next line into `line` (a view into the buffer); false at the end of the file.
  bool next(std::string_view& line) {
    if (at_end()) {
      line = {};
      return false;
    }
    std::size_t scan = pos;
    for (;;) {
      std::size_t shift = 0;
      const auto* breaks = known_breaks(shift);
      const char* hit =
          breaks != nullptr
              ? base + line_scan::next_break(*breaks, scan + shift, lim + shift) - shift
              : line_scan::find_line_break(base + scan, base + lim);
      if (hit != base + lim) {
        const std::size_t end = static_cast<std::size_t>(hit - base);
        if (end - pos > kMaxLineLength) refuse_long_line();
        line = std::string_view(base + pos, end - pos);
        if (*hit == kEndOfFileByte) {
          pos = end;
          stopped = true;
        } else {
          pos = end + 1;
          if (*hit == kCr) {
            if (pos < lim) {
              if (base[pos] == kLf) ++pos;
            } else {
              pending_lf = !source_done;
            }
          }
        }
        ++line_number;
        return true;
      }
      const std::size_t scanned = lim - pos;
      // Refused before more of it is read, so that the buffer never grows past about twice
      // this length.
      if (scanned > kMaxLineLength) refuse_long_line();
      if (fill() == 0) {
        // The last line of the file, without a line end.
        line = std::string_view(base + pos, lim - pos);
        pos = lim;
        ++line_number;
        return true;
      }
      scan = pos + scanned;
    }
  }
};

LineReader::LineReader() : impl_(std::make_unique<Impl>()) {}

LineReader::LineReader(const std::filesystem::path& host_path, std::string display_name,
                       std::size_t block_size, Blocks blocks)
    : impl_(std::make_unique<Impl>()) {
  impl_->display_name = std::move(display_name);
  const int fd = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw InputError::of_file(impl_->display_name, "Unable to open " + impl_->display_name + ": " +
                                                       system_message(errno));
  }
  impl_->fd = fd;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    impl_->total = static_cast<std::uint64_t>(info.st_size);
    impl_->sized = true;
#if defined(POSIX_FADV_SEQUENTIAL)
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    const long page = ::sysconf(_SC_PAGESIZE);
    if (blocks == Blocks::shared && impl_->total > 0 && page > 0) {
      // Mapped a window at a time; a file that cannot be mapped falls back to blocks.
      impl_->windows = true;
      impl_->files = std::make_unique<FileWindows>(fd, impl_->total, impl_->display_name);
      impl_->page = static_cast<std::uint64_t>(page);
      impl_->block_size = std::max<std::size_t>(block_size, 1);
      return;
    }
  }
  impl_->allocate(block_size);
}

LineReader LineReader::from_bytes(std::string bytes, std::string display_name,
                                  std::size_t block_size, Blocks blocks) {
  LineReader reader;
  Impl& r = *reader.impl_;
  r.display_name = std::move(display_name);
  r.total = bytes.size();
  r.memory = std::make_shared<const std::string>(std::move(bytes));
  r.windows = blocks == Blocks::shared && r.total > 0;
  if (r.windows) {
    r.block_size = std::max<std::size_t>(block_size, 1);
  } else {
    r.allocate(block_size);
  }
  return reader;
}

LineReader::LineReader(LineReader&&) noexcept = default;
LineReader& LineReader::operator=(LineReader&&) noexcept = default;
LineReader::~LineReader() = default;

std::string_view LineReader::read_line() {
  std::string_view line;
  impl_->next(line);
  return line;
}

bool LineReader::next_line(std::string_view& line) { return impl_->next(line); }

bool LineReader::at_end_of_file() { return impl_->at_end(); }

void LineReader::observe_bytes(std::function<void(std::string_view)> observer) {
  impl_->observer = [see = std::move(observer)](std::string_view bytes,
                                                const std::shared_ptr<const void>&) { see(bytes); };
}

void LineReader::observe_held_bytes(
    std::function<void(std::string_view, std::shared_ptr<const void>)> observer) {
  impl_->observer = std::move(observer);
}

void LineReader::observe_rest() {
  Impl& in = *impl_;
  while (in.observer && !in.source_done) {
    in.pos = in.lim;  // the bytes after a byte 26 are never read as lines
    in.fill();
  }
  in.observe_to(in.buf_offset + in.lim);
}

std::int64_t LineReader::skip_lines(std::int64_t count) {
  // Runs of lines that end in LF or CR LF are passed over at once, as append_lines copies them.
  Impl& r = *impl_;
  std::int64_t skipped = 0;
  while (skipped < count && !r.at_end()) {
    const line_scan::PlainRun run = r.plain_run(count - skipped, kMaxLineLength);
    if (run.lines > 0) {
      r.pos = run.end;
      r.line_number += run.lines;
      skipped += run.lines;
      continue;
    }
    std::string_view line;
    r.next(line);
    ++skipped;
  }
  return skipped;
}

std::int64_t LineReader::append_lines(std::int64_t count, std::string& out, std::size_t keep) {
  Impl& r = *impl_;
  std::int64_t done = 0;
  while (done < count && !r.at_end()) {
    const line_scan::PlainRun run = r.plain_run(count - done, keep);
    if (run.lines > 0) {
      out.append(r.base + r.pos, run.end - r.pos);
      r.pos = run.end;
      r.line_number += run.lines;
      done += run.lines;
      continue;
    }
    // A line of another kind, or one that the buffer does not yet hold whole.
    std::string_view line;
    r.next(line);
    out.append(line.substr(0, keep));
    out.push_back('\n');
    ++done;
  }
  return done;
}

std::int64_t LineReader::take_lines(std::int64_t count, LinesText& out, std::size_t keep) {
  Impl& r = *impl_;
  out = LinesText();
  if (r.windows && count > 0 && !r.at_end()) {
    // Lines that run on past the window are looked at again in a window from their start.
    auto run = r.plain_run(count, keep);
    if (run.lines < count && run.ran_out && r.fill() > 0) {
      run = r.plain_run(count, keep);
    }
    if (run.lines == count) {
      out.text_ = std::string_view(r.base + r.pos, run.end - r.pos);
      out.window_ = r.window.bytes;
      out.window_bytes_ = r.window.size;
      r.pos = run.end;
      r.line_number += count;
      return count;
    }
  }
  return append_lines(count, out.own_, keep);
}

std::int64_t LineReader::line_number() const { return impl_->line_number; }

std::uint64_t LineReader::bytes_consumed() const { return impl_->buf_offset + impl_->pos; }

std::uint64_t LineReader::total_bytes() const { return impl_->total; }

const std::string& LineReader::display_name() const { return impl_->display_name; }

int LineReader::descriptor() const { return impl_->fd; }

std::size_t LineReader::buffer_capacity() const { return impl_->capacity; }

std::string_view cut_field(std::string_view line, int first, int width) {
  if (width <= 0) return {};
  const std::string_view rest = cut_field(line, first);
  return rest.substr(0, static_cast<std::size_t>(width));
}

std::string_view cut_field(std::string_view line, int first) {
  const std::size_t offset = first > 1 ? static_cast<std::size_t>(first - 1) : 0;
  if (offset >= line.size()) return {};
  return line.substr(offset);
}

}  // namespace kestrane
