// The files one run writes into OUTPUT: written as ".partial" files, flushed, then renamed
// into place together when the run has completed.
#include "output/output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

namespace kestrane {
namespace {

std::string failure(std::string_view what, std::string_view name, std::string_view reason) {
  return "Unable to " + std::string(what) + " the file " + std::string(name) + ": " +
         std::string(reason);
}

// Writes all of `text` at the current offset of `fd`; false with errno set when it fails.
bool write_all(int fd, std::string_view text) {
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

// Rows are gathered per file and handed to the kernel in writes of about this size: far fewer
// calls than one per record, and the kernel keeps the file in larger pieces.
constexpr std::size_t kWriteChunk = std::size_t{256} << 10;
// Rows gathered wait at most about this long before they are written.
constexpr std::chrono::milliseconds kLongestWait{100};
// Each file's written part is flushed to the disk in the background after every this many
// bytes.
constexpr off_t kWritebackChunk = off_t{8} << 20;

// O_NONBLOCK keeps a FIFO of the name from stalling the run; it is refused as not a file.
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

}  // namespace

BackgroundFlush::~BackgroundFlush() { stop(); }

void BackgroundFlush::request(int fd) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  if (std::find(queue_.begin(), queue_.end(), fd) == queue_.end()) queue_.push_back(fd);
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      stopped_ = true;  // no thread to be had: the flush at the end does it all
      queue_.clear();
      return;
    }
  }
  wake_.notify_one();
}

void BackgroundFlush::stop() noexcept {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    queue_.clear();
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void BackgroundFlush::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
    if (stopped_) return;
    const int fd = queue_.front();
    queue_.erase(queue_.begin());
    lock.unlock();
    // Only a head start: a failure shows again in the flush at the end, which reports it.
    ::fdatasync(fd);
    lock.lock();
  }
}

OutputFiles::OutputFiles(const std::filesystem::path& working_dir) : working_dir_(working_dir) {
  const std::filesystem::path lock_path = resolve_program_path(working_dir, kOutputLockName);
  folder_ = lock_path.parent_path();
  std::error_code ec;
  if (!std::filesystem::is_directory(folder_, ec)) {
    std::filesystem::create_directory(folder_, ec);
    if (ec) {
      throw OutputError("Unable to make the folder OUTPUT: " + ec.message());
    }
  }
  lock_.reset(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | kOpenFlags, 0666));
  if (!lock_) throw OutputError(failure("create", kOutputLockName, std::strerror(errno)));
  if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      throw OutputError("Unable to write into the folder OUTPUT: another run is writing there");
    }
    throw OutputError(failure("lock", kOutputLockName, std::strerror(errno)));
  }
}

OutputFiles::~OutputFiles() { abandon(); }

int OutputFiles::add(std::string name) { return add_file(std::move(name), false); }

int OutputFiles::add_optional(std::string name) { return add_file(std::move(name), true); }

