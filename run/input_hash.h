// The dose-rate file's SHA-256 for the provenance files: the one an earlier run took of the
// same unchanged file, found in the input hash cache by the stamp of the file opened, or one
// worked out from every byte the run reads; and, at the end of the run, what the provenance
// files say of the file and what is remembered of it for later runs.
#pragma once

#include "input/line_reader.h"
#include "output/provenance.h"
#include "run/run_request.h"

namespace kestrane {

// Takes the stamp of the file `reader` has open (fstat on its descriptor, whatever its path
// names meanwhile) into `source`, with the hash the cache remembers for it; where there is
// none, the reader hands every byte it reads to a hash of `source`'s own.
void hash_input_as_read(RunSource& source, LineReader& reader);

// The dose-rate file's size and hash for its provenance entry. The stamp of the file read is
// compared with the stamp its path has now: only when they agree (the path still names that
// file, unchanged) is a hash worked out from every byte of it remembered for later runs, or a
// remembered one given (else the hash is given as unknown).
void describe_input(const RunSource& source, ProvenanceEntry& input, bool& hashed_in_run);

}  // namespace kestrane
