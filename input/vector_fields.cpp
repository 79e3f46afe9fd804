// The usual rate fields of a data line read in vector registers, one field to a 64-bit lane:
// the first and the last eight characters of each field loaded side by side, every character
// checked at once against what its column allows, the digits combined by integer products and
// the value scaled by a power of ten, so that each lane gives the same double as the scalar
// reading (input/fast_fields.h) or the line is declined. Compiled once per processor target by
// Highway; the best target of the processor is chosen at run time. Built without contraction of
// products and sums into fused multiply-adds, which would round differently.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "input/vector_fields.cpp"
#include "input/vector_fields.h"

#include <cstdint>
#include <cstring>

#include "hwy/foreach_target.h"  // IWYU pragma: keep
#include "hwy/highway.h"
#include "input/fast_fields.h"

HWY_BEFORE_NAMESPACE();
namespace kestrane::number_detail::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR
// One lane, nothing to gain and no bytes to reinterpret: the scalar reading itself.
int ParseFields10(const char* p, int count, double* out) {
  return parse_e_fields10(p, count, out) ? count : 0;
}

int ParseRates10(const char* p, int count, double* out) {
  return parse_e_fields10<true>(p, count, out) ? count : 0;
}

std::uint64_t UnusualFields10(const char* p, int count) { return unusual_fields10(p, count); }
#else
// Block j (16 bytes) of the vector holds the 16 characters at p + 20 * j: the fields 2j and
// 2j + 1 of p, side by side, as far as they go.
template <class D8>
HWY_INLINE hn::Vec<D8> LoadFieldPairs(D8 d8, const char* p) {
  if constexpr (hn::MaxLanes(D8()) <= 16) {
    return hn::LoadU(d8, reinterpret_cast<const std::uint8_t*>(p));
  } else {
    const hn::Half<D8> dh;
    return hn::Combine(d8, LoadFieldPairs(dh, p + 20 * (hn::MaxLanes(dh) / 16)),
                       LoadFieldPairs(dh, p));
  }
}

// 10^at[0], 10^at[1], ... as a vector, joined from 64-bit loads in halves.
template <class DD>
HWY_INLINE hn::Vec<DD> JoinPowers(DD dd, const std::int64_t* at) {
  if constexpr (hn::MaxLanes(DD()) == 1) {
    return hn::Set(dd, kExactPowersOfTen[*at]);
  } else {
    const hn::Half<DD> dh;
    return hn::Combine(dd, JoinPowers(dh, at + hn::MaxLanes(dh)), JoinPowers(dh, at));
  }
}

// The exact powers of ten 10^magnitude[j], magnitude at most 22, gathered lane by lane.
template <class DD, class VI>
HWY_INLINE hn::Vec<DD> ExactPowers(DD dd, VI magnitude) {
#if HWY_TARGET <= HWY_AVX2
  return hn::GatherIndex(dd, kExactPowersOfTen, magnitude);
#else
  // Without a gather instruction: the lanes loaded one by one and joined in halves.
  HWY_ALIGN std::int64_t at[hn::MaxLanes(DD())];
  hn::Store(magnitude, hn::RebindToSigned<DD>(), at);
  return JoinPowers(dd, at);
#endif
}

// Eight bytes, the first in the lowest, as one 64-bit word.
constexpr std::uint64_t Bytes(unsigned char b0, unsigned char b1, unsigned char b2,
                              unsigned char b3, unsigned char b4, unsigned char b5,
                              unsigned char b6, unsigned char b7) {
  return std::uint64_t{b0} | std::uint64_t{b1} << 8 | std::uint64_t{b2} << 16 |
         std::uint64_t{b3} << 24 | std::uint64_t{b4} << 32 | std::uint64_t{b5} << 40 |
         std::uint64_t{b6} << 48 | std::uint64_t{b7} << 56;
}

