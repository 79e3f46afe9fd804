// The byte scanning under the line reader: 64 bytes at a time by their smallest byte, then 16
// at a time for the line breaks themselves (SSE2; byte by byte without it).
#include "input/line_scan.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrane::line_scan {

namespace {

#if defined(__SSE2__)
// How far ahead of the scan the bytes are asked for: a mapped file's pages come from memory,
// and the processor's own prefetching stops at the end of each page. A page ahead measured
// best (a quarter of that took 10% more time).
constexpr std::size_t kPrefetchAhead = 4096;

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

}  // namespace

const char* find_line_break(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8(kCr);
  const __m128i lf = _mm_set1_epi8(kLf);
  const __m128i eof = _mm_set1_epi8(kEndOfFileByte);
  while (end - p >= 64) {
    _mm_prefetch(p + kPrefetchAhead, _MM_HINT_T0);
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

PlainRun plain_lines(const char* base, std::size_t pos, std::size_t lim, std::int64_t count,
                     std::size_t keep, std::size_t max_line) {
  PlainRun run{pos, 0, false};
#if defined(__SSE2__)
  std::size_t scan = pos;
  const __m128i cr = _mm_set1_epi8(kCr);
  const __m128i lf = _mm_set1_epi8(kLf);
  const __m128i eof = _mm_set1_epi8(kEndOfFileByte);
  unsigned carried_cr = 0;  // the chunk before ended with a CR
  for (;;) {
    if (run.lines >= count) return run;
    if (lim - scan < 16) break;
    // Most of a data line holds no line break: 64 bytes at a time are passed over, up to the
    // first byte that may be one.
    if (carried_cr == 0 && lim - scan >= 64) {
      unsigned offset = 64;
      while (lim - scan >= 64 && (offset = first_low_byte(base + scan)) == 64) {
        _mm_prefetch(base + scan + kPrefetchAhead, _MM_HINT_T0);
        scan += 64;
      }
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
    // Lines are long against a chunk, so the LFs are taken one by one. A line longer than
    // `max_line` or `keep` ends the run before it; its length counts neither the LF nor a CR
    // before it.
    const std::int64_t lines_before = run.lines;
    for (unsigned ends = stops != 0 ? lfs & ((1u << __builtin_ctz(stops)) - 1) : lfs;
         ends != 0 && run.lines < count; ends &= ends - 1) {
      const std::size_t lf_at = scan + static_cast<std::size_t>(__builtin_ctz(ends));
      const std::size_t length =
          lf_at - run.end - (lf_at > run.end && base[lf_at - 1] == kCr ? 1 : 0);
      if (length > max_line || length > keep) return run;
      run.end = lf_at + 1;
      ++run.lines;
    }
    if (stops != 0) return run;
    if (run.lines != lines_before) {
      // The next line starts at `end`, within this chunk: looked at from there on.
      scan = run.end;
      carried_cr = 0;
    } else {
      scan += 16;
    }
  }
  run.ran_out = true;
#else
  (void)base;
  (void)lim;
  (void)count;
  (void)keep;
  (void)max_line;
#endif
  return run;
}

namespace {

// The entry of LineBreaks::at for the line break base[p].
std::uint32_t break_at(const char* base, std::size_t p) {
  const std::uint32_t kind = base[p] == kLf ? 0 : base[p] == kCr ? kBreakCr : kBreakEnd;
  return static_cast<std::uint32_t>(p) | kind;
}

// The first entry at or after offset `from`.
std::vector<std::uint32_t>::const_iterator first_break(const std::vector<std::uint32_t>& breaks,
                                                       std::size_t from) {
  return std::lower_bound(
      breaks.begin(), breaks.end(), from,
      [](std::uint32_t entry, std::size_t offset) { return (entry & kBreakOffset) < offset; });
}

}  // namespace

bool find_breaks(const char* base, std::size_t size, std::size_t most,
                 std::vector<std::uint32_t>& at) {
  at.clear();
  std::size_t p = 0;
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8(kCr);
  const __m128i lf = _mm_set1_epi8(kLf);
  const __m128i eof = _mm_set1_epi8(kEndOfFileByte);
  at.reserve(size / 128);
  for (; size - p >= 64; p += 64) {
    _mm_prefetch(base + p + kPrefetchAhead, _MM_HINT_T0);
    if (first_low_byte(base + p) == 64) continue;
    // The CRs and the other line breaks of the 64 bytes as two bit masks, then entry by entry.
    std::uint64_t crs = 0;
    std::uint64_t others = 0;
    for (unsigned q = 0; q < 64; q += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + q));
      const auto c = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)));
      const auto o = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, eof))));
      crs |= std::uint64_t{c} << q;
      others |= std::uint64_t{o} << q;
    }
    for (std::uint64_t all = crs | others; all != 0; all &= all - 1) {
      const auto bit = static_cast<unsigned>(__builtin_ctzll(all));
      const std::size_t offset = p + bit;
      at.push_back(((crs >> bit) & 1) != 0 ? static_cast<std::uint32_t>(offset) | kBreakCr
                                           : break_at(base, offset));
    }
    if (at.size() > most) return false;
  }
#endif
  for (; p < size; ++p) {
    const char c = base[p];
    if (c == kCr || c == kLf || c == kEndOfFileByte) at.push_back(break_at(base, p));
  }
  return at.size() <= most;
}

std::size_t next_break(const std::vector<std::uint32_t>& breaks, std::size_t from,
                       std::size_t lim) {
  const auto it = first_break(breaks, from);
  return it == breaks.end() || (*it & kBreakOffset) >= lim ? lim : *it & kBreakOffset;
}

PlainRun plain_lines(const std::vector<std::uint32_t>& breaks, std::size_t pos, std::size_t lim,
                     std::int64_t count, std::size_t keep, std::size_t max_line) {
  PlainRun run{pos, 0, false};
  auto k = static_cast<std::size_t>(first_break(breaks, pos) - breaks.begin());
  while (run.lines < count) {
    if (k == breaks.size() || (breaks[k] & kBreakOffset) >= lim) {
      run.ran_out = true;  // the line goes on past the window
      return run;
    }
    const std::uint32_t entry = breaks[k];
    const std::size_t at = entry & kBreakOffset;
    std::size_t end = at + 1;  // after the line end
    if ((entry & ~kBreakOffset) == kBreakCr) {
      if (at + 1 == lim) {
        run.ran_out = true;  // its LF, if any, lies past the window
        return run;
      }
      // A CR that no LF follows ends a line of another kind.
      if (k + 1 == breaks.size() || breaks[k + 1] != at + 1) return run;
      end = at + 2;
      ++k;
    } else if (entry != at) {
      return run;  // byte 26
    }
    const std::size_t length = at - run.end;
    if (length > max_line || length > keep) return run;
    run.end = end;
    ++run.lines;
    ++k;
  }
  return run;
}

}  // namespace kestrane::line_scan
