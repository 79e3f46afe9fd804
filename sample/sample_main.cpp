// kestrane-sample: writes a working directory with synthetic dose-rate files, the
// integration-times file and an OUTPUT folder, for trying Kestrane and for benchmarks.
#include <csignal>
#include <exception>
#include <iostream>

#include "platform/standard_output.h"
#include "sample/sample_command.h"

int main(int argc, char** argv) {
  // A file-size limit (ulimit -f) fails the write past it with EFBIG, a write error said with
  // its reason like a full disk's, rather than killing the program unsaid.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    return kestrane::finish_standard_output(
        "kestrane-sample", kestrane::run_sample_command(argc, argv, ".", std::cout, std::cerr),
        std::cerr);
  } catch (const std::exception& error) {
    std::cerr << "kestrane-sample: unexpected failure: " << error.what() << "\n";
    return 3;
  }
}
