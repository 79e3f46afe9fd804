// The coefficient files of a run: names, headings and the coefficient rows of both data sets.
#include "output/coefficient_files.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "output/format_using_float.h"

namespace kestrane {
namespace {

constexpr int kNameWidth = 18;

// `v` as the nearest 32-bit value, ties to even; beyond the largest one it becomes infinite
// as single precision overflows. Written out so the conversion never leaves the float range.
float narrow_to_float(double v) {
  constexpr float kLargest = std::numeric_limits<float>::max();
  if (std::fabs(v) <= kLargest) return static_cast<float>(v);  // the usual case
  if (std::isnan(v)) return std::numeric_limits<float>::quiet_NaN();
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  if (std::fabs(v) >= kCoefficientFileLimit) return v < 0 ? -kInfinity : kInfinity;
  return v < 0 ? -kLargest : kLargest;
}

// Columns `from` to `to` (1-based, inclusive) of `line`, as far as the line reaches.
std::string_view columns(std::string_view line, std::size_t from, std::size_t to) {
  if (line.size() < from) return {};
  return line.substr(from - 1, to - from + 1);
}

const AgeGroup& age_group_of(int group) {
  if (group < 1 || group > kAgeGroupCount) {
    throw std::invalid_argument("age group " + std::to_string(group) + " is not 1 to 6");
  }
  return kAgeGroups[static_cast<std::size_t>(group - 1)];
}

}  // namespace

std::string coefficient_file_name(std::int32_t age_days, DataSet data_set) {
  return "OUTPUT\\DC" + std::to_string(age_days) + data_set_letter(data_set) + ".OUT";
}

std::string center_text(std::string_view s, int width) {
  const std::size_t w = static_cast<std::size_t>(std::max(width, 0));
  const std::size_t first = s.find_first_not_of(' ');
  const std::size_t trimmed = first == std::string_view::npos ? 0 : s.size() - first;
  if (trimmed >= w) return std::string(s.substr(0, w));
  // Even when leading blanks make `s` itself longer than the width, it is kept whole.
  const long margin = (static_cast<long>(w) - static_cast<long>(s.size())) / 2;
  std::string t(static_cast<std::size_t>(std::max(margin, 0L)), ' ');
  t += s;
  if (t.size() < w) t.append(w - t.size(), ' ');
  return t;
}

std::vector<std::string> coefficient_headers(DataSet data_set, int age_group,
                                             std::span<const std::string> region_names) {
  const bool inhalation = data_set == DataSet::inhalation;
  std::vector<std::string> lines(3);
  lines[0] = std::string(inhalation ? "Inhalation" : "Ingestion") + " Data Set For " +
             std::string(age_group_of(age_group).label);
  lines[1] = std::string(inhalation ? 11 : 17, ' ') + "Time ";
  lines[2] = inhalation ? std::string(12, ' ') + "(d)  " : std::string(9, ' ') + "  f1     (d)  ";
  for (const std::string& name : region_names) {
    lines[1] += center_text(name, kNameWidth);
    lines[1] += ' ';
    lines[2] += "  low      high    ";
  }
  return lines;
}

std::string coefficient_block(DataSet data_set, std::string_view header_line,
                              const CoefficientTable& coef, std::span<const double> times,
                              int region_count) {
  if (region_count < 0 || region_count > kMaxSelectedRegions) {
    throw std::invalid_argument("region count " + std::to_string(region_count) + " out of range");
  }
  if (times.size() > static_cast<std::size_t>(kMaxIntegrationTimes)) {
    throw std::invalid_argument("more integration times than the coefficient table holds");
  }
  const bool inhalation = data_set == DataSet::inhalation;
  const auto regions = static_cast<std::size_t>(region_count);
  const std::size_t row_count = std::max<std::size_t>(times.size(), 1);
  // Each row: at most 15 characters before the time, the time, a pair of fields and a blank
  // per region, CR LF. The fields are those of the masks "##.#^^^^" (the time) and
  // "##.##^^^^##.##^^^^ " (each region's pair), written by the fields' own path.
  const std::size_t row_room = 15 + kFloatFieldRoom + regions * (2 * kFloatFieldRoom + 1) + 2;
  std::string block(row_count * row_room, ' ');
  char* t = block.data();
  const auto put = [&t](std::string_view text) { t = std::copy(text.begin(), text.end(), t); };
  for (std::size_t m = 0; m < row_count; ++m) {
    if (m > 0) {
      t += inhalation ? 9 : 15;  // the block starts out blank
    } else if (inhalation) {     // nuclide name and class letter, copied as they stand
      put(columns(header_line, 1, 7));
      put(columns(header_line, 19, 19));
      *t++ = ' ';
    } else {  // nuclide name and f1 field
      put(columns(header_line, 1, 7));
      *t++ = ' ';
      put(columns(header_line, 14, 20));
    }
    const bool zero = times.empty();
    t = write_time_field(zero ? 0.0f : narrow_to_float(times[m]), t);
    for (std::size_t j = 0; j < regions; ++j) {
      t = write_coefficient_field(zero ? 0.0f : narrow_to_float(coef.coef[0][j][m]), t);
      t = write_coefficient_field(zero ? 0.0f : narrow_to_float(coef.coef[1][j][m]), t);
      *t++ = ' ';
    }
    *t++ = '\r';
    *t++ = '\n';
  }
  block.resize(static_cast<std::size_t>(t - block.data()));
  return block;
}

const std::string& CoefficientFiles::name(int position) const {
  return files_->name(index_.at(static_cast<std::size_t>(position)));
}

std::string written_files_line(const std::vector<std::string>& names) {
  std::string line = "Files written: ";
  for (const std::string& name : names) {
    line += name;
    line += ' ';
  }
  return line;
}

std::string CoefficientFiles::written_files_line() const {
  std::vector<std::string> names;
  for (int position = 0; position < size(); ++position) names.push_back(name(position));
  return kestrane::written_files_line(names);
}

void CoefficientFiles::write_block(int position, std::string_view block) {
  files_->write(index_.at(static_cast<std::size_t>(position)), block);
}

void CoefficientFiles::write_coefficient_headers(DataSet data_set, std::span<const int> age_groups,
                                                 std::span<const std::string> region_names) {
  if (age_groups.size() != index_.size()) {
    throw std::invalid_argument("one age group is needed for each coefficient file");
  }
  for (std::size_t k = 0; k < index_.size(); ++k) {
    std::string lines;
    for (const std::string& line : coefficient_headers(data_set, age_groups[k], region_names)) {
      lines += line;
      lines += "\r\n";
    }
    write_block(static_cast<int>(k), lines);
  }
}

CoefficientFiles open_coefficient_files(OutputFiles& files, DataSet data_set,
                                        std::span<const int> age_groups) {
  for (std::size_t k = 0; k < age_groups.size(); ++k) {
    age_group_of(age_groups[k]);
    if (std::find(age_groups.begin(), age_groups.begin() + static_cast<long>(k), age_groups[k]) !=
        age_groups.begin() + static_cast<long>(k)) {
      throw std::invalid_argument("age group " + std::to_string(age_groups[k]) + " given twice");
    }
  }
  CoefficientFiles coefficient_files;
  coefficient_files.files_ = &files;
  for (const int group : age_groups) {
    coefficient_files.index_.push_back(
        files.add(coefficient_file_name(age_group_of(group).days, data_set)));
  }
  return coefficient_files;
}

}  // namespace kestrane
