// What the file system says of a file, taken by its path or by the descriptor a run reads it
// through, and the clock the file system stamps with.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace kestrane {

// What the file system says of a file; two equal stamps mean the same, unchanged bytes. The
// inode's change time moves with every write, rename, link or change of times and cannot be
// set back by a user, so a file rewritten with the same size and modification time still gets
// a new stamp.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;  // nanoseconds since 1970, UTC
  std::int64_t changed_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` (symbolic links followed, as an open does); none when it
// cannot be had or is not a regular file.
std::optional<FileStamp> file_stamp(const std::filesystem::path& path);
// The stamp of the open file `fd` (fstat): of the very file read through it, whatever its path
// names meanwhile; none when it cannot be had or is not a regular file.
std::optional<FileStamp> file_stamp_of(int fd);
// The time of day in nanoseconds since 1970, UTC, on the clock the file system stamps with.
std::int64_t clock_now_ns();

}  // namespace kestrane
