// Fuzz target: the numeric reading rule on any text. Its quick paths (fields of the usual
// form, short texts) must give what the general path gives on the same text made long by
// trailing blanks, which end any number; integer fields must stay in range; the strict
// reading of a field accepts only what the rule reads, with the same value, and finite.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "input/line_reader.h"

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
  return 0;
}