int OutputFiles::add_file(std::string name, bool optional) {
  File file;
  file.optional = optional;
  file.path = resolve_program_path(working_dir_, name);
  file.name = std::move(name);
  if (std::any_of(files_.begin(), files_.end(),
                  [&](const File& other) { return other.path == file.path; })) {
    throw std::invalid_argument("the file " + file.name + " is added twice");
  }

  // An earlier file of the final name: held locked until the run ends, so that a program
  // that holds it stops the run before anything is written, as one that reads it safely
  // expects. It must be a file the run may replace.
  file.earlier.reset(::open(file.path.c_str(), O_WRONLY | kOpenFlags));
  if (!file.earlier && errno != ENOENT) {
    throw OutputError(failure("create", file.name, std::strerror(errno)));
  }
  if (file.earlier) {
    struct stat info {};
    if (::fstat(file.earlier.get(), &info) != 0) {
      throw OutputError(failure("create", file.name, std::strerror(errno)));
    }
    if (!S_ISREG(info.st_mode)) {
      throw OutputError(failure("create", file.name, "it is not a regular file"));
    }
    if (::flock(file.earlier.get(), LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      throw OutputError(
          failure("create", file.name,
                  error == EWOULDBLOCK ? "held by another program" : std::strerror(error)));
    }
  }

  const std::string partial = file.name + std::string(kPartialSuffix);
  const std::filesystem::path partial_path = file.path.string() + std::string(kPartialSuffix);
  // A partial file a stopped run left is replaced; anything else of that name is refused.
  struct stat info {};
  if (::lstat(partial_path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    throw OutputError(failure("create", partial, "it is not a regular file"));
  }
  if (optional) {
    if (::unlink(partial_path.c_str()) != 0 && errno != ENOENT) {
      throw OutputError(failure("remove", partial, std::strerror(errno)));
    }
  } else {
    create_partial(file);
  }
  files_.push_back(std::move(file));
  return size() - 1;
}

void OutputFiles::create_partial(File& file) {
  const std::string partial_path = file.path.string() + std::string(kPartialSuffix);
  file.partial.reset(
      ::open(partial_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | kOpenFlags, 0666));
  if (!file.partial) {
    throw OutputError(
        failure("create", file.name + std::string(kPartialSuffix), std::strerror(errno)));
  }
  ::fcntl(file.partial.get(), F_SETFL, 0);  // back to blocking writes
  file.created = true;
}

const std::string& OutputFiles::name(int index) const {
  return files_.at(static_cast<std::size_t>(index)).name;
}

std::string OutputFiles::partial_name(int index) const {
  return name(index) + std::string(kPartialSuffix);
}

const std::filesystem::path& OutputFiles::path(int index) const {
  return files_.at(static_cast<std::size_t>(index)).path;
}

std::filesystem::path OutputFiles::partial_path(int index) const {
  return path(index).string() + std::string(kPartialSuffix);
}

bool OutputFiles::has_partial(int index) const {
  return files_.at(static_cast<std::size_t>(index)).created;
}

void OutputFiles::write(int index, std::string_view lines) {
  File& file = files_.at(static_cast<std::size_t>(index));
  if (!file.created && !ended_) create_partial(file);
  if (!file.partial) throw std::logic_error("the file " + file.name + " is closed");
  // The gathered rows go first when these would take them past the size of a piece, so that a
  // file's buffer keeps the one size it is given.
  if (file.pending.size() + lines.size() > kWriteChunk) flush_pending(file);
  if (lines.size() >= kWriteChunk) {
    write_out(file, lines);
  } else {
    if (file.pending.capacity() < kWriteChunk) file.pending.reserve(kWriteChunk);
    file.pending.append(lines);
  }
  // Rows do not wait long in memory, so that a run stopped by a signal leaves nearly all of
  // them in its partial files.
  const auto now = std::chrono::steady_clock::now();
  if (now - last_flush_ >= kLongestWait) {
    for (File& each : files_) {
      if (each.partial) flush_pending(each);
    }
    last_flush_ = now;
  }
}

void OutputFiles::flush_pending(File& file) {
  if (file.pending.empty()) return;
  std::string lines = std::move(file.pending);
  file.pending.clear();
  write_out(file, lines);
  lines.clear();
  file.pending = std::move(lines);
}

void OutputFiles::write_out(File& file, std::string_view lines) {
  const int fd = file.partial.get();
  const off_t start = file.written;
  if (write_all(fd, lines)) {
    file.written += static_cast<off_t>(lines.size());
    if (file.written - file.writeback >= kWritebackChunk) {
      flusher_.request(fd);
      file.writeback = file.written;
    }
    return;
  }
  const int error = errno;
  if (::ftruncate(fd, start) != 0 || ::lseek(fd, start, SEEK_SET) != start) {
    throw OutputError(
        failure("write", file.name + std::string(kPartialSuffix), std::strerror(error)));
  }
  write_line_by_line(file, lines);
  // Every line fitted the second time (space was freed meanwhile): nothing is lost.
}

// Each line in a write of its own; a line that fails is taken back, so the file ends with its
// last whole line, and its failure is thrown.
void OutputFiles::write_line_by_line(File& file, std::string_view lines) {
  const int fd = file.partial.get();
  while (!lines.empty()) {
    const std::size_t end = std::min(lines.find('\n'), lines.size() - 1) + 1;
    const off_t start = file.written;
    if (!write_all(fd, lines.substr(0, end))) {
      const int error = errno;
      if (::ftruncate(fd, start) == 0) ::lseek(fd, start, SEEK_SET);
      throw OutputError(
          failure("write", file.name + std::string(kPartialSuffix), std::strerror(error)));
    }
    file.written += static_cast<off_t>(end);
    lines.remove_prefix(end);
  }
}

void OutputFiles::commit(bool flush) {
  if (committed_) throw std::logic_error("the files of a run are put in place only once");
  ended_ = true;
  for (File& file : files_) {
    if (file.created) flush_pending(file);
  }
  flusher_.stop();
  if (flush) {
    // The disk writes the rest of every file at once, rather than one file after the other
    // as each is flushed below.
    for (File& file : files_) {
      if (file.created) ::sync_file_range(file.partial.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
  }
  for (File& file : files_) {
    if (!file.created) continue;
    const std::string partial = file.name + std::string(kPartialSuffix);
    if (flush && ::fsync(file.partial.get()) != 0) {
      throw OutputError(failure("write", partial, std::strerror(errno)));
    }
    if (file.partial.close() != 0) {
      throw OutputError(failure("write", partial, std::strerror(errno)));
    }
  }
  for (File& file : files_) {
    if (!file.created) {
      // An optional file this run left empty: no earlier one of its name may stay beside the
      // files of this run.
      if (file.earlier && ::unlink(file.path.c_str()) != 0 && errno != ENOENT) {
        throw OutputError(failure("remove", file.name, std::strerror(errno)));
      }
      file.earlier.reset();
      continue;
    }
    const std::string partial_path = file.path.string() + std::string(kPartialSuffix);
    if (std::rename(partial_path.c_str(), file.path.c_str()) != 0) {
      throw OutputError(failure("replace", file.name, std::strerror(errno)));
    }
    file.earlier.reset();  // the earlier file is gone: its lock with it
  }
  committed_ = true;
  if (flush) {
    // The renames themselves reach the disk with the folder.
    const UniqueFd folder(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder && ::fsync(folder.get()) != 0 && errno != EINVAL) {
      throw OutputError("Unable to write the folder OUTPUT: " + std::string(std::strerror(errno)));
    }
  }
}

void OutputFiles::abandon() noexcept {
  ended_ = true;
  for (File& file : files_) {
    if (file.partial) {
      try {
        flush_pending(file);
      } catch (const std::exception&) {
        // The file keeps its whole lines; the failure that stopped the run is reported.
      }
    }
  }
  flusher_.stop();
  for (File& file : files_) {
    file.partial.reset();
    file.earlier.reset();
  }
}

void OutputFiles::discard() noexcept {
  abandon();
  if (committed_) return;
  std::error_code ignored;
  for (const File& file : files_) {
    if (!file.created) continue;
    std::filesystem::remove(file.path.string() + std::string(kPartialSuffix), ignored);
  }
  files_.clear();
}

}  // namespace kestrane
