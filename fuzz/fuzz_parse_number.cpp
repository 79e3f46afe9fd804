// Fuzz target: the numeric reading rule on any text. Its quick paths (fields of the usual
// form, short texts) must give what the general path gives on the same text made long by
// trailing blanks, which end any number; integer fields must stay in range.
#include <bit>
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
  return 0;
}
