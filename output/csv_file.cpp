// The CSV files of a run: full double-precision coefficients beside each coefficient file.
#include "output/csv_file.h"

#include <charconv>
#include <vector>

#include "base/ascii.h"
#include "output/notes_file.h"

namespace kestrane {

void append_shortest(std::string& out, double value) {
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}

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
  append_shortest(text, value);
  return text;
}

std::string csv_header(DataSet data_set) {
  return std::string("nuclide,") + (data_set == DataSet::inhalation ? "class" : "f1") +
         ",age_days,header_line,points,time_d,region,low,high,low_share_outside,"
         "high_share_outside";
}

std::array<bool, 2> record_tables(const HeaderRecord& header) {
  if (header.tables == RecordTables::both) return {true, true};
  const bool low = header.tables == RecordTables::low;
  return {low, !low};
}

std::string csv_record_fields(const HeaderRecord& header) {
  std::string fields;
  append_csv_field(fields, trim_spaces(header.nuclide));
  fields += ',';
  append_csv_field(fields, trim_spaces(header.class_or_f1));
  fields += ',';
  fields += std::to_string(header.age_days);
  fields += ',';
  fields += std::to_string(header.line_number);
  fields += ',';
  fields += std::to_string(header.n);
  fields += ',';
  return fields;
}

void append_csv_record(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                       std::span<const double> times, std::span<const std::string> region_names) {
  const std::string prefix = csv_record_fields(header);
  const std::array<bool, 2> carried = record_tables(header);
  // The region fields, each with its comma, are the same on every time's lines: made once.
  std::string regions;
  std::vector<std::size_t> region_ends;
  region_ends.reserve(region_names.size());
  for (const std::string& name : region_names) {
    append_csv_field(regions, name);
    regions += ',';
    region_ends.push_back(regions.size());
  }
  std::string line_start;
  for (std::size_t m = 0; m < times.size(); ++m) {
    // The start of every line of this time: the record's fields and the time.
    line_start = prefix;
    append_shortest(line_start, times[m]);
    line_start += ',';
    for (std::size_t j = 0; j < region_names.size(); ++j) {
      out += line_start;
      const std::size_t region_start = j == 0 ? 0 : region_ends[j - 1];
      out.append(regions, region_start, region_ends[j] - region_start);
      for (std::size_t t = 0; t < 2; ++t) {
        if (carried[t]) append_shortest(out, coef.coef[t][j][m]);
        out += ',';
      }
      for (std::size_t t = 0; t < 2; ++t) {
        if (carried[t] && coef.integrated[t]) {
          append_shortest(out, share_outside(coef.coef[t][j][m], coef.outside[t][j][m]));
        }
        out += t == 0 ? ',' : '\n';
      }
    }
  }
}

CsvFiles::CsvFiles(OutputFiles& files, DataSet data_set, std::span<const int> age_groups,
                   PositionTimes times, std::vector<std::string> region_names)
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
  append_csv_record(text_, header, coef, times_.of(position), region_names_);
  files_.write(index_.at(static_cast<std::size_t>(position)), text_);
}

}  // namespace kestrane
