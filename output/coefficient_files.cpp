// The coefficient files of a run: names, opening and locking, headings and coefficient rows.
#include "output/coefficient_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "output/format_using.h"
#include "platform/file_services.h"

namespace kestrane {
namespace {

constexpr std::string_view kTimeMask = "##.#^^^^";
constexpr std::string_view kPairMask = "##.##^^^^##.##^^^^ ";
constexpr int kNameWidth = 18;

// `v` as the nearest 32-bit value, ties to even; beyond the largest one it becomes infinite
// as single precision overflows. Written out so the conversion never leaves the float range.
double narrow_to_float(double v) {
  if (!std::isfinite(v)) return v;
  constexpr double kLargest = std::numeric_limits<float>::max();
  constexpr double kOverflow = 0x1.ffffffp127;  // halfway from the largest to 2^128
  if (std::fabs(v) >= kOverflow) return std::copysign(std::numeric_limits<double>::infinity(), v);
  if (std::fabs(v) > kLargest) return std::copysign(kLargest, v);
  return static_cast<double>(static_cast<float>(v));
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

std::string failure(std::string_view what, const std::string& name, std::string_view reason) {
  return "Unable to " + std::string(what) + " the file " + name + ": " + std::string(reason);
}

// Writes all of `text` at the current offset of `fd`; false with errno set when it fails.
bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
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

std::vector<std::string> coefficient_rows(DataSet data_set, std::string_view header_line,
                                          const CoefficientTable& coef,
                                          std::span<const double> times, int region_count) {
  // The block's lines end in CR LF and hold no CR of their own: the header line is one line
  // of the dose-rate file, and a CR ends a line there.
  const std::string block = coefficient_block(data_set, header_line, coef, times, region_count);
  std::vector<std::string> rows;
  for (std::size_t start = 0; start < block.size();) {
    const std::size_t end = block.find("\r\n", start);
    rows.emplace_back(block, start, end - start);
    start = end + 2;
  }
  return rows;
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
  std::string block;
  block.reserve(row_count * (26 + 19 * regions));
  // The pairs of a row go to the mask in one list: a list longer than the mask starts it
  // again, so the text is that of one mask per pair, with the mask read once per row.
  std::array<double, 2 * kMaxSelectedRegions> pairs;
  for (std::size_t m = 0; m < row_count; ++m) {
    if (m > 0) {
      block.append(inhalation ? 9 : 15, ' ');
    } else if (inhalation) {  // nuclide name and class letter, copied as they stand
      block += columns(header_line, 1, 7);
      block += columns(header_line, 19, 19);
      block += ' ';
    } else {  // nuclide name and f1 field
      block += columns(header_line, 1, 7);
      block += ' ';
      block += columns(header_line, 14, 20);
    }
    const bool zero = times.empty();
    block += format_using(kTimeMask, {zero ? 0.0 : narrow_to_float(times[m])});
    for (std::size_t j = 0; j < regions; ++j) {
      pairs[2 * j] = zero ? 0.0 : narrow_to_float(coef.coef[0][j][m]);
      pairs[2 * j + 1] = zero ? 0.0 : narrow_to_float(coef.coef[1][j][m]);
    }
    block += format_using(kPairMask, std::span<const double>(pairs.data(), 2 * regions));
    block += "\r\n";
  }
  return block;
}

CoefficientFiles::CoefficientFiles(CoefficientFiles&& other) noexcept
    : files_(std::move(other.files_)) {
  other.files_.clear();
}

CoefficientFiles& CoefficientFiles::operator=(CoefficientFiles&& other) noexcept {
  if (this != &other) {
    for (File& file : files_) {
      if (file.fd >= 0) ::close(file.fd);
    }
    files_ = std::move(other.files_);
    other.files_.clear();
  }
  return *this;
}

CoefficientFiles::~CoefficientFiles() {
  for (File& file : files_) {
    if (file.fd >= 0) ::close(file.fd);  // closing also releases the lock
  }
}

int CoefficientFiles::size() const { return static_cast<int>(files_.size()); }

const std::string& CoefficientFiles::name(int position) const {
  return files_.at(static_cast<std::size_t>(position)).name;
}

std::string CoefficientFiles::written_files_line() const {
  std::string line = "Files written: ";
  for (const File& file : files_) {
    line += file.name;
    line += ' ';
  }
  return line;
}

// One line and its CR LF in a single write, so that the line reaches the file at once. A
// write that fails half way is taken back, so the file ends with its last whole line.
void CoefficientFiles::write_line(int position, std::string_view text) {
  const File& file = files_.at(static_cast<std::size_t>(position));
  if (file.fd < 0) throw std::logic_error("the coefficient file " + file.name + " is closed");
  std::string line;
  line.reserve(text.size() + 2);
  line += text;
  line += "\r\n";
  const off_t start = ::lseek(file.fd, 0, SEEK_CUR);
  if (!write_all(file.fd, line)) {
    const int error = errno;
    if (start >= 0 && ::ftruncate(file.fd, start) == 0) ::lseek(file.fd, start, SEEK_SET);
    throw OutputError(failure("write", file.name, std::strerror(error)));
  }
}

void CoefficientFiles::write_block(int position, std::string_view block) {
  const File& file = files_.at(static_cast<std::size_t>(position));
  if (file.fd < 0) throw std::logic_error("the coefficient file " + file.name + " is closed");
  const off_t start = ::lseek(file.fd, 0, SEEK_CUR);
  if (write_all(file.fd, block)) return;
  const int error = errno;
  if (start < 0 || ::ftruncate(file.fd, start) != 0 || ::lseek(file.fd, start, SEEK_SET) != start) {
    throw OutputError(failure("write", file.name, std::strerror(error)));
  }
  while (!block.empty()) {
    const std::size_t end = std::min(block.find("\r\n"), block.size());
    write_line(position, block.substr(0, end));
    block.remove_prefix(std::min(end + 2, block.size()));
  }
}

void CoefficientFiles::write_coefficient_headers(DataSet data_set, std::span<const int> age_groups,
                                                 std::span<const std::string> region_names) {
  if (age_groups.size() != files_.size()) {
    throw std::invalid_argument("one age group is needed for each coefficient file");
  }
  for (std::size_t k = 0; k < files_.size(); ++k) {
    for (const std::string& line : coefficient_headers(data_set, age_groups[k], region_names)) {
      write_line(static_cast<int>(k), line);
    }
  }
}

void CoefficientFiles::write_inhalation_rows(int position, std::string_view header_line,
                                             const CoefficientTable& coef,
                                             std::span<const double> times, int region_count) {
  for (const std::string& row :
       coefficient_rows(DataSet::inhalation, header_line, coef, times, region_count)) {
    write_line(position, row);
  }
}

void CoefficientFiles::write_ingestion_rows(int position, std::string_view header_line,
                                            const CoefficientTable& coef,
                                            std::span<const double> times, int region_count) {
  for (const std::string& row :
       coefficient_rows(DataSet::ingestion, header_line, coef, times, region_count)) {
    write_line(position, row);
  }
}

void CoefficientFiles::close_all() {
  std::string error;
  for (File& file : files_) {
    if (file.fd < 0) continue;
    const off_t end = ::lseek(file.fd, 0, SEEK_CUR);
    if ((end < 0 || ::ftruncate(file.fd, end) != 0) && error.empty()) {
      error = failure("close", file.name, std::strerror(errno));
    }
    if (::close(file.fd) != 0 && error.empty()) {
      error = failure("close", file.name, std::strerror(errno));
    }
    file.fd = -1;
  }
  if (!error.empty()) throw OutputError(error);
}

CoefficientFiles open_coefficient_files(const std::filesystem::path& working_dir, DataSet data_set,
                                        std::span<const int> age_groups) {
  for (std::size_t k = 0; k < age_groups.size(); ++k) {
    age_group_of(age_groups[k]);
    if (std::find(age_groups.begin(), age_groups.begin() + static_cast<long>(k), age_groups[k]) !=
        age_groups.begin() + static_cast<long>(k)) {
      throw std::invalid_argument("age group " + std::to_string(age_groups[k]) + " given twice");
    }
  }

  CoefficientFiles files;                      // closes whatever it holds if opening stops half way
  std::vector<std::filesystem::path> created;  // new files, removed again if opening stops
  const auto stop = [&](const std::string& message) {
    for (auto& file : files.files_) {
      if (file.fd >= 0) ::close(file.fd);
      file.fd = -1;
    }
    std::error_code ignored;
    for (const auto& path : created) std::filesystem::remove(path, ignored);
    throw OutputError(message);
  };

  for (const int group : age_groups) {
    CoefficientFiles::File file;
    file.name = coefficient_file_name(age_group_of(group).days, data_set);
    const std::filesystem::path path = resolve_program_path(working_dir, file.name);

    // A missing OUTPUT folder is made here.
    std::error_code ec;
    if (!std::filesystem::is_directory(path.parent_path(), ec)) {
      std::filesystem::create_directory(path.parent_path(), ec);
      if (ec)
        stop(failure("create", file.name,
                     "the folder OUTPUT cannot be made (" + ec.message() + ")"));
    }

    // Opened without emptying: nothing is cut until every file of the run is held.
    // O_NONBLOCK keeps a FIFO of that name from stalling the run; it is refused below.
    constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    bool is_new = true;
    file.fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    if (file.fd < 0 && errno == EEXIST) {
      is_new = false;
      file.fd = ::open(path.c_str(), kFlags);
    }
    if (file.fd < 0) stop(failure("create", file.name, std::strerror(errno)));
    if (is_new) created.push_back(path);
    files.files_.push_back(file);

    struct stat info {};
    if (::fstat(file.fd, &info) != 0) stop(failure("create", file.name, std::strerror(errno)));
    if (!S_ISREG(info.st_mode)) stop(failure("create", file.name, "it is not a regular file"));
    ::fcntl(file.fd, F_SETFL, 0);  // back to blocking writes
    if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      stop(failure("create", file.name,
                   error == EWOULDBLOCK ? "held by another program" : std::strerror(error)));
    }
  }

  for (const auto& file : files.files_) {
    if (::ftruncate(file.fd, 0) != 0) stop(failure("create", file.name, std::strerror(errno)));
  }
  return files;
}

}  // namespace kestrane
