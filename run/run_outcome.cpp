// The files of a run's outcome by kind, and the stop of a refused input file.
#include "run/run_outcome.h"

namespace kestrane {

std::vector<RunFile> RunOutcome::of_kind(FileKind kind) const {
  std::vector<RunFile> list;
  for (const RunFile& file : files) {
    if (file.kind == kind) list.push_back(file);
  }
  return list;
}

RunStop refused_input(const InputError& error, std::string_view file,
                      const std::filesystem::path& path) {
  const StopDetails details = stop_details(error, file);
  RunStop stop;
  stop.kind = details.kind;
  stop.file = details.file;
  stop.path = path;
  stop.line = details.line;
  stop.record = details.record;
  stop.reason = details.reason;
  stop.message = details.message;
  return stop;
}

}  // namespace kestrane
