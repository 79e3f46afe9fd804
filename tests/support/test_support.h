// Helpers shared by the test programs: whole-file reading and writing, temporary working
// folders, file hashes by sha256sum, an environment variable set for a while, named pipes fed
// from a thread, padded screen rows and console colours printed by name.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ui/console.h"

namespace kestrane {

// How GoogleTest prints a console colour in a failure: its name and palette number.
void PrintTo(Colour colour, std::ostream* os);

}  // namespace kestrane

namespace kestrane::test_support {

// The bytes of a file, or an empty string when it cannot be read.
std::string read_file(const std::filesystem::path& path);

// Writes `bytes` as the whole file, making its parent folders first.
void write_file(const std::filesystem::path& path, std::string_view bytes);

// The SHA-256 of a file as coreutils' sha256sum gives it (64 hex digits), independent of the
// program's own; empty when it cannot be had.
std::string sha256sum(const std::filesystem::path& path);

// Every entry under `folder` (its subfolders too) by its path relative to it, with '/': a
// regular file with its bytes, anything else as "<link>", "<folder>" or "<other>".
std::map<std::string, std::string> folder_contents(const std::filesystem::path& folder);

// `text` blank-padded (or cut) to `width` columns: one row of an 80-column screen.
std::string padded(std::string text, std::size_t width = 80);

// A data line of a dose-rate file: the time in columns 1-9 ("%9.3E"), then one 10-column field
// per rate ("%10.<precision>E"), the rates first filled up with zeros to `columns` fields.
std::string data_line(double time, std::vector<double> rates, int precision = 3,
                      std::size_t columns = 0);

// Deterministic generator (splitmix64), the same on every platform.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    state_ += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  double unit() { return static_cast<double>(next() >> 11) * 0x1p-53; }
  int below(int k) { return static_cast<int>(next() % static_cast<std::uint64_t>(k)); }
  bool one_in(int k) { return below(k) == 0; }

 private:
  std::uint64_t state_;
};

// A fresh, empty folder under the system's temporary folder, removed with everything in it
// when the object goes. `label` makes the name easy to find when a test leaves it behind.
class TempDir {
 public:
  explicit TempDir(std::string_view label = "kestrane_test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& rest) const { return path_ / rest; }

 private:
  std::filesystem::path path_;
};

// Sets the environment variable `name` to `value` for the life of the object, and puts back
// what it was (or unsets it) when the object goes.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::string& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  bool was_set_ = false;
  std::string was_;
};

// A named pipe made at `path` (in place of what was there) and fed `bytes` on a thread of its
// own, which opens it for writing, waits there for a reader, writes and closes it. A write
// after the reader has closed its end fails (SIGPIPE is blocked in the thread), so the
// thread always ends once a reader has opened the pipe. When the object goes, a pipe that no
// reader opened is opened and closed once so that the thread ends, and the thread is joined.
class PipeWriter {
 public:
  PipeWriter(std::filesystem::path path, std::string bytes);
  ~PipeWriter();
  PipeWriter(const PipeWriter&) = delete;
  PipeWriter& operator=(const PipeWriter&) = delete;
  // Lets the thread go on alone, for a reader that has opened the pipe and outlives this
  // object.
  void detach();

 private:
  std::filesystem::path path_;
  std::shared_ptr<std::atomic<bool>> met_ = std::make_shared<std::atomic<bool>>(false);
  std::thread thread_;
};

}  // namespace kestrane::test_support
