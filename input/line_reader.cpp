// Sequential line reading of input files: block reads, the line-end rule, byte 26 as the end
// of the file, the refusal of over-long lines, and fields cut by column.
#include "input/line_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrane {

namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr char kEndOfFileByte = 26;

#if defined(__SSE2__)
// The offset of the first of the 64 bytes at `p` that is a control byte up to 26, which CR, LF
// and byte 26 all are (a TAB is too, and is then looked at more closely), or 64 when there is
// none: first the smallest byte of the four vectors, compared with 26, in a few instructions.
inline unsigned first_low_byte(const char* p) {
  const auto* v = reinterpret_cast<const __m128i*>(p);
  const __m128i limit = _mm_set1_epi8(kEndOfFileByte);
  const __m128i v0 = _mm_loadu_si128(v);
  const __m128i v1 = _mm_loadu_si128(v + 1);
  const __m128i v2 = _mm_loadu_si128(v + 2);
  const __m128i v3 = _mm_loadu_si128(v + 3);
  const __m128i smallest = _mm_min_epu8(_mm_min_epu8(v0, v1), _mm_min_epu8(v2, v3));
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(smallest, limit), smallest)) == 0) return 64;
  auto low = [&limit](__m128i w) {
    return static_cast<std::uint64_t>(
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(w, limit), w))));
  };
  const std::uint64_t mask = low(v0) | low(v1) << 16 | low(v2) << 32 | low(v3) << 48;
  return static_cast<unsigned>(__builtin_ctzll(mask));
}
#endif

// The first byte in [p, end) that is CR, LF or byte 26, or `end` when there is none.
const char* find_line_break(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8(kCr);
  const __m128i lf = _mm_set1_epi8(kLf);
  const __m128i eof = _mm_set1_epi8(kEndOfFileByte);
  while (end - p >= 64) {
    const unsigned offset = first_low_byte(p);
    p += offset;
    if (offset < 64) break;
  }
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
                                     _mm_cmpeq_epi8(v, eof));
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  for (; p != end; ++p) {
    const char c = *p;
    if (c == kCr || c == kLf || c == kEndOfFileByte) return p;
  }
  return end;
}

std::string system_message(int error) { return std::strerror(error); }

}  // namespace

// The unread bytes of the file are buf[pos, lim). When the source is exhausted, lim marks
// the end of the file; when a byte 26 has been met, `stopped` holds and nothing more is read.
struct LineReader::Impl {
  std::string display_name;
  int fd = -1;         // the open file, or -1 when reading from `memory`
  std::string memory;  // the bytes of an in-memory reader
  std::size_t memory_pos = 0;
  std::size_t block_size = kDefaultBlockSize;

  std::unique_ptr<char[]> buf;
  std::size_t capacity = 0;
  std::size_t pos = 0;
  std::size_t lim = 0;
  std::uint64_t buf_offset = 0;  // file offset of buf[0]
  bool source_done = false;      // every byte of the source is in the buffer
  bool stopped = false;          // a byte 26 ended the file
  bool pending_lf = false;       // the last line ended with a CR at the end of the buffer

  std::int64_t line_number = 0;
  std::uint64_t total = 0;
  std::function<void(std::string_view)> observer;  // sees every block read

  ~Impl() {
    if (fd >= 0) ::close(fd);
  }

  // The line after the last one returned has gone past kMaxLineLength characters.
  [[noreturn]] void refuse_long_line() const {
    throw LineTooLong(display_name, line_number + 1,
                      "the line goes on past column " + std::to_string(kMaxLineLength) +
                          ", far longer than any line of a sound input file");
  }

  void allocate(std::size_t size) {
    block_size = std::max<std::size_t>(size, 1);
    capacity = block_size;
    buf.reset(new char[capacity]);  // left uninitialised: only bytes read are looked at
  }

