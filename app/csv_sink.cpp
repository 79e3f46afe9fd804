// The CSV files of kestrane-batch: full double-precision coefficients beside each
// coefficient file.
#include "app/csv_sink.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <system_error>

#include "output/coefficient_files.h"
#include "platform/file_services.h"

namespace kestrane {
namespace {

std::string_view trim_spaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

void append_field(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void append_double(std::string& out, double value) {
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}

std::string failure(const std::string& name, const char* what) {
  return "Unable to write the file " + name + ": " + what;
}

}  // namespace

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
  append_field(prefix, trim_spaces(header.nuclide));
  prefix += ',';
  append_field(prefix, trim_spaces(header.class_or_f1));
  prefix += ',';
  prefix += std::to_string(header.age_days);
  prefix += ',';
  for (std::size_t m = 0; m < times.size(); ++m) {
    for (std::size_t j = 0; j < region_names.size(); ++j) {
      out += prefix;
      append_double(out, times[m]);
      out += ',';
      append_field(out, region_names[j]);
      out += ',';
      append_double(out, coef.coef[0][j][m]);
      out += ',';
      append_double(out, coef.coef[1][j][m]);
      out += '\n';
    }
  }
}

CsvSink::CsvSink(const std::filesystem::path& working_dir, DataSet data_set,
                 std::span<const int> age_groups, std::vector<double> times,
                 std::vector<std::string> region_names)
    : data_set_(data_set), times_(std::move(times)), region_names_(std::move(region_names)) {
  std::error_code ignored;
  std::filesystem::create_directories(resolve_program_path(working_dir, "OUTPUT"), ignored);
  for (int group : age_groups) {
    File file;
    file.name = csv_file_name(kAgeGroups[static_cast<std::size_t>(group - 1)].days, data_set);
    const std::filesystem::path path = resolve_program_path(working_dir, file.name);
    // Append mode creates the file without emptying it; start() empties it.
    file.stream = std::fopen(path.c_str(), "ab");
    if (file.stream == nullptr) {
      const std::string reason = std::strerror(errno);
      for (File& opened : files_) std::fclose(opened.stream);
      files_.clear();
      throw OutputError("Unable to create the file " + file.name + ": " + reason);
    }
    files_.push_back(file);
  }
}

void CsvSink::start() {
  const std::string header = csv_header(data_set_) + "\n";
  for (File& file : files_) {
    if (::ftruncate(::fileno(file.stream), 0) != 0) {
      throw OutputError(failure(file.name, std::strerror(errno)));
    }
    if (std::fwrite(header.data(), 1, header.size(), file.stream) != header.size()) {
      throw OutputError(failure(file.name, std::strerror(errno)));
    }
  }
}

CsvSink::~CsvSink() {
  for (File& file : files_) {
    if (file.stream != nullptr) std::fclose(file.stream);
  }
}

void CsvSink::record_done(int position, const HeaderRecord& header, const CoefficientTable& coef) {
  File& file = files_.at(static_cast<std::size_t>(position));
  text_.clear();
  append_csv_record(text_, header, coef, times_, region_names_);
  if (std::fwrite(text_.data(), 1, text_.size(), file.stream) != text_.size()) {
    throw OutputError(failure(file.name, std::strerror(errno)));
  }
}

void CsvSink::close() {
  std::string error;
  for (File& file : files_) {
    if (file.stream == nullptr) continue;
    const bool failed = std::fflush(file.stream) != 0 || std::ferror(file.stream) != 0;
    const int saved = errno;
    const bool close_failed = std::fclose(file.stream) != 0;
    file.stream = nullptr;
    if ((failed || close_failed) && error.empty()) {
      error = failure(file.name, std::strerror(failed ? saved : errno));
    }
  }
  if (!error.empty()) throw OutputError(error);
}

std::vector<std::string> CsvSink::file_names() const {
  std::vector<std::string> names;
  for (const File& file : files_) names.push_back(file.name);
  return names;
}

}  // namespace kestrane
