// Helpers shared by the test programs.
#include "tests/support/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <system_error>

namespace kestrane {

void PrintTo(Colour colour, std::ostream* os) {
  static constexpr std::array<const char*, 16> kNames{
      "black",      "blue",           "green",     "cyan",        "red",          "magenta",
      "brown",      "light_grey",     "dark_grey", "bright_blue", "bright_green", "bright_cyan",
      "bright_red", "bright_magenta", "yellow",    "bright_white"};
  const int number = palette_number(colour);
  *os << (number >= 0 && number < 16 ? kNames[static_cast<std::size_t>(number)] : "?") << " ("
      << number << ")";
}

}  // namespace kestrane

namespace kestrane::test_support {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
  // Read in one piece: a character at a time is slow in the sanitized build for large files.
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return std::move(text).str();
}

void write_file(const fs::path& path, std::string_view bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string sha256sum(const fs::path& path) {
  const std::string command = "sha256sum '" + path.string() + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return {};
  char digest[65] = {};
  const std::size_t got = std::fread(digest, 1, 64, pipe);
  ::pclose(pipe);
  return std::string(digest, got);
}

std::map<std::string, std::string> folder_contents(const fs::path& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().lexically_relative(folder).generic_string();
    if (entry.is_symlink()) {
      contents[name] = "<link>";
    } else if (entry.is_directory()) {
      contents[name] = "<folder>";
    } else if (entry.is_regular_file()) {
      contents[name] = read_file(entry.path());
    } else {
      contents[name] = "<other>";
    }
  }
  return contents;
}

std::string padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

std::string data_line(double time, std::vector<double> rates, int precision, std::size_t columns) {
  if (rates.size() < columns) rates.resize(columns, 0.0);
  char field[40];
  std::snprintf(field, sizeof field, "%9.3E", time);
  std::string line = field;
  for (double rate : rates) {
    std::snprintf(field, sizeof field, "%10.*E", precision, rate);
    line += field;
  }
  return line;
}

TempDir::TempDir(std::string_view label) {
  static std::atomic<int> counter{0};
  path_ = fs::temp_directory_path() /
          (std::string(label) + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
  fs::remove_all(path_);
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value)
    : name_(std::move(name)) {
  if (const char* was = std::getenv(name_.c_str()); was != nullptr) {
    was_set_ = true;
    was_ = was;
  }
  ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
  if (was_set_) {
    ::setenv(name_.c_str(), was_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

PipeWriter::PipeWriter(fs::path path, std::string bytes) : path_(std::move(path)) {
  fs::remove(path_);
  if (::mkfifo(path_.c_str(), 0600) != 0) {
    throw std::system_error(errno, std::generic_category(), "mkfifo " + path_.string());
  }
  // The thread starts with SIGPIPE blocked, so that a write nobody reads fails with EPIPE.
  sigset_t pipe_signal;
  sigset_t saved;
  ::sigemptyset(&pipe_signal);
  ::sigaddset(&pipe_signal, SIGPIPE);
  ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &saved);
  thread_ = std::thread([path = path_, bytes = std::move(bytes), met = met_] {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    met->store(true);
    if (fd < 0) return;
    for (std::size_t at = 0; at < bytes.size();) {
      const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
  ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

PipeWriter::~PipeWriter() {
  if (!thread_.joinable()) return;
  if (!met_->load()) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::close(fd);
  }
  thread_.join();
}

void PipeWriter::detach() { thread_.detach(); }

}  // namespace kestrane::test_support
