// kestrane-batch: Kestrane's computation for scripts and pipelines, without the dialogue.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

#include "app/batch_options.h"
#include "app/batch_run.h"

namespace {

// Flushes standard output and, as GNU tools do, turns a failed write there (a full disk, a
// closed pipe) into a message and status 1: the list of files written must not be lost
// silently. A run that failed already keeps its own status. Where the write failed before (a
// flush of --version, say), errno still tells why unless a later call has changed it to
// something no write gives.
int finish_standard_output(int status) {
  const int earlier = errno;
  const bool failed_before = !std::cout || std::ferror(stdout) != 0;
  errno = 0;
  std::cout.flush();
  const bool failed =
      failed_before || !std::cout || std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  if (!failed) return status;
  const int error = failed_before ? earlier : errno;
  const bool known = error == ENOSPC || error == EDQUOT || error == EFBIG || error == EIO ||
                     error == EPIPE || error == EBADF || error == ENXIO;
  std::cerr << "kestrane-batch: write error on standard output"
            << (known ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
  return status == 0 ? 1 : status;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    int status = 0;
    const auto options =
        kestrane::parse_batch_command_line(argc, argv, std::cout, std::cerr, status);
    if (!options) return finish_standard_output(status);
    return finish_standard_output(
        kestrane::run_batch(*options, std::cout, std::cerr, isatty(STDERR_FILENO) == 1));
  } catch (const std::exception& error) {
    // Every stop of a run has its own message and status 1; anything else is a fault of the
    // program or its surroundings (memory, the file system), said plainly rather than aborted.
    std::cerr << "kestrane-batch: unexpected failure: " << error.what() << "\n";
    return 3;
  }
}
