// Checking standard output at the end of a command-line program.
#include "platform/standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace kestrane {

// Where the write failed before (a flush of --version, say), errno still tells why unless a
// later call has changed it to something no write gives; the reason is then left out.
int finish_standard_output(std::string_view program, int status, std::ostream& err) {
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
  err << program << ": write error on standard output"
      << (known ? std::string(": ") + std::strerror(error) : std::string()) << "\n";
  return status == 0 ? 1 : status;
}

}  // namespace kestrane