// Reads the fields from p on, one to a lane, into `value`: false when any of them is not
// " d.dddEsdd" (the lead a blank or sign; with kRates a blank or '+', so that no field read is
// below zero).
template <bool kRates, class D>
HWY_INLINE bool ReadVector(D du, const char* p, hn::Vec<hn::Rebind<double, D> >& value) {
  const hn::RebindToSigned<D> di;
  const hn::Rebind<double, D> dd;
  const hn::Repartition<std::uint8_t, D> d8;
  const hn::Repartition<std::uint32_t, D> d32;
  // Characters 0-7 (lead, digit, point, three digits, letter, sign) and 2-9 of each field: in
  // each block of 16 bytes the two fields at p + 20 j and p + 20 j + 10, loaded from there and
  // from 4 characters on, moved into place and blended lane by lane.
  const auto from0 = LoadFieldPairs(d8, p);
  const auto from4 = LoadFieldPairs(d8, p + 4);
  const auto head =
      hn::OddEven(hn::BitCast(du, hn::ShiftLeftBytes<2>(d8, from4)), hn::BitCast(du, from0));
  const auto tail =
      hn::OddEven(hn::BitCast(du, from4), hn::BitCast(du, hn::ShiftRightBytes<2>(d8, from0)));

  // Each character of the head passes (c & mask) == want, c - low <= span (bytes wrapping)
  // or c == also: the lead ' ', '+' or '-'; digits; '.'; E, e, D or d; '+' or '-'.
  const auto h8 = hn::BitCast(d8, head);
  const auto t8 = hn::BitCast(d8, tail);
  auto bytes = [&](std::uint64_t word) { return hn::BitCast(d8, hn::Set(du, word)); };
  const auto h_off = hn::Sub(h8, bytes(Bytes('+', '0', 0, '0', '0', '0', 0, '+')));
  constexpr unsigned char kLeadSpan = kRates ? 0 : 2;  // '+' alone, or '+' to '-'
  const auto h_in =
      hn::Eq(hn::Min(h_off, bytes(Bytes(kLeadSpan, 9, 0xFF, 9, 9, 9, 0xFF, 2))), h_off);
  const auto h_fixed = hn::Eq(hn::And(h8, bytes(Bytes(0xF9, 0, 0xFF, 0, 0, 0, 0xDE, 0xF9))),
                              bytes(Bytes(0x29, 0, '.', 0, 0, 0, 0x44, 0x29)));
  const auto h_also = hn::Eq(h8, bytes(Bytes(' ', '0', '.', '0', '0', '0', 'E', '+')));
  // Of the tail only the two exponent digits, its last two characters, are checked.
  const auto t_off = hn::Sub(t8, bytes(Bytes(0, 0, 0, 0, 0, 0, '0', '0')));
  const auto t_in =
      hn::Eq(hn::Min(t_off, bytes(Bytes(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 9, 9))), t_off);
  if (!hn::AllTrue(d8, hn::And(hn::Or(hn::And(h_in, h_fixed), h_also), t_in))) return false;

  // The four mantissa digits side by side, then combined pairwise by 32-bit products.
  const auto d4 = hn::ShiftRight<16>(hn::Or(hn::And(head, hn::Set(du, 0x00000F0F0F000000)),
                                            hn::ShiftLeft<8>(hn::And(head, hn::Set(du, 0xF00)))));
  const auto tens = hn::Add(hn::MulEven(hn::BitCast(d32, d4), hn::BitCast(d32, hn::Set(du, 10))),
                            hn::ShiftRight<8>(d4));
  const auto pairs = hn::And(tens, hn::Set(du, 0x00FF00FF));
  const auto mantissa_bits =
      hn::And(hn::ShiftRight<16>(hn::MulEven(hn::BitCast(d32, pairs),
                                             hn::BitCast(d32, hn::Set(du, (100u << 16) + 1)))),
              hn::Set(du, 0xFFFF));
  // Exact: below 2^52, added to the bits of 2^52 and 2^52 taken away.
  const auto mantissa = hn::Sub(
      hn::BitCast(dd, hn::Or(mantissa_bits, hn::Set(du, 0x4330000000000000))), hn::Set(dd, 0x1p52));

  // The exponent as written, with its sign ('-' has bit 2 set, '+' not), less the three
  // fraction digits.
  const auto e1 = hn::And(hn::ShiftRight<48>(tail), hn::Set(du, 0xF));
  const auto e2 = hn::And(hn::ShiftRight<56>(tail), hn::Set(du, 0xF));
  const auto written = hn::BitCast(
      di, hn::Add(hn::MulEven(hn::BitCast(d32, e1), hn::BitCast(d32, hn::Set(du, 10))), e2));
  // All ones where the exponent sign is '-': its bit 2, moved to the top, spread over the lane.
  const auto negative =
      hn::VecFromMask(di, hn::Lt(hn::BitCast(di, hn::ShiftLeft<5>(head)), hn::Zero(di)));
  const auto exponent = hn::Sub(hn::Xor(written, negative), hn::Add(negative, hn::Set(di, 3)));

  // Where the mantissa and 10^|exponent| are both exact doubles, one division or product rounds
  // correctly; elsewhere the three-part scale of the scalar reading, also correctly rounded.
  const auto below = hn::Lt(exponent, hn::Zero(di));
  const auto magnitude = hn::IfThenElse(below, hn::Neg(exponent), exponent);
  if (hn::AllTrue(di, hn::Lt(magnitude, hn::Set(di, kMaxExactPower + 1)))) {
    const auto power = ExactPowers(dd, magnitude);
    value = hn::IfThenElse(hn::RebindMask(dd, below), hn::Div(mantissa, power),
                           hn::Mul(mantissa, power));
  } else {
    const auto row = hn::Sub(exponent, hn::Set(di, kFieldScaleLowest));
    const auto at = hn::Add(hn::Add(row, row), row);
    const double* scales = &kFieldScales[0][0];
    const auto s0 = hn::GatherIndex(dd, scales, at);
    const auto s1 = hn::GatherIndex(dd, scales + 1, at);
    const auto s2 = hn::GatherIndex(dd, scales + 2, at);
    value = hn::Add(hn::Mul(mantissa, s0), hn::Add(hn::Mul(mantissa, s1), hn::Mul(mantissa, s2)));
  }
  // A '-' lead (bit 2 set, not in ' ' or '+') sets the sign bit, as parse_e_fields10 does.
  const auto minus = hn::ShiftLeft<63>(hn::ShiftRight<2>(head));
  value = hn::BitCast(dd, hn::Or(hn::BitCast(du, value), minus));
  return true;
}

