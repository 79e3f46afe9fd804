// The usual ten-column rate fields of a data line read many at a time in vector registers,
// with the processor's widest vectors chosen when the program runs.
#pragma once

#include <cstdint>

namespace kestrane::number_detail {

// Reads `count` fields of ten columns each, from `p` on, into out[0] to out[count - 1], as long
// as they are the usual " d.dddEsdd" (a blank or sign, then "d.dddEsdd"), with exactly the
// values parse_e_fields10 (input/fast_fields.h) gives, bit for bit. Returns how many fields
// from the first on were read: `count` when every one was of that form, fewer (0 included) when
// one was not, with `out` written further than that. The caller makes sure that the 10 x count
// characters are there; none past them is read. The vectors are used where they pay (SSSE3 and
// more); elsewhere this is parse_e_fields10 itself, which reads all fields or none.
int parse_e_fields10_vector(const char* p, int count, double* out);

// The same for rate fields, which may not be below zero: a field with a '-' lead is read as one
// of another form (not at all), so that every field read holds 0 or more; the reading field by
// field then sees its value. parse_e_fields10<true> where the vectors do not pay.
int parse_rates10_vector(const char* p, int count, double* out);

// The same on the vectors of the best target allowed at the moment, whether or not they pay:
// for benchmarks that force a target with hwy::SetSupportedTargetsForTest.
int parse_e_fields10_dispatched(const char* p, int count, double* out);

// The same, on the vectors of the named target alone (a bit of hwy::SupportedTargets(), or 0
// for the best the processor has), for the tests.
int parse_e_fields10_on_target(long long target, const char* p, int count, double* out);
int parse_rates10_on_target(long long target, const char* p, int count, double* out);

// The most fields unusual_fields10_vector looks at in one call: one bit of its result each.
inline constexpr int kMostCheckedFields = 64;

// Looks at the form of `count` fields of ten columns each, from `p` on, without reading their
// values: every character is classed at once (digit, lead, point, exponent letter, sign) and
// set against what its column allows in a plain rate, " d.dddEsdd" or "+d.dddEsdd". Returns a
// bit for each field that is not such a rate (bit k for the field at p + 10 k): another form of
// number, blanks, a '-' lead (a rate that may be below zero) or anything broken, for the exact
// rule to settle. 0 when every field is a plain rate, which always holds one number of 0 or
// more. The caller makes sure that the 10 x count characters are there (count at most
// kMostCheckedFields); none past them is read.
std::uint64_t unusual_fields10_vector(const char* p, int count);

// The same on the vectors of the named target alone (as parse_e_fields10_on_target), for the
// tests.
std::uint64_t unusual_fields10_on_target(long long target, const char* p, int count);

}  // namespace kestrane::number_detail
