// The dose-rate file made shorter by another program while a run maps it: the run stops with a
// message naming the file and the note of what it leaves, status 1, and no file put in place;
// a SIGBUS that no watched file explains still ends the process by the signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <ostream>
#include <streambuf>
#include <string>

#include "app/batch_run.h"
#include "app/progress_display.h"
#include "platform/mapped_input.h"
#include "sample/sample_data.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::write_file;

// Standard error that cuts `file` down to `size` bytes when the first character comes: the
// progress bar's first drawing, once the first record is processed and while most of the file
// is still to be read (the batches under way hold at most 16 MiB of it).
class CutOnFirstWrite : public std::streambuf {
 public:
  CutOnFirstWrite(fs::path file, std::uintmax_t size) : file_(std::move(file)), size_(size) {}

 protected:
  int_type overflow(int_type ch) override {
    if (!cut_) fs::resize_file(file_, size_);
    cut_ = true;
    return ch;
  }

 private:
  fs::path file_;
  std::uintmax_t size_;
  bool cut_ = false;
};

// Runs `child` in a forked process with standard error sent to `messages`; its exit status.
template <class Child>
int in_child(const fs::path& messages, Child child) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int fd = ::open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDERR_FILENO);
    child();
    ::_exit(99);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

class MappedInput : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrane_mapped_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(MappedInput, AFileCutShortWhileItIsReadStopsTheRunWithStatusOne) {
  write_sample_directory(dir, std::uint64_t{40} << 20, 7, SampleDataSets::inhalation);
  const fs::path drt = dir / "DATA" / "KVR13INH.DRT";
  write_file(dir / "OUTPUT" / "DC100h.OUT", "an earlier run\r\n");
  const fs::path messages = dir / "stderr.txt";
  const int status = in_child(messages, [&] {
    guard_mapped_inputs("kestrane-batch", progress_bar_drawn);
    BatchOptions options;
    options.data_set = DataSet::inhalation;
    options.ages = "all";
    options.regions = "all";
    options.dir = dir;
    CutOnFirstWrite cut(drt, 1 << 20);
    std::ostream err(&cut);
    std::ostream out(nullptr);
    run_batch(options, out, err, true);
  });
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::string said = read_file(messages);
  // After the progress bar's line, the message, then the note that names the partial files.
  const std::string stop =
      "\nkestrane-batch: DATA/KVR13INH.DRT became shorter while it was read (changed by another "
      "program); the run stopped.\n"
      "kestrane-batch: interrupted\n"
      "kestrane-batch: the earlier files are kept; the rows written are left in:";
  EXPECT_EQ(said.substr(0, stop.size()), stop) << said;
  EXPECT_NE(said.find((dir / "OUTPUT" / "DC7300h.OUT.partial").string()), std::string::npos);
  // Nothing was put in place: the earlier file is as it was, and no other is there.
  EXPECT_EQ(read_file(dir / "OUTPUT" / "DC100h.OUT"), "an earlier run\r\n");
  for (const auto& entry : fs::directory_iterator(dir / "OUTPUT")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "DC100h.OUT" || !name.ends_with(".OUT")) << name;
  }
}

TEST_F(MappedInput, ASigbusNoWatchedFileExplainsEndsTheProcessByTheSignal) {
  const fs::path file = dir / "whole.DRT";
  write_file(file, "a file as long as when it was opened\n");
  const fs::path messages = dir / "stderr.txt";
  const int status = in_child(messages, [&] {
    std::signal(SIGBUS, SIG_DFL);  // what comes before the guard (not a sanitizer's report)
    guard_mapped_inputs("kestrane-batch");
    const int fd = ::open(file.c_str(), O_RDONLY);
    const MappedInputWatch watch(fd, fs::file_size(file), "DATA\\whole.DRT");
    std::raise(SIGBUS);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << "exited with " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGBUS);
  EXPECT_EQ(read_file(messages).find("became shorter"), std::string::npos);
}

}  // namespace
}  // namespace kestrane
