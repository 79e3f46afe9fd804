// The command line of kestrane-sample: its options, the sizes it takes and reports, its refusal
// to write over the data folder of the current folder, and the report of what it wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

namespace kestrane {

// The unit a size was given in, which is also the unit the size is reported in.
enum class SizeUnit { bytes, kib, mib, gib };

struct SampleSize {
  std::uint64_t bytes = 0;
  SizeUnit unit = SizeUnit::bytes;
};

// A size such as "2M", "512K", "1G", "1.5G" or "300000" (K, M, G are powers of 1024, in
// either case; a trailing "B" or "iB" is allowed). Throws std::invalid_argument on anything
// else.
SampleSize parse_size(std::string_view text);

// `bytes` in `unit`: "300412 bytes", or with one decimal "512.0 KiB", "300.1 MiB", "1.0 GiB".
std::string format_size(std::uint64_t bytes, SizeUnit unit);

// Exit statuses of kestrane-sample.
inline constexpr int kSampleWritten = 0;
inline constexpr int kSampleWriteFailed = 1;
inline constexpr int kSampleUsageError = 2;

// Runs kestrane-sample on its command line. Without --dir it writes into `working_dir` (the
// current folder), and refuses with status 2 when that already holds a folder named DATA in
// any letter case, unless --force is given. --help, --version and the list of what was written
// go to `out`; every message goes to `err` and begins "kestrane-sample: ".
int run_sample_command(int argc, const char* const* argv, const std::filesystem::path& working_dir,
                       std::ostream& out, std::ostream& err);

}  // namespace kestrane
