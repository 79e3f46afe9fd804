// The usual ten-column rate fields of a data line read many at a time in vector registers,
// with the processor's widest vectors chosen when the program runs.
#pragma once

namespace kestrane::number_detail {

// Reads `count` fields of ten columns each, from `p` on, into out[0] to out[count - 1], as long
// as they are the usual " d.dddEsdd" (a blank or sign, then "d.dddEsdd"), with exactly the
// values parse_e_fields10 (input/fast_fields.h) gives, bit for bit. Returns how many fields
// from the first on were read: `count` when every one was of that form, fewer (0 included) when
// one was not, with `out` written further than that. The caller makes sure that the 10 x count
// characters are there; none past them is read. The vectors are used where they pay (SSSE3 and
// more); elsewhere this is parse_e_fields10 itself, which reads all fields or none.
int parse_e_fields10_vector(const char* p, int count, double* out);

// The same on the vectors of the best target allowed at the moment, whether or not they pay:
// for benchmarks that force a target with hwy::SetSupportedTargetsForTest.
int parse_e_fields10_dispatched(const char* p, int count, double* out);

// The same, on the vectors of the named target alone (a bit of hwy::SupportedTargets(), or 0
// for the best the processor has), for the tests.
int parse_e_fields10_on_target(long long target, const char* p, int count, double* out);

}  // namespace kestrane::number_detail