template <bool kRates>
HWY_INLINE int ReadFields10(const char* p, int count, double* out) {
  const hn::ScalableTag<std::uint64_t> du;
  const hn::Rebind<double, decltype(du)> dd;
  const auto lanes = static_cast<int>(hn::Lanes(du));
  hn::Vec<decltype(dd)> value;
  if (count < lanes) {
    // Fewer fields than lanes: read from a copy filled out with zeros of the usual form.
    constexpr int kMost = HWY_MAX_BYTES / 8;
    char text[10 * kMost];
    for (int k = count; k < lanes; ++k) std::memcpy(text + 10 * k, " 0.000E+00", 10);
    std::memcpy(text, p, 10 * static_cast<std::size_t>(count));
    HWY_ALIGN double values[kMost];
    if (!ReadVector<kRates>(du, text, value)) return 0;
    hn::Store(value, dd, values);
    std::memcpy(out, values, sizeof(double) * static_cast<std::size_t>(count));
    return count;
  }
  int first = 0;
  for (; first + lanes <= count; first += lanes) {
    if (!ReadVector<kRates>(du, p + 10 * first, value)) return first;
    hn::StoreU(value, dd, out + first);
  }
  // The last fields again with some before them, so that the vector ends at the last field.
  if (first < count) {
    if (!ReadVector<kRates>(du, p + 10 * (count - lanes), value)) return first;
    hn::StoreU(value, dd, out + count - lanes);
  }
  return count;
}

int ParseFields10(const char* p, int count, double* out) {
  return ReadFields10<false>(p, count, out);
}

int ParseRates10(const char* p, int count, double* out) {
  return ReadFields10<true>(p, count, out);
}

// The classes of character a plain rate (" d.dddEsdd" or "+d.dddEsdd") is made of. A character
// is of a class where the entries of both its nibbles, low and high, hold the class's bit: the
// digits '0'-'9'; the lead ' ' or '+'; the point; the exponent letters E, e, D and d; the
// exponent signs '+' and '-'. No other character is of any class (bytes from 0x80 on have high
// nibbles whose entries are 0).
constexpr std::uint8_t kDigit = 1, kLead = 2, kPoint = 4, kLetter = 8, kSign = 16;
// clang-format off
HWY_ALIGN constexpr std::uint8_t kLowNibbleClasses[16] = {
    kDigit | kLead, kDigit, kDigit, kDigit, kDigit | kLetter, kDigit | kLetter, kDigit, kDigit,
    kDigit, kDigit, 0, kLead | kSign, 0, kSign, kPoint, 0};  // 0-9, then A-F: '+' B, '-' D, '.' E
HWY_ALIGN constexpr std::uint8_t kHighNibbleClasses[16] = {
    0, 0, kLead | kPoint | kSign, kDigit, kLetter, 0, kLetter, 0, 0, 0, 0, 0, 0, 0, 0, 0};
// clang-format on

