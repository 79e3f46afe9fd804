// File services: the program's paths, written with backslashes ("data\Kestrane.ini"),
// resolved in a working directory with each name matched without regard to letter case.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace kestrane {

// The host path of `program_path` under `working_dir`: each backslash-separated name is
// matched to an entry of its folder without regard to case (an exact match wins). Where a
// name has no match, it and the rest are kept as written, so the result can be created.
std::filesystem::path resolve_program_path(const std::filesystem::path& working_dir,
                                           std::string_view program_path);

// True only when `program_path` names an existing regular file (after resolving).
bool program_file_exists(const std::filesystem::path& working_dir, std::string_view program_path);

}  // namespace kestrane
