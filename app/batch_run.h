// One run of kestrane-batch: the files of the interactive program, the choice from the
// command line, the shared processing, and every stop as a message on standard error.
#pragma once

#include <ostream>

#include "app/batch_options.h"

namespace kestrane {

// Runs the choice of `options`: reads the integration times and the dose-rate file under
// options.dir, writes the coefficient files (and the CSV files with options.csv, the pictures
// with options.plot) and lists every file written on `out`, one path per line with `/`
// separators, as it can be opened from the current directory, once they are in place and
// before a quit signal can end the run. A stop of the run writes its message to `err`, every
// line beginning with "kestrane-batch: ". SIGINT, SIGTERM, SIGHUP or SIGQUIT while the files
// are written ends the process by the signal, after a note on standard error of the partial
// files left or, after the commit, of the files in place; with
// `progress_bar` a progress line is drawn on `err` while the records are read. Returns
// kBatchCompleted, kBatchStopped, or kBatchUsageError for a list that cannot be read.
int run_batch(const BatchOptions& options, std::ostream& out, std::ostream& err, bool progress_bar);

}  // namespace kestrane