  // Moves the unread bytes to the front of the buffer (growing it when it is full of one
  // unfinished line) and reads the next block behind them. Returns the number of bytes added.
  std::size_t fill() {
    if (source_done) return 0;
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
      capacity = grown;
    }
    const std::size_t want = capacity - lim;
    std::size_t got = 0;
    if (fd < 0) {
      got = std::min(want, memory.size() - memory_pos);
      std::memcpy(buf.get() + lim, memory.data() + memory_pos, got);
      memory_pos += got;
    } else {
      for (;;) {
        const ssize_t n = ::read(fd, buf.get() + lim, want);
        if (n >= 0) {
          got = static_cast<std::size_t>(n);
          break;
        }
        if (errno != EINTR) {
          throw InputError("Error reading " + display_name + ": " + system_message(errno));
        }
      }
    }
    if (got == 0) source_done = true;
    if (observer && got > 0) observer(std::string_view(buf.get() + lim, got));
    lim += got;
    return got;
  }

  // Takes the LF that belongs to a CR read at the very end of the previous buffer.
  void settle_pending_lf() {
    if (!pending_lf) return;
    if (pos == lim) fill();
    if (pos < lim && buf[pos] == kLf) ++pos;
    pending_lf = false;
  }

  bool at_end() {
    if (stopped) return true;
    settle_pending_lf();
    if (pos == lim && fill() == 0) return true;
    if (buf[pos] == kEndOfFileByte) {
      stopped = true;
      return true;
    }
    return false;
  }

  // The bytes from `pos` up to `count` whole lines further, where each of those lines ends in
  // LF or CR LF and holds no other line break or byte 26; stops earlier, at the end of the
  // last such line, where another byte or the end of the buffer comes first. Sets `lines` to
  // the lines covered.
  // A line longer than `keep` also ends the run before it, so that the caller can cut it.
  std::size_t plain_lines_end(std::int64_t count, std::size_t keep, std::int64_t& lines) const {
    const char* const base = buf.get();
    std::size_t end = pos;
    std::size_t scan = pos;
    lines = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8(kCr);
    const __m128i lf = _mm_set1_epi8(kLf);
    const __m128i eof = _mm_set1_epi8(kEndOfFileByte);
    unsigned carried_cr = 0;  // the chunk before ended with a CR
    while (lim - scan >= 16 && lines < count) {
      // Most of a data line holds no line break: 64 bytes at a time are passed over, up to the
      // first byte that may be one.
      if (carried_cr == 0 && lim - scan >= 64) {
        unsigned offset = 64;
        while (lim - scan >= 64 && (offset = first_low_byte(base + scan)) == 64) scan += 64;
        if (offset == 64) continue;
        scan += offset;
        if (lim - scan < 16) break;
      }
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + scan));
      const auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)));
      unsigned crs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
      unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, eof)));
      // A CR that no LF follows ends a line of another kind; so does a byte 26.
      stops |= crs & ~(lfs >> 1) & 0x7FFF;
      stops |= carried_cr & ~lfs & 1;
      carried_cr = crs >> 15;
      // Only the LFs before the first such byte count, and no more of them than asked for.
      // Lines are long against a chunk, so the LFs are taken one by one.
      // A line longer than kMaxLineLength is left to next(), which refuses it, and one longer
      // than `keep` to the caller. Its length counts neither the LF nor a CR before it.
      bool too_long = false;
      const std::size_t lines_before = static_cast<std::size_t>(lines);
      for (unsigned ends = stops != 0 ? lfs & ((1u << __builtin_ctz(stops)) - 1) : lfs;
           ends != 0 && lines < count; ends &= ends - 1) {
        const std::size_t lf_at = scan + static_cast<std::size_t>(__builtin_ctz(ends));
        const std::size_t length = lf_at - end - (lf_at > end && base[lf_at - 1] == kCr ? 1 : 0);
        if (length > kMaxLineLength || length > keep) {
          too_long = true;
          break;
        }
        const std::size_t line_end = lf_at + 1;
        end = line_end;
        ++lines;
      }
      if (too_long || stops != 0 || lines >= count) break;
      if (static_cast<std::size_t>(lines) != lines_before) {
        // The next line starts at `end`, within this chunk: looked at from there on.
        scan = end;
        carried_cr = 0;
      } else {
        scan += 16;
      }
    }
#else
    (void)base;
    (void)scan;
    (void)count;
    (void)keep;
#endif
    return end;
  }

  // Reads the next line into `line` (a view into the buffer); false at the end of the file.
  bool next(std::string_view& line) {
    if (at_end()) {
      line = {};
      return false;
    }
    std::size_t scan = pos;
    for (;;) {
      const char* const base = buf.get();
      const char* hit = find_line_break(base + scan, base + lim);
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
        line = std::string_view(buf.get() + pos, lim - pos);
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
                       std::size_t block_size)
    : impl_(std::make_unique<Impl>()) {
  impl_->display_name = std::move(display_name);
  const int fd = ::open(host_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw InputError("Unable to open " + impl_->display_name + ": " + system_message(errno));
  }
  impl_->fd = fd;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    impl_->total = static_cast<std::uint64_t>(info.st_size);
#if defined(POSIX_FADV_SEQUENTIAL)
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  }
  impl_->allocate(block_size);
}

LineReader LineReader::from_bytes(std::string bytes, std::string display_name,
                                  std::size_t block_size) {
  LineReader reader;
  reader.impl_->display_name = std::move(display_name);
  reader.impl_->total = bytes.size();
  reader.impl_->memory = std::move(bytes);
  reader.impl_->allocate(block_size);
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
  impl_->observer = std::move(observer);
}

void LineReader::observe_rest() {
  Impl& in = *impl_;
  while (in.observer && !in.source_done) {
    in.pos = in.lim;  // the bytes after a byte 26 are never read as lines
    in.fill();
  }
}

std::int64_t LineReader::skip_lines(std::int64_t count) {
  // Runs of lines that end in LF or CR LF are passed over at once, as append_lines copies them.
  Impl& r = *impl_;
  std::int64_t skipped = 0;
  while (skipped < count && !r.at_end()) {
    std::int64_t lines = 0;
    const std::size_t end = r.plain_lines_end(count - skipped, kMaxLineLength, lines);
    if (lines > 0) {
      r.pos = end;
      r.line_number += lines;
      skipped += lines;
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
    std::int64_t lines = 0;
    const std::size_t end = r.plain_lines_end(count - done, keep, lines);
    if (lines > 0) {
      out.append(r.buf.get() + r.pos, end - r.pos);
      r.pos = end;
      r.line_number += lines;
      done += lines;
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

std::int64_t LineReader::line_number() const { return impl_->line_number; }

std::uint64_t LineReader::bytes_consumed() const { return impl_->buf_offset + impl_->pos; }

std::uint64_t LineReader::total_bytes() const { return impl_->total; }

const std::string& LineReader::display_name() const { return impl_->display_name; }

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
