// File stamps by path and by descriptor.
#include "platform/file_stamp.h"

#include <sys/stat.h>

#include <ctime>

namespace kestrane {
namespace {

std::int64_t nanoseconds(const struct timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

std::optional<FileStamp> stamp_of(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return std::nullopt;
  FileStamp stamp;
  stamp.device = static_cast<std::uint64_t>(st.st_dev);
  stamp.inode = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modified_ns = nanoseconds(st.st_mtim);
  stamp.changed_ns = nanoseconds(st.st_ctim);
  return stamp;
}

}  // namespace

std::optional<FileStamp> file_stamp(const std::filesystem::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return stamp_of(st);
}

std::optional<FileStamp> file_stamp_of(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
  return stamp_of(st);
}

std::int64_t clock_now_ns() {
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return nanoseconds(now);
}

}  // namespace kestrane
