// The dose files of a run: the equivalent and effective doses of every processed record.
#include "output/dose_file.h"

#include <array>
#include <charconv>

#include "output/csv_file.h"

namespace kestrane {
namespace {

void append_number(std::string& out, double value) {
  std::array<char, 32> buf{};
  const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value);
  out.append(buf.data(), result.ptr);
}

}  // namespace

std::string dose_file_name(std::int32_t age_days, DataSet data_set) {
  return "OUTPUT\\DC" + std::to_string(age_days) + data_set_letter(data_set) + "-dose.csv";
}

std::string dose_header(DataSet data_set) {
  return std::string("nuclide,") + (data_set == DataSet::inhalation ? "class" : "f1") +
         ",age_days,header_line,points,time_d,quantity,tissue,value";
}

void append_dose_record(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                        std::span<const double> times, const DoseRows& rows) {
  std::string prefix;
  append_csv_field(prefix, trim_spaces(header.nuclide));
  prefix += ',';
  append_csv_field(prefix, trim_spaces(header.class_or_f1));
  prefix += ',';
  prefix += std::to_string(header.age_days);
  prefix += ',';
  prefix += std::to_string(header.line_number);
  prefix += ',';
  prefix += std::to_string(header.n);
  prefix += ',';
  // At most the tissues, the remainder and the effective dose of one time.
  std::vector<double> values(rows.values());
  std::string line_start;
  for (std::size_t m = 0; m < times.size(); ++m) {
    record_doses(rows.columns, coef, m, values);
    line_start = prefix;
    append_number(line_start, times[m]);
    line_start += ',';
    for (std::size_t i = 0; i + 1 < values.size(); ++i) {
      out += line_start;
      out += "equivalent,";
      append_csv_field(
          out, i < rows.tissues.size() ? std::string_view(rows.tissues[i]) : kRemainderRowName);
      out += ',';
      append_number(out, values[i]);
      out += '\n';
    }
    out += line_start;
    out += "effective,,";
    append_number(out, values.back());
    out += '\n';
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
