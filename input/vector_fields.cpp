// The usual rate fields of a data line read in vector registers: every field checked and
// converted in the lanes of one vector, with the very integer steps and the very products of
// parse_e_digits3 (input/fast_fields.h), so that each lane gives the same double. Compiled
// once per processor target by Highway; the best target of the processor is chosen at run
// time. Built without contraction of products and sums into fused multiply-adds, which would
// round differently.
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

bool ParseFields10(const char* p, int count, double* out) {
  const hn::ScalableTag<std::uint64_t> du;
  const hn::RebindToSigned<decltype(du)> di;
  const hn::Rebind<double, decltype(du)> dd;
  const auto lanes = static_cast<int>(hn::Lanes(du));
  constexpr int kMost = HWY_MAX_BYTES / 8;
  HWY_ALIGN std::uint64_t words[kMost];
  HWY_ALIGN std::uint64_t leads[kMost];
  HWY_ALIGN std::uint64_t lasts[kMost];
  HWY_ALIGN double values[kMost];
  const double* scales = &kFieldScales[0][0];
  for (int first = 0; first < count; first += lanes) {
    const int here = count - first < lanes ? count - first : lanes;
    // The bytes 1-8 of each field side by side, its lead and its last character; lanes past
    // the last field repeat it.
    for (int j = 0; j < lanes; ++j) {
      const char* field = p + 10 * (first + (j < here ? j : here - 1));
      std::memcpy(&words[j], field + 1, 8);
      leads[j] = static_cast<unsigned char>(field[0]);
      lasts[j] = static_cast<unsigned char>(field[9]);
    }
    const auto u = hn::Load(du, words);
    const auto lead = hn::Load(du, leads);
    const auto e2 = hn::Sub(hn::Load(du, lasts), hn::Set(du, '0'));
    // The checks of parse_e_digits3, lane by lane.
    constexpr std::uint64_t kDigits = 0xFF0000FFFFFF00FF;
    constexpr std::uint64_t kHigh = kDigits & 0xF0F0F0F0F0F0F0F0;
    constexpr std::uint64_t kLow = kDigits & 0x0F0F0F0F0F0F0F0F;
    const auto digits =
        hn::And(hn::Eq(hn::And(u, hn::Set(du, kHigh)), hn::Set(du, kDigits & 0x3030303030303030)),
                hn::Eq(hn::And(hn::Add(hn::And(u, hn::Set(du, kLow)),
                                       hn::Set(du, kDigits & 0x0606060606060606)),
                               hn::Set(du, kHigh)),
                       hn::Zero(du)));
    const auto sign = hn::And(hn::ShiftRight<48>(u), hn::Set(du, 0xFF));
    const auto fixed = hn::And(
        hn::Eq(hn::And(u, hn::Set(du, 0x00F9DE000000FF00)), hn::Set(du, 0x0029440000002E00)),
        hn::Ne(hn::And(hn::Xor(hn::ShiftRight<1>(sign), hn::ShiftRight<2>(sign)), hn::Set(du, 1)),
               hn::Zero(du)));
    const auto lead_ok =
        hn::Or(hn::Or(hn::Eq(lead, hn::Set(du, ' ')), hn::Eq(lead, hn::Set(du, '-'))),
               hn::Eq(lead, hn::Set(du, '+')));
    const auto sound =
        hn::And(hn::And(digits, fixed), hn::And(lead_ok, hn::Lt(e2, hn::Set(du, 10))));
    if (!hn::AllTrue(du, sound)) return false;
    // The four digits side by side, combined pairwise; x * 10 and x * 100 as sums of shifts.
    auto d4 = hn::ShiftRight<8>(hn::Or(hn::And(u, hn::Set(du, 0x0000000F0F0F0000)),
                                       hn::ShiftLeft<8>(hn::And(u, hn::Set(du, 0xF)))));
    d4 = hn::Add(hn::Add(hn::ShiftLeft<3>(d4), hn::ShiftLeft<1>(d4)), hn::ShiftRight<8>(d4));
    const auto pairs = hn::And(d4, hn::Set(du, 0x00FF00FF));
    const auto hundred =
        hn::Add(hn::Add(hn::ShiftLeft<6>(pairs), hn::ShiftLeft<5>(pairs)), hn::ShiftLeft<2>(pairs));
    const auto mantissa_bits = hn::And(
        hn::ShiftRight<16>(hn::Add(hn::ShiftLeft<16>(hundred), pairs)), hn::Set(du, 0xFFFF));
    const auto mantissa = hn::ConvertTo(dd, hn::BitCast(di, mantissa_bits));
    // The exponent as written, its sign, less the three fraction digits; the row of scales.
    const auto e1 = hn::And(hn::ShiftRight<56>(u), hn::Set(du, 0xF));
    const auto written =
        hn::BitCast(di, hn::Add(hn::Add(hn::ShiftLeft<3>(e1), hn::ShiftLeft<1>(e1)), e2));
    const auto negative_exponent = hn::RebindMask(di, hn::Eq(sign, hn::Set(du, '-')));
    const auto exponent =
        hn::Sub(hn::IfThenElse(negative_exponent, hn::Neg(written), written), hn::Set(di, 3));
    const auto row = hn::Sub(exponent, hn::Set(di, kFieldScaleLowest));
    const auto at = hn::Add(hn::Add(row, row), row);
    const auto s0 = hn::GatherIndex(dd, scales, at);
    const auto s1 = hn::GatherIndex(dd, scales + 1, at);
    const auto s2 = hn::GatherIndex(dd, scales + 2, at);
    const auto value =
        hn::Add(hn::Mul(mantissa, s0), hn::Add(hn::Mul(mantissa, s1), hn::Mul(mantissa, s2)));
    // A '-' lead sets the sign bit, as parse_e_fields10 does.
    const auto minus = hn::And(hn::VecFromMask(du, hn::Eq(lead, hn::Set(du, '-'))),
                               hn::Set(du, std::uint64_t{1} << 63));
    const auto signed_value = hn::BitCast(dd, hn::Or(hn::BitCast(du, value), minus));
    if (here == lanes) {
      hn::StoreU(signed_value, dd, out + first);
    } else {
      hn::Store(signed_value, dd, values);
      for (int j = 0; j < here; ++j) out[first + j] = values[j];
    }
  }
  return true;
}

}  // namespace kestrane::number_detail::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace kestrane::number_detail {

HWY_EXPORT(ParseFields10);

// Measured on this program's own data lines (29 fields, GCC 12, 2026-12-10): against 700 ns a
// line for the scalar reading, about 480 ns with AVX-512, about the same with AVX2 and 30%
// more with SSE4 or SSSE3, where putting the fields side by side costs more than the vectors
// of two lanes save. So the vectors are used only where AVX-512 is there.
bool vectors_pay() {
  static const bool pay = (hwy::SupportedTargets() & (HWY_AVX3 | HWY_AVX3_DL)) != 0;
  return pay;
}

bool parse_e_fields10_vector(const char* p, int count, double* out) {
  if (!vectors_pay()) return parse_e_fields10(p, count, out);
  return HWY_DYNAMIC_DISPATCH(ParseFields10)(p, count, out);
}

bool parse_e_fields10_on_target(long long target, const char* p, int count, double* out) {
  hwy::SetSupportedTargetsForTest(static_cast<std::int64_t>(target));
  const bool read = HWY_DYNAMIC_DISPATCH(ParseFields10)(p, count, out);
  hwy::SetSupportedTargetsForTest(0);
  return read;
}

}  // namespace kestrane::number_detail
#endif  // HWY_ONCE
