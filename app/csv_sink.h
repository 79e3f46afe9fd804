// The CSV files of kestrane-batch: beside each coefficient file, the full double-precision
// coefficients of every processed record, one line per integration time and region.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dose/record_loop.h"
#include "input/dose_rate_file.h"
#include "input/run_tables.h"

namespace kestrane {

// "OUTPUT\DC" + age in days + data-set letter + ".csv", beside the coefficient file.
std::string csv_file_name(std::int32_t age_days, DataSet data_set);

// The shortest decimal text that reads back to the same double ("0.1", "1e-22", "365").
std::string shortest_double(double value);

// "nuclide,class,age_days,time_d,region,low,high", with "f1" in place of "class" for
// ingestion (no line end).
std::string csv_header(DataSet data_set);

// Appends the lines of one record, each ended by LF: for every integration time, for every
// selected region in selection order, the nuclide and class letter or f1 field with their
// blanks trimmed, the record's age in days, the time, the region name, the low and the high
// coefficient. A field holding a comma or a quote is quoted.
void append_csv_record(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                       std::span<const double> times, std::span<const std::string> region_names);

// A record sink that writes one CSV file per selected age group.
class CsvSink : public RecordSink {
 public:
  // Opens (creating where needed, but not yet emptying) the CSV file of every selected age
  // group under `working_dir`, making the OUTPUT folder when it is missing. `region_names`
  // holds the name of each selected region in selection order. Throws OutputError naming the
  // file; a file of an earlier run is then left as it was.
  CsvSink(const std::filesystem::path& working_dir, DataSet data_set,
          std::span<const int> age_groups, std::vector<double> times,
          std::vector<std::string> region_names);
  CsvSink(const CsvSink&) = delete;
  CsvSink& operator=(const CsvSink&) = delete;
  ~CsvSink() override;  // closes whatever is still open, without reporting

  // Empties every file and writes its header line. Called once the coefficient files of the
  // run are open too, so that a run refused at opening loses nothing of an earlier run.
  void start();

  // Appends the record's lines to the file of `position`. Throws OutputError when the
  // write fails.
  void record_done(int position, const HeaderRecord& header, const CoefficientTable& coef) override;

  // Writes out and closes every file. Throws OutputError naming a file that fails.
  void close();

  // Display names of the files, in selected-age order.
  std::vector<std::string> file_names() const;

 private:
  struct File {
    std::string name;
    std::FILE* stream = nullptr;
  };
  DataSet data_set_;
  std::vector<double> times_;
  std::vector<std::string> region_names_;
  std::vector<File> files_;
  std::string text_;  // the lines of the record being written
};

}  // namespace kestrane
