// A kestrane-batch run inside a test: the options run as the program runs them, with what it
// writes to standard output and standard error kept as text.
#pragma once

#include <sstream>
#include <string>

#include "app/batch_run.h"

namespace kestrane::test {

// Runs `options` as kestrane-batch does, keeps its output in `out` and `err`, and returns its
// exit status.
inline int run_batch_captured(const BatchOptions& options, std::string& out, std::string& err,
                              bool progress_bar = false) {
  std::ostringstream o;
  std::ostringstream e;
  const int status = run_batch(options, o, e, progress_bar);
  out = o.str();
  err = e.str();
  return status;
}

}  // namespace kestrane::test
