// The CSV files of a run: full double-precision coefficients beside each coefficient file.
#include "output/csv_file.h"

#include <charconv>

namespace kestrane {
namespace {

void append_double(std::string& out, double value) {
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}

}  // namespace

std::string_view trim_spaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

void append_csv_field(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

std::string csv_file_name(std::int32_t age_days, DataSet data_set) {
  return "OUTPUT\\DC" + std::to_string(age_days) + data_set_letter(data_set) + ".csv";
}

std::string shortest_double(double value) {
  std::string text;
  append_double(text, value);
  return text;
}

std::string csv_header(DataSet data_set) {
  return data_set == DataSet::inhalation ? "nuclide,class,age_days,time_d,region,low,high"
                                         : "nuclide,f1,age_days,time_d,region,low,high";
}

void append_csv_record(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                       std::span<const double> times, std::span<const std::string> region_names) {
  std::string prefix;
  append_csv_field(prefix, trim_spaces(header.nuclide));
  prefix += ',';
  append_csv_field(prefix, trim_spaces(header.class_or_f1));
  prefix += ',';
  prefix += std::to_string(header.age_days);
  prefix += ',';
  for (std::size_t m = 0; m < times.size(); ++m) {
    for (std::size_t j = 0; j < region_names.size(); ++j) {
      out += prefix;
      append_double(out, times[m]);
      out += ',';
      append_csv_field(out, region_names[j]);
      out += ',';
      append_double(out, coef.coef[0][j][m]);
      out += ',';
      append_double(out, coef.coef[1][j][m]);
      out += '\n';
    }
  }
}

CsvFiles::CsvFiles(OutputFiles& files, DataSet data_set, std::span<const int> age_groups,
                   std::vector<double> times, std::vector<std::string> region_names)
    : files_(files), times_(std::move(times)), region_names_(std::move(region_names)) {
  const std::string header = csv_header(data_set) + "\n";
  for (const int group : age_groups) {
    const int index =
        files.add(csv_file_name(kAgeGroups.at(static_cast<std::size_t>(group - 1)).days, data_set));
    index_.push_back(index);
    files.write(index, header);
  }
}

void CsvFiles::record_done(int position, const HeaderRecord& header, const CoefficientTable& coef) {
  text_.clear();
  append_csv_record(text_, header, coef, times_, region_names_);
  files_.write(index_.at(static_cast<std::size_t>(position)), text_);
}

}  // namespace kestrane
