// The cache of input hashes: one header line, then one line a file,
// "<sha256> <size> <device> <inode> <modified_ns> <changed_ns>", the most recent last.
#include "output/hash_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <ctime>
#include <system_error>
#include <vector>

#include "platform/file_services.h"

namespace kestrane {

namespace {

constexpr std::string_view kHeader = "# kestrane input-sha256 1";
// Lines read at most; a cache file is never longer than its header and kEntries lines.
constexpr std::size_t kMostLines = 4 * InputHashCache::kEntries;

struct Entry {
  std::string sha256;
  FileStamp stamp;
};

bool is_hex_digest(std::string_view text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Reads the next blank-separated number of `line` from `at`; false when there is none.
template <typename Number>
bool next_number(std::string_view line, std::size_t& at, Number& value) {
  if (at >= line.size() || line[at] != ' ') return false;
  const char* first = line.data() + at + 1;
  const char* last = line.data() + line.size();
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end == first) return false;
  at = static_cast<std::size_t>(end - line.data());
  return true;
}

std::optional<Entry> parse_entry(std::string_view line) {
  Entry entry;
  if (line.size() < 64 || !is_hex_digest(line.substr(0, 64))) return std::nullopt;
  entry.sha256 = std::string(line.substr(0, 64));
  std::size_t at = 64;
  FileStamp& s = entry.stamp;
  if (!next_number(line, at, s.size) || !next_number(line, at, s.device) ||
      !next_number(line, at, s.inode) || !next_number(line, at, s.modified_ns) ||
      !next_number(line, at, s.changed_ns) || at != line.size()) {
    return std::nullopt;
  }
  return entry;
}

// What is found at the cache's name.
enum class CacheFile { missing, read, left_alone };

// Reads the cache file into `text`: only a regular file of at most kLargestCache bytes whose
// lines hold at most kLongestCacheLine characters, opened without following a link and
// without waiting (a FIFO there never holds the run up). Anything else is left alone.
CacheFile read_cache_file(const std::filesystem::path& file, std::string& text) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? CacheFile::missing : CacheFile::left_alone;
  struct stat info {};
  bool sound = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
               static_cast<std::uint64_t>(info.st_size) <= InputHashCache::kLargestCache;
  char buffer[4096];
  while (sound) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      sound = got == 0;
      break;
    }
    text.append(buffer, static_cast<std::size_t>(got));
    sound = text.size() <= InputHashCache::kLargestCache;  // grown since it was looked at
  }
  ::close(fd);
  for (std::size_t start = 0; sound && start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    sound = end - start <= InputHashCache::kLongestCacheLine;
    start = end + 1;
  }
  return sound ? CacheFile::read : CacheFile::left_alone;
}

// The entries of the cache file's text.
std::vector<Entry> parse_entries(std::string_view text) {
  std::vector<Entry> entries;
  std::size_t lines = 0;
  bool header = true;
  while (!text.empty() && lines < kMostLines + 1) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (header && line != kHeader) return entries;
    if (!header) {
      if (auto entry = parse_entry(line)) entries.push_back(std::move(*entry));
    }
    header = false;
    ++lines;
  }
  return entries;
}

std::string entry_line(const Entry& e) {
  const FileStamp& s = e.stamp;
  return e.sha256 + ' ' + std::to_string(s.size) + ' ' + std::to_string(s.device) + ' ' +
         std::to_string(s.inode) + ' ' + std::to_string(s.modified_ns) + ' ' +
         std::to_string(s.changed_ns) + '\n';
}

}  // namespace

std::optional<InputHashCache> InputHashCache::of_user() {
  const char* cache_home = std::getenv("XDG_CACHE_HOME");
  std::filesystem::path base;
  if (cache_home != nullptr && cache_home[0] == '/') {
    base = cache_home;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return std::nullopt;
    base = std::filesystem::path(home) / ".cache";
  }
  return InputHashCache(base / "kestrane" / "input-sha256");
}

std::string InputHashCache::find(const FileStamp& stamp) const {
  std::string text;
  if (read_cache_file(file_, text) != CacheFile::read) return {};
  for (const Entry& entry : parse_entries(text)) {
    if (entry.stamp == stamp) return entry.sha256;
  }
  return {};
}

bool InputHashCache::remember(const FileStamp& stamp, const std::string& sha256,
                              std::int64_t read_from_ns) const {
  const std::int64_t settled_by = read_from_ns - kSettledNs;
  if (!is_hex_digest(sha256) || stamp.modified_ns >= settled_by || stamp.changed_ns >= settled_by) {
    return false;
  }
  // A cache file that is not one, or one grown beyond what a run writes, is not replaced.
  std::string text;
  const CacheFile found = read_cache_file(file_, text);
  if (found == CacheFile::left_alone) return false;
  std::vector<Entry> entries = parse_entries(text);
  std::erase_if(entries, [&](const Entry& e) { return e.stamp == stamp; });
  entries.push_back({sha256, stamp});
  const std::size_t first = entries.size() > kEntries ? entries.size() - kEntries : 0;
  text = std::string(kHeader) + '\n';
  for (std::size_t i = first; i < entries.size(); ++i) text += entry_line(entries[i]);
  return replace_file(file_, text);
}

}  // namespace kestrane
