// File services: the program's backslash paths resolved in a working directory, each name
// matched to an entry of its folder without regard to letter case.
#include "platform/file_services.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <system_error>
#include <vector>

#include "input/ascii.h"

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

const char* entry_kind_words(mode_t type) {
  if (S_ISREG(type)) return "a file";
  if (S_ISDIR(type)) return "a folder";
  if (S_ISLNK(type)) return "a symbolic link";
  if (S_ISFIFO(type)) return "a FIFO";
  if (S_ISSOCK(type)) return "a socket";
  return "a device";
}

void UniqueFd::reset(int fd) noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

int UniqueFd::close() noexcept {
  const int fd = std::exchange(fd_, -1);
  return fd >= 0 ? ::close(fd) : 0;
}

}  // namespace kestrane