// The class each column of a run of plain rates must be of, for kMostCheckedFields fields.
struct RatePattern {
  std::uint8_t at[10 * kMostCheckedFields];
};
constexpr RatePattern MakeRatePattern() {
  constexpr std::uint8_t kField[10] = {kLead,  kDigit,  kPoint, kDigit, kDigit,
                                       kDigit, kLetter, kSign,  kDigit, kDigit};
  RatePattern pattern{};
  for (int i = 0; i < 10 * kMostCheckedFields; ++i) pattern.at[i] = kField[i % 10];
  return pattern;
}
HWY_ALIGN constexpr RatePattern kRatePattern = MakeRatePattern();

// Per character of the vector at `text`: its classes that its column (from `pattern`) allows,
// 0 where it is not of the class its column asks for.
template <class D8>
HWY_INLINE hn::Vec<D8> AllowedClasses(D8 d8, const std::uint8_t* text,
                                      const std::uint8_t* pattern) {
  const auto c = hn::LoadU(d8, text);
  const auto low = hn::TableLookupBytes(hn::LoadDup128(d8, kLowNibbleClasses),
                                        hn::And(c, hn::Set(d8, std::uint8_t{0x0F})));
  const auto high =
      hn::TableLookupBytes(hn::LoadDup128(d8, kHighNibbleClasses), hn::ShiftRight<4>(c));
  return hn::And(hn::And(low, high), hn::LoadU(d8, pattern));
}

// Whether each of the `end` characters at `text` (at least a vector's worth, from the start of
// a field) is of the class its column asks for: vector after vector, the last one again with
// some before it so that it ends at the last character. The least of the allowed classes is 0
// only where some character is out of its class.
template <class D8>
HWY_INLINE bool AllOfTheirClass(D8 d8, const std::uint8_t* text, std::size_t end) {
  const std::size_t lanes = hn::Lanes(d8);
  const std::uint8_t* const pattern = kRatePattern.at;
  auto least = hn::Set(d8, std::uint8_t{0xFF});
  std::size_t at = 0;
  for (; at + lanes <= end; at += lanes) {
    least = hn::Min(least, AllowedClasses(d8, text + at, pattern + at));
  }
  if (at < end) {
    least = hn::Min(least, AllowedClasses(d8, text + end - lanes, pattern + end - lanes));
  }
  return hn::AllFalse(d8, hn::Eq(least, hn::Zero(d8)));
}

// The fields (bit k for the characters 10 k to 10 k + 9) among the first `size` of the `end`
// characters at `text` that hold a character out of its class, vector by vector. Out of line,
// as the rare case, so that the usual one needs no frame of its own.
HWY_NOINLINE std::uint64_t FieldsOutOfClass(const std::uint8_t* text, std::size_t end,
                                            std::size_t size) {
  const hn::ScalableTag<std::uint8_t> d8;
  const std::size_t lanes = hn::Lanes(d8);
  std::uint64_t unusual = 0;
  for (std::size_t from = 0; from < end; from += lanes) {
    const std::size_t start = from + lanes <= end ? from : end - lanes;
    const auto out =
        hn::Eq(AllowedClasses(d8, text + start, kRatePattern.at + start), hn::Zero(d8));
    std::uint8_t bits[(HWY_MAX_BYTES + 7) / 8] = {};
    hn::StoreMaskBits(d8, out, bits);
    for (std::size_t i = 0; i < lanes && start + i < size; ++i) {
      if (((bits[i / 8] >> (i % 8)) & 1) != 0) unusual |= std::uint64_t{1} << ((start + i) / 10);
    }
  }
  return unusual;
}

// Fewer characters than lanes: a copy filled out with plain rates is looked at.
HWY_NOINLINE std::uint64_t UnusualFewFields10(const char* p, std::size_t size) {
  const hn::ScalableTag<std::uint8_t> d8;
  const std::size_t lanes = hn::Lanes(d8);
  HWY_ALIGN std::uint8_t padded[HWY_MAX_BYTES];
  for (std::size_t i = 0; i < lanes; ++i) {
    padded[i] = static_cast<std::uint8_t>(" 1.000E+00"[i % 10]);
  }
  std::memcpy(padded, p, size);
  return AllOfTheirClass(d8, padded, lanes) ? 0 : FieldsOutOfClass(padded, lanes, size);
}

