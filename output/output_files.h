// The files one run writes into OUTPUT, each written under a temporary name beside its final
// one and put in place of an earlier file only when the whole run has completed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "output/commit_journal.h"
#include "platform/file_services.h"

namespace kestrane {

// A file of the run that cannot be created, locked or written. The message names the file
// (as "OUTPUT\DC365h.OUT") and the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What is added to a file's name while the run writes it.
inline constexpr std::string_view kPartialSuffix = ".partial";

// Flushes files to the disk on a thread of its own while the run goes on, so that the flush
// at the end of the run has little left to wait for.
class BackgroundFlush {
 public:
  BackgroundFlush() = default;
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;
  ~BackgroundFlush();
  // Asks for file descriptor `fd` to be flushed; the thread starts with the first request
  // (where no thread can be started, nothing is flushed early). The descriptor must stay open
  // until stop() has returned.
  void request(int fd);
  // Drops the requests not yet begun, waits for the one under way and ends the thread; later
  // requests are ignored.
  void stop() noexcept;

 private:
  void run();
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<int> queue_;
  bool stopped_ = false;
  std::thread thread_;
};

// The files of one run. Each is written as its name + ".partial" in the same folder, made new
// (whatever stood at that name is removed, and the file is created with O_EXCL | O_NOFOLLOW
// relative to the folder, opened without following a link), so the run never writes through
// a link. commit() flushes them all to the disk, then writes a journal of the renames and
// removals to come (OUTPUT\kestrane.commit), carries them out and removes the journal, with the
// quit signals blocked throughout: until then an earlier file of the same name stays exactly
// as it was, whatever stops the run (a refusal, a failed write, a signal, even kill -9), and a
// run killed among the renames is completed by the next run on the folder. The OUTPUT folder
// is held by an advisory lock for the life of the object, which the kernel releases when the
// process ends however it ends.
class OutputFiles {
 public:
  // Makes the OUTPUT folder under `working_dir` (or `folder`, a folder of the user's own,
  // where the files named "OUTPUT\..." then go) when it is missing, takes its lock and
  // completes the commit of an earlier run that was cut short (see completed_commit()).
  // Throws OutputError when another run holds it or the folder cannot be made or used.
  explicit OutputFiles(const std::filesystem::path& working_dir,
                       const std::optional<std::filesystem::path>& folder = std::nullopt);
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;
  // Writes what is gathered and closes whatever is still open; partial files stay unless
  // discard() was called.
  ~OutputFiles();

  // The files an earlier run's interrupted commit had left to put in place and that this
  // object put there when it was made; -1 when there was no such commit.
  int completed_commit() const { return earlier_.completed; }
  // When the journal an earlier run left was set aside rather than completed, the line that
  // says so and why ("Set aside OUTPUT\kestrane.commit: it names ..."); otherwise empty.
  const std::string& set_aside_journal() const { return earlier_.set_aside; }

  // Adds the file of program name `name` ("OUTPUT\DC365h.OUT", or in a subfolder
  // "OUTPUT\plots\x.svg") and creates its partial file empty (replacing one a stopped run
  // left). An earlier file of that name must be a regular file that no other program holds
  // locked; its lock is held until the run ends. Returns the file's index. Throws OutputError
  // naming the file.
  int add(std::string name);
  // A companion of the run's files, such as the notes or the CSV file beside a coefficient
  // file: it exists only when this run makes it. Its partial file is made by its first write
  // (a partial file of the name that a stopped run left is removed here). When the run
  // completes without any write to it, no file is put in place and an earlier file of its
  // name is removed in the same commit, so that what stays always belongs to this run.
  int add_companion(std::string name);
  int add_optional(std::string name) { return add_companion(std::move(name)); }
  // Adds a file whose whole content is `text`, written and closed at once (pictures: many
  // small files, none held open). Returns its index. Throws OutputError naming the file.
  int add_whole(std::string name, std::string_view text);
  // Checks the subfolder `name` ("OUTPUT\plots") that files of the run will go to: throws
  // OutputError when it is a link or not a folder. A missing one is made with its first file.
  void add_folder(std::string_view name);

