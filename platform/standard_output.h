// The end of a command-line program's standard output: flushed and checked, so that a failed
// write there (a full disk, a closed pipe) is said and changes the exit status, as GNU tools
// do it.
#pragma once

#include <ostream>
#include <string_view>

namespace kestrane {

// Flushes std::cout and stdout. When a write to them failed, now or earlier, writes
// "<program>: write error on standard output[: <reason>]" to `err` and returns 1 in place of a
// `status` of 0; any other status is kept (the run failed already). Otherwise returns `status`.
int finish_standard_output(std::string_view program, int status, std::ostream& err);

}  // namespace kestrane
