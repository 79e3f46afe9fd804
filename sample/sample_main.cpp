// kestrane-sample: writes a working directory with synthetic dose-rate files, the
// integration-times file and an OUTPUT folder, for trying Kestrane and for benchmarks.
#include <exception>
#include <iostream>

#include "platform/standard_output.h"
#include "sample/sample_command.h"

int main(int argc, char** argv) {
  try {
    return kestrane::finish_standard_output(
        "kestrane-sample", kestrane::run_sample_command(argc, argv, ".", std::cout, std::cerr),
        std::cerr);
  } catch (const std::exception& error) {
    std::cerr << "kestrane-sample: unexpected failure: " << error.what() << "\n";
    return 3;
  }
}