std::uint64_t UnusualFields10(const char* p, int count) {
  const hn::ScalableTag<std::uint8_t> d8;
  const std::size_t size = 10 * static_cast<std::size_t>(count);
  if (size < hn::Lanes(d8)) return UnusualFewFields10(p, size);
  const auto* text = reinterpret_cast<const std::uint8_t*>(p);
  return AllOfTheirClass(d8, text, size) ? 0 : FieldsOutOfClass(text, size, size);
}
#endif  // HWY_TARGET == HWY_SCALAR

}  // namespace kestrane::number_detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrane::number_detail {

HWY_EXPORT(ParseFields10);
HWY_EXPORT(ParseRates10);
HWY_EXPORT(UnusualFields10);

// Measured on this program's own data lines (29 fields, GCC 12, 2026-12-10), against about
// 180 ns a line for the scalar reading: about 57 ns with AVX-512, 82 ns with AVX2, 123 ns with
// SSE4 and 154 ns with SSSE3; Highway's emulation of vectors (EMU128) takes as long as the
// scalar reading or longer, which is used where the processor has none of those.
namespace {

using FieldsReader = int (*)(const char*, int, double*);

int read_scalar(const char* p, int count, double* out) {
  return parse_e_fields10(p, count, out) ? count : 0;
}

int read_rates_scalar(const char* p, int count, double* out) {
  return parse_e_fields10<true>(p, count, out) ? count : 0;
}

// The reading for this processor, chosen once: its best target's vectors where they pay, the
// scalar reading elsewhere. (Finding the target's entry on every call costs a call into Highway's
// library per line.)
FieldsReader chosen_reader() {
  const bool pay =
      (hwy::SupportedTargets() & (HWY_AVX3 | HWY_AVX3_DL | HWY_AVX2 | HWY_SSE4 | HWY_SSSE3)) != 0;
  if (!pay) return &read_scalar;
  // SupportedTargets has settled the chosen target, so this is its entry, not the chooser's.
  return HWY_DYNAMIC_DISPATCH(ParseFields10);
}

// The reading of rates, chosen alike.
FieldsReader chosen_rates_reader() {
  const bool pay =
      (hwy::SupportedTargets() & (HWY_AVX3 | HWY_AVX3_DL | HWY_AVX2 | HWY_SSE4 | HWY_SSSE3)) != 0;
  if (!pay) return &read_rates_scalar;
  return HWY_DYNAMIC_DISPATCH(ParseRates10);
}

using FieldsLook = std::uint64_t (*)(const char*, int);

// The look at the form of fields, chosen alike: the vectors where they pay, else field by field.
FieldsLook chosen_look() {
  const bool pay =
      (hwy::SupportedTargets() & (HWY_AVX3 | HWY_AVX3_DL | HWY_AVX2 | HWY_SSE4 | HWY_SSSE3)) != 0;
  if (!pay) return &unusual_fields10;
  return HWY_DYNAMIC_DISPATCH(UnusualFields10);
}

}  // namespace

int parse_e_fields10_vector(const char* p, int count, double* out) {
  static const FieldsReader reader = chosen_reader();
  return reader(p, count, out);
}

int parse_rates10_vector(const char* p, int count, double* out) {
  static const FieldsReader reader = chosen_rates_reader();
  return reader(p, count, out);
}

int parse_rates10_on_target(long long target, const char* p, int count, double* out) {
  hwy::SetSupportedTargetsForTest(static_cast<std::int64_t>(target));
  const int read = HWY_DYNAMIC_DISPATCH(ParseRates10)(p, count, out);
  hwy::SetSupportedTargetsForTest(0);
  return read;
}

std::uint64_t unusual_fields10_vector(const char* p, int count) {
  static const FieldsLook look = chosen_look();
  return look(p, count);
}

std::uint64_t unusual_fields10_on_target(long long target, const char* p, int count) {
  hwy::SetSupportedTargetsForTest(static_cast<std::int64_t>(target));
  const std::uint64_t unusual = HWY_DYNAMIC_DISPATCH(UnusualFields10)(p, count);
  hwy::SetSupportedTargetsForTest(0);
  return unusual;
}

int parse_e_fields10_dispatched(const char* p, int count, double* out) {
  return HWY_DYNAMIC_DISPATCH(ParseFields10)(p, count, out);
}

int parse_e_fields10_on_target(long long target, const char* p, int count, double* out) {
  hwy::SetSupportedTargetsForTest(static_cast<std::int64_t>(target));
  const int read = HWY_DYNAMIC_DISPATCH(ParseFields10)(p, count, out);
  hwy::SetSupportedTargetsForTest(0);
  return read;
}

}  // namespace kestrane::number_detail
#endif  // HWY_ONCE
