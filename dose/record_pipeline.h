// The thread pipeline of the record loop: the records of a run read on the calling thread and
// computed on worker threads, handed on in file order.
#pragma once

#include "dose/record_loop.h"

namespace kestrane {

// process_records with `workers` worker threads (at least 1) besides the calling thread: the
// sink and the progress observer see the same calls in the same order as on one thread, on
// the calling thread only; the sink's prepare() may run on any thread.
void process_in_pipeline(LineReader& reader, const RunSetup& setup, RecordSink& sink,
                         ProgressObserver* progress, int workers);

}  // namespace kestrane
