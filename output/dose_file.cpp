// The dose files of a run: the equivalent and effective doses of every processed record.
#include "output/dose_file.h"

#include <utility>

#include "output/csv_file.h"

namespace kestrane {

std::string dose_file_name(std::int32_t age_days, DataSet data_set) {
  return "OUTPUT\\DC" + std::to_string(age_days) + data_set_letter(data_set) + "-dose.csv";
}

std::string dose_header(DataSet data_set) {
  return std::string("nuclide,") + (data_set == DataSet::inhalation ? "class" : "f1") +
         ",age_days,header_line,points,time_d,quantity,tissue,value";
}

DoseRows::DoseRows(DoseColumns sums, std::vector<std::string> tissue_names)
    : columns(std::move(sums)), tissues(std::move(tissue_names)) {
  for (std::size_t i = 0; i <= tissues.size(); ++i) {
    std::string middle = "equivalent,";
    append_csv_field(middle, i < tissues.size() ? std::string_view(tissues[i]) : kRemainderRowName);
    line_middles.push_back(middle + ',');
  }
  line_middles.emplace_back("effective,,");
}

void append_dose_record(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                        std::span<const double> times, const DoseRows& rows) {
  // The start of every line of a time: the record's fields and the time, with their commas.
  std::string start = csv_record_fields(header);
  const std::size_t record_part = start.size();
  // The values of one time, kept from record to record on each thread.
  thread_local std::vector<double> values;
  values.resize(rows.values());
  std::size_t middle_bytes = 0;
  for (const std::string& middle : rows.line_middles) middle_bytes += middle.size();
  // Room for every line: the starts, the middles, and the longest shortest form of each value.
  out.reserve(out.size() + times.size() * (values.size() * (record_part + 32) + middle_bytes));
  for (std::size_t m = 0; m < times.size(); ++m) {
    record_doses(rows.columns, coef, m, values);
    start.resize(record_part);
    append_shortest(start, times[m]);
    start += ',';
    for (std::size_t i = 0; i < values.size(); ++i) {
      out += start;
      out += rows.line_middles[i];
      append_shortest(out, values[i]);
      out += '\n';
    }
  }
}

DoseFiles::DoseFiles(OutputFiles& files, DataSet data_set, std::span<const int> age_groups)
    : files_(files) {
  const std::string header = dose_header(data_set) + "\n";
  for (const int group : age_groups) {
    const int index = files.add(
        dose_file_name(kAgeGroups.at(static_cast<std::size_t>(group - 1)).days, data_set));
    index_.push_back(index);
    files.write(index, header);
  }
}

void DoseFiles::write(int position, std::string_view lines) {
  files_.write(index_.at(static_cast<std::size_t>(position)), lines);
}

}  // namespace kestrane
