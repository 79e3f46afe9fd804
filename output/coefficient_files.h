// The coefficient files of a run: names, opening and locking, headings and coefficient rows.
#pragma once

#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "input/run_tables.h"

namespace kestrane {

// A coefficient file that cannot be created, locked or written. The message names the
// file (as "OUTPUT\DC365h.OUT") and the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "OUTPUT\DC" + age in days + data-set letter + ".OUT".
std::string coefficient_file_name(std::int32_t age_days, DataSet data_set);

// `s` centred in `width` columns; cut to its first `width` characters when too long.
std::string center_text(std::string_view s, int width);

// The three heading lines of a coefficient file (without line ends). `region_names` holds
// the name of each selected region in selection order.
std::vector<std::string> coefficient_headers(DataSet data_set, int age_group,
                                             std::span<const std::string> region_names);

// The rows of one processed record (without line ends): one per integration time, and one
// even when `times` is empty (time and coefficients then 0). Numbers are narrowed to
// 32-bit floating point before they are formatted.
std::vector<std::string> coefficient_rows(DataSet data_set, std::string_view header_line,
                                          const CoefficientTable& coef,
                                          std::span<const double> times, int region_count);

// The rows of one processed record, as coefficient_rows gives them, each followed by CR LF,
// in one text: what the row writers append to the file. Touches no shared state, so records
// can be formatted on several threads at once.
std::string coefficient_block(DataSet data_set, std::string_view header_line,
                              const CoefficientTable& coef, std::span<const double> times,
                              int region_count);

// The open coefficient files of a run, one per selected age, in selected-age order.
// Files are held under an exclusive advisory lock while open. Every write reaches the file
// at once (no buffering), so a run that stops keeps every finished row.
class CoefficientFiles {
 public:
  CoefficientFiles() = default;
  CoefficientFiles(CoefficientFiles&&) noexcept;
  CoefficientFiles& operator=(CoefficientFiles&&) noexcept;
  CoefficientFiles(const CoefficientFiles&) = delete;
  CoefficientFiles& operator=(const CoefficientFiles&) = delete;
  ~CoefficientFiles();  // closes whatever is still open

  // Number of files and the display name of file `position` (0-based).
  int size() const;
  const std::string& name(int position) const;
  // "Files written: " followed by each name and one blank.
  std::string written_files_line() const;

  void write_coefficient_headers(DataSet data_set, std::span<const int> age_groups,
                                 std::span<const std::string> region_names);
  // Appends the rows of one record to file `position` (0-based).
  void write_inhalation_rows(int position, std::string_view header_line,
                             const CoefficientTable& coef, std::span<const double> times,
                             int region_count);
  void write_ingestion_rows(int position, std::string_view header_line,
                            const CoefficientTable& coef, std::span<const double> times,
                            int region_count);
  // Appends a block of whole lines, each ended by CR LF (as coefficient_block makes them), to
  // file `position` in one write. When that write fails the file keeps what writing the lines
  // one at a time would have kept: the block is taken back and written again line by line,
  // and the failure of the line that fails is thrown.
  void write_block(int position, std::string_view block);
  // Closes every file, setting its end at its current length. Throws OutputError when a
  // file cannot be closed cleanly.
  void close_all();

 private:
  friend CoefficientFiles open_coefficient_files(const std::filesystem::path&, DataSet,
                                                 std::span<const int>);
  struct File {
    std::string name;  // display name, "OUTPUT\DC365h.OUT"
    int fd = -1;
  };
  void write_line(int position, std::string_view text);
  std::vector<File> files_;
};

// Creates (when missing) the OUTPUT folder under `working_dir` and opens one coefficient
// file per selected age group (`age_groups` holds group numbers 1..6), in that order.
// Every file is opened and locked before any is emptied: when one fails, OutputError names
// it and no existing file has been changed.
CoefficientFiles open_coefficient_files(const std::filesystem::path& working_dir, DataSet data_set,
                                        std::span<const int> age_groups);

}  // namespace kestrane
