// File services: the program's backslash paths resolved in a working directory, each name
// matched to an entry of its folder without regard to letter case; whole writes, the kinds of
// entries in words, and a file replaced whole by a rename.
#include "platform/file_services.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <vector>

#include "base/ascii.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;

// The names of a program path. Backslash separates folders, and so does the slash, as on
// the program's original file system; empty names (doubled or leading separators) and "."
// are dropped.
std::vector<std::string> split_names(std::string_view program_path) {
  std::vector<std::string> names;
  std::string name;
  for (char ch : program_path) {
    if (ch == '\\' || ch == '/') {
      if (!name.empty() && name != ".") names.push_back(name);
      name.clear();
    } else {
      name.push_back(ch);
    }
  }
  if (!name.empty() && name != ".") names.push_back(name);
  return names;
}

// The entry of `folder` that `name` stands for: the exact name when it exists; otherwise
// the entries that match without regard to case, preferring a folder when more names
// follow and a regular file for the last name, then the first in byte order. Empty when
// nothing matches.
std::string match_entry(const fs::path& folder, const std::string& name, bool last) {
  std::error_code ec;
  if (name == ".." || fs::exists(fs::symlink_status(folder / name, ec))) return name;
  std::vector<std::pair<bool, std::string>> candidates;  // (of the wanted kind, name)
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (!ascii::equal_ignoring_case(entry, name)) continue;
    std::error_code kind_ec;
    bool wanted = last ? it->is_regular_file(kind_ec) : it->is_directory(kind_ec);
    candidates.emplace_back(!wanted, entry);  // false sorts first: the wanted kind first
  }
  if (candidates.empty()) return {};
  return std::min_element(candidates.begin(), candidates.end())->second;
}

}  // namespace

std::filesystem::path resolve_program_path(const std::filesystem::path& working_dir,
                                           std::string_view program_path) {
  std::vector<std::string> names = split_names(program_path);
  fs::path path = working_dir;
  bool matching = true;
  for (size_t i = 0; i < names.size(); ++i) {
    if (matching) {
      std::string entry = match_entry(path, names[i], i + 1 == names.size());
      if (entry.empty()) {
        matching = false;  // this name and the rest stay as written
      } else {
        path /= entry;
        continue;
      }
    }
    path /= names[i];
  }
  return path;
}

bool program_file_exists(const std::filesystem::path& working_dir, std::string_view program_path) {
  std::error_code ec;
  return fs::is_regular_file(resolve_program_path(working_dir, program_path), ec);
}

std::optional<mode_t> program_entry_type(const std::filesystem::path& working_dir,
                                         std::string_view program_path) {
  struct stat info {};
  if (::stat(resolve_program_path(working_dir, program_path).c_str(), &info) != 0) {
    return std::nullopt;
  }
  return info.st_mode & S_IFMT;
}

void UniqueFd::reset(int fd) noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int UniqueFd::close() noexcept {
  const int fd = std::exchange(fd_, -1);
  return fd >= 0 ? ::close(fd) : 0;
}

bool write_all(int fd, std::string_view text) noexcept {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

const char* entry_kind(unsigned mode) noexcept {
  if (S_ISREG(mode)) return "a file";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "a device";
}

bool replace_file(const std::filesystem::path& file, const std::string& text) {
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  if (error) return false;
  const std::filesystem::path temporary = file.string() + "." + std::to_string(::getpid()) + ".tmp";
  ::unlink(temporary.c_str());
  const int fd =
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = write_all(fd, text);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed || ::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kestrane
