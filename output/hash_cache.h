// The SHA-256 of dose-rate files read whole by an earlier run, remembered with what the file
// system says of each file (device, inode, size, times of the last change of its bytes and of
// its inode), so that a run on an unchanged file need not hash its bytes again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/file_stamp.h"

namespace kestrane {

// A small text file of stamps and hashes, the most recent last. It is an aid to speed only: a
// file that cannot be read or written, or a line that does not read back, costs a hash, never
// a wrong one.
class InputHashCache {
 public:
  // How long before its reading began a file must have been left alone for its hash to be
  // remembered. A file system stamps with a coarse clock (a few milliseconds here, two seconds
  // on some), so a file changed twice within one tick could keep its stamp over other bytes;
  // a file that has not changed in the last seconds before the reading cannot.
  static constexpr std::int64_t kSettledNs = std::int64_t{3'000'000'000};
  // Files remembered; older ones are forgotten.
  static constexpr std::size_t kEntries = 32;
  // The cache file is read only when it is a regular file of at most kLargestCache bytes
  // with no line longer than kLongestCacheLine characters (what a run writes is far within
  // both); anything else at its name (a FIFO, a device, a link, a folder, a file too large) is
  // left alone and never replaced, and costs only the hashing.
  static constexpr std::size_t kLargestCache = std::size_t{64} << 10;
  static constexpr std::size_t kLongestCacheLine = 256;

  explicit InputHashCache(std::filesystem::path file) : file_(std::move(file)) {}
  // The cache of the user: "kestrane/input-sha256" under $XDG_CACHE_HOME, or under
  // $HOME/.cache where that is not set to an absolute path; none when neither is.
  static std::optional<InputHashCache> of_user();

  const std::filesystem::path& file() const { return file_; }
  // The hash remembered for a file with this stamp; empty when there is none.
  std::string find(const FileStamp& stamp) const;
  // Remembers `sha256` of the file described by `stamp`, read whole from `read_from_ns` on,
  // if the file had been left alone long enough by then (kSettledNs). Returns whether it was
  // remembered (false too when the cache file could not be written or is left alone).
  bool remember(const FileStamp& stamp, const std::string& sha256, std::int64_t read_from_ns) const;

 private:
  std::filesystem::path file_;
};

}  // namespace kestrane
