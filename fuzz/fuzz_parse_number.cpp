// Fuzz target: the numeric reading rule on any text. Its quick paths (fields of the usual
// form, short texts) must give what the general path gives on the same text made long by
// trailing blanks, which end any number; integer fields must stay in range; the strict
// reading of a field accepts only what the rule reads, with the same value, and finite. The
// text cut into ten-column fields, and a line of usual fields with characters the text sets,
// read alike by the scalar and the vector path (every target the processor runs), and a field
// either path reads has the value of the strict reading; the look at the fields' form agrees
// with the scalar look on every target.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "hwy/targets.h"
#include "input/fast_fields.h"
#include "input/line_reader.h"
#include "input/vector_fields.h"

namespace {

// The fields of `text` (as many whole ten-column fields as it holds, at most 29) read by the
// scalar path and by the vector path on each target: the same outcome and the same bits.
void check_vector_fields(const std::string& text) {
  const int count = static_cast<int>(std::min<std::size_t>(text.size() / 10, 29));
  if (count == 0) return;
  // The fields in a buffer of their own size, so that a read past the last one is caught.
  const std::vector<char> fields(text.begin(), text.begin() + 10 * count);
  double scalar[29];
  const bool read = kestrane::number_detail::parse_e_fields10(fields.data(), count, scalar);
  // The look at the fields' form: what the scalar look says, on every target; the reading of
  // rates takes every field exactly where none is flagged.
  const std::uint64_t unusual = kestrane::number_detail::unusual_fields10(fields.data(), count);
  for (std::int64_t targets = hwy::SupportedTargets(); targets != 0; targets &= targets - 1) {
    const std::int64_t target = targets & -targets;
    double rates[29];
    if (kestrane::number_detail::unusual_fields10_on_target(target, fields.data(), count) !=
            unusual ||
        (kestrane::number_detail::parse_rates10_on_target(target, fields.data(), count, rates) ==
         count) != (unusual == 0)) {
      std::abort();
    }
  }
  for (std::int64_t targets = hwy::SupportedTargets(); targets != 0; targets &= targets - 1) {
    double vector[29];
    const std::int64_t target = targets & -targets;
    // The fields from the first on that the vector path read: all of them exactly when the
    // scalar path reads the line.
    const int got =
        kestrane::number_detail::parse_e_fields10_on_target(target, fields.data(), count, vector);
    if (got < 0 || got > count || (got == count) != read) std::abort();
    for (int k = 0; k < (read ? count : got); ++k) {
      double strict = 0.0;
      if (kestrane::read_number_field(
              std::string_view(text).substr(10 * static_cast<std::size_t>(k), 10), strict) !=
              kestrane::FieldReading::number ||
          std::bit_cast<std::uint64_t>(vector[k]) != std::bit_cast<std::uint64_t>(strict) ||
          (read &&
           std::bit_cast<std::uint64_t>(scalar[k]) != std::bit_cast<std::uint64_t>(strict))) {
        std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const double value = kestrane::parse_number(text);
  if (value != value) std::abort();  // the rule never yields NaN
  const double padded = kestrane::parse_number(text + std::string(20, ' '));
  if (std::bit_cast<std::uint64_t>(value) != std::bit_cast<std::uint64_t>(padded)) std::abort();
  const std::int32_t rounded = kestrane::round_to_int32(value);
  if (value >= 0 && rounded < 0) std::abort();
  if (value <= 0 && rounded > 0) std::abort();
  double strict = 0.0;
  if (kestrane::read_number_field(text, strict) == kestrane::FieldReading::number) {
    if (!std::isfinite(strict)) std::abort();
    if (std::bit_cast<std::uint64_t>(strict) != std::bit_cast<std::uint64_t>(value)) std::abort();
  }
  check_vector_fields(text);
  // Lines of the usual fields with a few characters changed, where the input's bytes are taken
  // in pairs as a position and what to put there; the first byte picks the number of fields.
  std::string usual;
  for (int k = 0; k < 1 + (size > 0 ? data[0] % 29 : 28); ++k)
    usual += k % 2 ? "-4.567e+89" : " 1.234E-05";
  for (std::size_t i = 1; i + 1 < size; i += 2)
    usual[data[i] % usual.size()] = static_cast<char>(data[i + 1]);
  check_vector_fields(usual);
  return 0;
}
