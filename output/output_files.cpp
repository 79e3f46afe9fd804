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

#include "output/commit_journal.h"
#include "platform/interrupt_note.h"

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
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;

// What an entry is, in words, for the messages about an entry of the wrong kind.
const char* kind_of(mode_t mode) { return entry_kind_words(mode & S_IFMT); }

std::string partial_of(std::string_view name) {
  return std::string(name) + std::string(kPartialSuffix);
}

}  // namespace

BackgroundFlush::~BackgroundFlush() { stop(); }

void BackgroundFlush::request(int fd) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  if (std::find(queue_.begin(), queue_.end(), fd) == queue_.end()) queue_.push_back(fd);
  if (!thread_.joinable()) {
    try {
      const QuitSignalsBlocked blocked;  // the thread never takes a quit signal
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
  for (int attempt = 0; !folder_fd_ && attempt < 2; ++attempt) {
    folder_fd_.reset(::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder_fd_) break;
    const int error = errno;
    struct stat info {};
    if (::lstat(folder_.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
      throw OutputError("OUTPUT is " + std::string(kind_of(info.st_mode)) + ", not a folder");
    }
    if (error != ENOENT || attempt > 0) {
      throw OutputError("Unable to open the folder OUTPUT: " + std::string(std::strerror(error)));
    }
    if (::mkdir(folder_.c_str(), 0777) != 0 && errno != EEXIST) {
      throw OutputError("Unable to make the folder OUTPUT: " + std::string(std::strerror(errno)));
    }
  }
  // The lock file is never truncated, written or removed: a second run must lock the same one.
  const std::string lock_name = lock_path.filename().string();
  lock_.reset(::openat(folder_fd_.get(), lock_name.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0666));
  if (!lock_) throw OutputError(failure("create", kOutputLockName, std::strerror(errno)));
  struct stat info {};
  if (::fstat(lock_.get(), &info) == 0 && !S_ISREG(info.st_mode)) {
    throw OutputError(std::string(kOutputLockName) + " is " + kind_of(info.st_mode) +
                      ", not a regular file");
  }
  if (::flock(lock_.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      throw OutputError("Unable to write into the folder OUTPUT: another run is writing there");
    }
    throw OutputError(failure("lock", kOutputLockName, std::strerror(errno)));
  }
  completed_commit_ = complete_interrupted_commit(folder_fd_.get());
}

OutputFiles::~OutputFiles() { abandon(); }

int OutputFiles::add(std::string name) { return add_file(std::move(name), false); }

int OutputFiles::add_companion(std::string name) { return add_file(std::move(name), true); }

int OutputFiles::folder_fd(std::string_view relative_folder, std::string_view display, bool make) {
  if (relative_folder.empty()) return folder_fd_.get();
  for (const auto& [name, fd] : subfolders_) {
    if (name == relative_folder) return fd.get();
  }
  const std::string folder(relative_folder);
  const auto open_folder = [&] {
    return ::openat(folder_fd_.get(), folder.c_str(),
                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  };
  UniqueFd fd(open_folder());
  if (!fd && errno == ENOENT && make) {
    if (::mkdirat(folder_fd_.get(), folder.c_str(), 0777) != 0 && errno != EEXIST) {
      throw OutputError("Unable to make the folder " + std::string(display) + ": " +
                        std::strerror(errno));
    }
    fd.reset(open_folder());
  }
  if (!fd && errno == ENOENT && !make) return -1;
  if (!fd) {
    const int error = errno;
    struct stat info {};
    if (::fstatat(folder_fd_.get(), folder.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(info.st_mode)) {
      throw OutputError(std::string(display) + " is " + kind_of(info.st_mode) + ", not a folder");
    }
    throw OutputError("Unable to open the folder " + std::string(display) + ": " +
                      std::strerror(error));
  }
  subfolders_.emplace_back(folder, std::move(fd));
  return subfolders_.back().second.get();
}

void OutputFiles::add_folder(std::string_view name) {
  const std::filesystem::path path = resolve_program_path(working_dir_, name);
  const std::string relative = path.lexically_relative(folder_).generic_string();
  if (relative.empty() || relative == "." || relative.find('/') != std::string::npos ||
      relative.starts_with("..")) {
    throw std::invalid_argument(std::string(name) + " is not a folder in OUTPUT");
  }
  folder_fd(relative, name, false);
}

OutputFiles::File OutputFiles::make_file(std::string name) {
  File file;
  file.path = resolve_program_path(working_dir_, name);
  file.relative = file.path.lexically_relative(folder_).generic_string();
  const std::size_t slash = file.relative.find('/');
  if (file.relative.empty() || file.relative.starts_with("..") ||
      (slash != std::string::npos && file.relative.find('/', slash + 1) != std::string::npos)) {
    throw std::invalid_argument("the file " + name + " is not in OUTPUT or a folder of it");
  }
  if (std::any_of(files_.begin(), files_.end(),
                  [&](const File& other) { return other.path == file.path; })) {
    throw std::invalid_argument("the file " + name + " is added twice");
  }
  const std::string_view sub = slash == std::string::npos
                                   ? std::string_view{}
                                   : std::string_view(file.relative).substr(0, slash);
  const std::size_t last = name.find_last_of('\\');
  file.folder = folder_fd(sub, std::string_view(name).substr(0, last), true);
  file.name = std::move(name);
  return file;
}

// An earlier file of the final name: held locked until the run ends (when `hold`), so that a
// program that holds it stops the run before anything is written, as one that reads it
// safely expects. It must be a regular file the run may replace.
void OutputFiles::check_earlier(File& file, bool hold) {
  const std::string leaf = file.path.filename().string();
  struct stat info {};
  if (::fstatat(file.folder, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return;
    throw OutputError(failure("create", file.name, std::strerror(errno)));
  }
  if (S_ISDIR(info.st_mode)) throw OutputError(failure("create", file.name, std::strerror(EISDIR)));
  if (!S_ISREG(info.st_mode)) {
    throw OutputError(file.name + " is " + kind_of(info.st_mode) + ", not a regular file");
  }
  file.earlier.reset(::openat(file.folder, leaf.c_str(), O_WRONLY | kOpenFlags));
  if (!file.earlier) {
    if (errno == ENOENT) return;
    throw OutputError(failure("create", file.name, std::strerror(errno)));
  }
  if (::flock(file.earlier.get(), LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    throw OutputError(
        failure("create", file.name,
                error == EWOULDBLOCK ? "held by another program" : std::strerror(error)));
  }
  if (!hold) file.earlier.reset();
}

// Whatever stands at the partial name is removed (a partial file a stopped run left, a link
// planted there); a folder there is refused.
void OutputFiles::remove_partial(const File& file) {
  const std::string leaf = partial_of(file.path.filename().string());
  if (::unlinkat(file.folder, leaf.c_str(), 0) == 0 || errno == ENOENT) return;
  const int error = errno;
  struct stat info {};
  if (::fstatat(file.folder, leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(info.st_mode)) {
    throw OutputError(failure("create", partial_of(file.name), "it is not a regular file"));
  }
  throw OutputError(failure("remove", partial_of(file.name), std::strerror(error)));
}

int OutputFiles::add_file(std::string name, bool companion) {
  File file = make_file(std::move(name));
  file.companion = companion;
  check_earlier(file, true);
  remove_partial(file);
  if (!companion) create_partial(file);
  files_.push_back(std::move(file));
  return size() - 1;
}

int OutputFiles::add_whole(std::string name, std::string_view text) {
  if (ended_) throw std::logic_error("the files of the run are closed");
  File file = make_file(std::move(name));
  check_earlier(file, false);
  remove_partial(file);
  create_partial(file);
  files_.push_back(std::move(file));
  File& added = files_.back();
  if (!write_all(added.partial.get(), text) || added.partial.close() != 0) {
    const int error = errno;
    added.partial.reset();
    throw OutputError(failure("write", partial_of(added.name), std::strerror(error)));
  }
  added.written = static_cast<off_t>(text.size());
  added.whole = true;
  return size() - 1;
}

// The partial file is made new, relative to its folder and never through a link: removed
// first (remove_partial), then created exclusively.
void OutputFiles::create_partial(File& file) {
  const std::string leaf = partial_of(file.path.filename().string());
  file.partial.reset(
      ::openat(file.folder, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0666));
  if (!file.partial && errno == EEXIST) {  // made meanwhile by someone else: made new again
    remove_partial(file);
    file.partial.reset(
        ::openat(file.folder, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | kOpenFlags, 0666));
  }
  if (!file.partial) {
    throw OutputError(failure("create", partial_of(file.name), std::strerror(errno)));
  }
  ::fcntl(file.partial.get(), F_SETFL, 0);  // back to blocking writes
  file.created = true;
}

const std::string& OutputFiles::name(int index) const {
  return files_.at(static_cast<std::size_t>(index)).name;
}

std::string OutputFiles::partial_name(int index) const { return partial_of(name(index)); }

const std::filesystem::path& OutputFiles::path(int index) const {
  return files_.at(static_cast<std::size_t>(index)).path;
}

std::filesystem::path OutputFiles::partial_path(int index) const {
  return partial_of(path(index).string());
}

bool OutputFiles::has_partial(int index) const {
  return files_.at(static_cast<std::size_t>(index)).created;
}

void OutputFiles::write(int index, std::string_view lines) {
  File& file = files_.at(static_cast<std::size_t>(index));
  if (!file.created && !ended_) {
    remove_partial(file);
    create_partial(file);
  }
  if (!file.partial) throw std::logic_error("the file " + file.name + " is closed");
  if (observer_) observer_(index, lines);
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

void OutputFiles::commit(bool flush, const std::function<void()>& placed) {
  if (committed_) throw std::logic_error("the files of a run are put in place only once");
  ended_ = true;
  for (File& file : files_) {
    if (file.partial) flush_pending(file);
  }
  flusher_.stop();
  if (flush) {
    // The disk writes the rest of every file at once, rather than one file after the other
    // as each is flushed below.
    for (File& file : files_) {
      if (file.partial) ::sync_file_range(file.partial.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
    }
  }
  for (File& file : files_) {
    if (!file.created) continue;
    const std::string partial = partial_of(file.name);
    if (file.whole && flush) {
      // Written and closed at once: opened again, never through a link, to be flushed.
      const std::string leaf = partial_of(file.path.filename().string());
      file.partial.reset(::openat(file.folder, leaf.c_str(), O_RDONLY | kOpenFlags));
      if (!file.partial) throw OutputError(failure("write", partial, std::strerror(errno)));
    }
    if (flush && file.partial && ::fsync(file.partial.get()) != 0) {
      throw OutputError(failure("write", partial, std::strerror(errno)));
    }
    if (file.partial.close() != 0) {
      throw OutputError(failure("write", partial, std::strerror(errno)));
    }
  }
  std::vector<CommitStep> steps;
  for (const File& file : files_) {
    if (file.created) steps.push_back({true, file.relative});
  }
  // A companion this run did not make: no earlier one of its name may stay beside the files
  // of this run.
  for (const File& file : files_) {
    if (!file.created) steps.push_back({false, file.relative});
  }
  {
    // A quit signal arrives either before the journal, with every earlier file as it was, or
    // after the journal is gone, with every new file in place.
    const QuitSignalsBlocked blocked;
    write_commit_journal(folder_fd_.get(), steps, flush);
    commit_begun_ = true;
    apply_commit_steps(folder_fd_.get(), steps, flush, false);
    remove_commit_journal(folder_fd_.get());
    committed_ = true;
    for (File& file : files_) file.earlier.reset();  // the earlier files are gone: their locks too
    if (placed) placed();
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
  for (const File& file : files_) {
    if (!file.created) continue;
    const std::string leaf = partial_of(file.path.filename().string());
    ::unlinkat(file.folder, leaf.c_str(), 0);
  }
  files_.clear();
}

}  // namespace kestrane