  int size() const { return static_cast<int>(files_.size()); }
  // The program name of file `index` ("OUTPUT\DC365h.OUT", or under another output folder
  // that folder's name in its place) and of its partial file.
  const std::string& name(int index) const;
  std::string partial_name(int index) const;
  // The host paths of file `index` and of its partial file under the working directory.
  const std::filesystem::path& path(int index) const;
  std::filesystem::path partial_path(int index) const;
  // Whether file `index` has its partial file: always, except a companion not yet written.
  bool has_partial(int index) const;

  // Appends `lines` (whole lines, each ending in LF or CR LF) to file `index`. The lines are
  // gathered and written in larger pieces, at the latest about 100 ms later, when the run
  // commits, or when it is abandoned. When a write fails, the file keeps exactly the whole
  // lines that fitted: what was written of the piece is taken back and its lines are written
  // again one at a time, and the failure of the line that does not fit is thrown as
  // OutputError.
  void write(int index, std::string_view lines);
  // `observer` sees the lines of every write(), with the file's index, in the order written
  // (the provenance files hash the files of the run so).
  void observe_writes(std::function<void(int, std::string_view)> observer) {
    observer_ = std::move(observer);
  }

  // Ends the run's writing: flushes every partial file to the disk (unless `flush` is false),
  // closes it, then, with SIGINT, SIGTERM, SIGHUP and SIGQUIT blocked, writes the journal,
  // renames every partial file into the place of its final name, removes every companion the
  // run did not make, flushes the folders, removes the journal and calls `placed` (may be
  // empty), before the signals are let through again. Throws OutputError naming the file when
  // any of it fails; before the journal is written every earlier file then stays as it was,
  // after it the next run completes the commit (see commit_begun()).
  void commit(bool flush = true, const std::function<void()>& placed = {});
  // Writes what each file has gathered and closes it where it stands: the partial files keep
  // every whole line that fits.
  void abandon() noexcept;
  // Closes and removes every partial file: for a run that stops before it processes.
  void discard() noexcept;

  bool committed() const { return committed_; }
  // Whether the journal of the commit was written: from then on the commit is completed,
  // by this run or the next.
  bool commit_begun() const { return commit_begun_; }

 private:
  struct File {
    std::string name;
    std::filesystem::path path;
    std::string relative;  // to OUTPUT, with '/' ("DC100h.OUT", "plots/x.svg")
    int folder = -1;       // the descriptor of its folder
    UniqueFd partial;      // the partial file, open for writing
    UniqueFd earlier;      // the earlier file of the final name, held locked; none when missing
    std::string pending;   // whole lines not yet handed to the kernel
    off_t written = 0;     // bytes in the partial file
    off_t writeback = 0;   // where the last background flush was asked for
    bool companion = false;
    bool created = false;  // its partial file was made
    bool whole = false;    // written whole and closed at once; flushed at the commit
  };
  void write_out(File& file, std::string_view lines);
  void flush_pending(File& file);
  File make_file(std::string name);
  int add_file(std::string name, bool companion);
  void check_earlier(File& file, bool hold);
  void remove_partial(const File& file);
  void create_partial(File& file);
  void write_line_by_line(File& file, std::string_view lines);
  int folder_fd(std::string_view relative_folder, std::string_view display, bool make);
  std::pair<std::filesystem::path, std::string> place(std::string_view name) const;
  std::filesystem::path working_dir_;
  std::filesystem::path folder_;
  std::string shown_ = "OUTPUT";  // how messages name the folder
  UniqueFd folder_fd_;
  std::vector<std::pair<std::string, UniqueFd>> subfolders_;
  UniqueFd lock_;
  std::vector<File> files_;
  std::function<void(int, std::string_view)> observer_;
  BackgroundFlush flusher_;
  std::chrono::steady_clock::time_point last_flush_{};  // of every file's gathered rows
  EarlierJournal earlier_;
  bool committed_ = false;
  bool commit_begun_ = false;
  bool ended_ = false;  // committed or abandoned: no more writes
};

}  // namespace kestrane
