// The notes files: which coefficients are negative or rest on the extended interpolant, and
// the safe writing of those files beside the coefficient files.
#include "output/notes_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>
#include <utility>

#include "output/coefficient_files.h"
#include "platform/file_services.h"

namespace kestrane {
namespace {

// Rows are handed to the disk in pieces of about this size.
constexpr std::size_t kWriteChunk = std::size_t{1} << 20;

std::string_view trim_spaces(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// A text field as the CSV files write it: quoted only when it holds a comma, quote or line end.
void append_field(std::string& out, std::string_view text) {
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

// The shortest text that reads back to the same double.
void append_double(std::string& out, double value) {
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}

std::string error_text(int error) { return std::strerror(error); }

void sync_folder(const std::filesystem::path& file) {
  const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

}  // namespace

std::string notes_file_name(std::int32_t age_days, DataSet data_set) {
  return "OUTPUT\\DC" + std::to_string(age_days) + data_set_letter(data_set) + "-notes.csv";
}

std::string notes_header(DataSet data_set) {
  return std::string("nuclide,") + (data_set == DataSet::inhalation ? "class" : "f1") +
         ",age_days,region,table,time_d,coefficient,first_time_d,last_time_d,share_outside,"
         "reason";
}

double share_outside(double coefficient, double outside) {
  const double in = std::abs(coefficient - outside);
  const double out = std::abs(outside);
  const double whole = in + out;
  return whole == 0.0 ? 0.0 : out / whole;
}

void append_note_rows(std::string& out, const HeaderRecord& header, const CoefficientTable& coef,
                      std::span<const double> times, std::span<const std::string> region_names,
                      NoteCounts& counts) {
  if (!coef.integrated[0] && !coef.integrated[1]) return;
  static constexpr std::string_view kTableNames[2] = {"low", "high"};
  // The texts that every row of the record shares are made once, with its first note.
  std::string prefix;          // "nuclide,class,age,"
  std::string times_of_table;  // ",first,last,"
  for (std::size_t m = 0; m < times.size(); ++m) {
    std::string time_text;
    for (std::size_t j = 0; j < region_names.size(); ++j) {
      for (std::size_t t = 0; t < 2; ++t) {
        if (!coef.integrated[t]) continue;
        const double value = coef.coef[t][j][m];
        const double share = share_outside(value, coef.outside[t][j][m]);
        const bool negative = value < 0.0;
        const bool extended = share > kExtendedShareThreshold;
        if (!negative && !extended) continue;
        if (prefix.empty()) {
          append_field(prefix, trim_spaces(header.nuclide));
          prefix += ',';
          append_field(prefix, trim_spaces(header.class_or_f1));
          prefix += ',';
          prefix += std::to_string(header.age_days);
          prefix += ',';
          times_of_table += ',';
          append_double(times_of_table, coef.first_time);
          times_of_table += ',';
          append_double(times_of_table, coef.last_time);
          times_of_table += ',';
        }
        if (time_text.empty()) append_double(time_text, times[m]);
        out += prefix;
        append_field(out, region_names[j]);
        out += ',';
        out += kTableNames[t];
        out += ',';
        out += time_text;
        out += ',';
        append_double(out, value);
        out += times_of_table;
        append_double(out, share);
        out += ',';
        out += negative && extended ? "negative;extended" : negative ? "negative" : "extended";
        out += '\n';
        counts.negative += negative ? 1 : 0;
        counts.extended += extended ? 1 : 0;
        ++counts.rows;
      }
    }
  }
}

NotesFile::NotesFile(std::filesystem::path working_dir, std::string name, DataSet data_set)
    : working_dir_(std::move(working_dir)), name_(std::move(name)), data_set_(data_set) {}

NotesFile::NotesFile(NotesFile&& other) noexcept
    : working_dir_(std::move(other.working_dir_)),
      name_(std::move(other.name_)),
      data_set_(other.data_set_),
      partial_path_(std::move(other.partial_path_)),
      fd_(std::exchange(other.fd_, -1)),
      buffer_(std::move(other.buffer_)),
      rows_(std::exchange(other.rows_, 0)) {}

NotesFile& NotesFile::operator=(NotesFile&& other) noexcept {
  if (this != &other) {
    abandon();
    working_dir_ = std::move(other.working_dir_);
    name_ = std::move(other.name_);
    data_set_ = other.data_set_;
    partial_path_ = std::move(other.partial_path_);
    fd_ = std::exchange(other.fd_, -1);
    buffer_ = std::move(other.buffer_);
    rows_ = std::exchange(other.rows_, 0);
  }
  return *this;
}

NotesFile::~NotesFile() { abandon(); }

void NotesFile::open() {
  partial_path_ = resolve_program_path(working_dir_, partial_name());
  buffer_.clear();
  rows_ = 0;
}

void NotesFile::write_out() {
  if (fd_ < 0) {
    fd_ = ::open(partial_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      throw OutputError("Unable to create the file " + partial_name() + ": " + error_text(errno));
    }
  }
  std::string_view rest = buffer_;
  while (!rest.empty()) {
    const ssize_t written = ::write(fd_, rest.data(), rest.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      throw OutputError("Unable to write the file " + partial_name() + ": " +
                        error_text(written < 0 ? errno : ENOSPC));
    }
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
  buffer_.clear();
}

void NotesFile::append(std::string_view lines) {
  if (lines.empty()) return;
  if (partial_path_.empty()) open();
  if (rows_ == 0) buffer_ = notes_header(data_set_) + "\n";
  buffer_.append(lines);
  ++rows_;
  if (buffer_.size() >= kWriteChunk) write_out();
}

void NotesFile::commit() {
  if (partial_path_.empty()) open();
  const std::filesystem::path final_path = resolve_program_path(working_dir_, name_);
  if (rows_ == 0) {
    std::error_code ignored;
    std::filesystem::remove(partial_path_, ignored);
    if (std::filesystem::is_regular_file(final_path, ignored) &&
        !std::filesystem::remove(final_path, ignored)) {
      throw OutputError("Unable to remove the earlier file " + name_ + ": " + ignored.message());
    }
    return;
  }
  write_out();
  if (::fsync(fd_) != 0) {
    throw OutputError("Unable to write the file " + partial_name() + ": " + error_text(errno));
  }
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) {
    throw OutputError("Unable to write the file " + partial_name() + ": " + error_text(errno));
  }
  if (::rename(partial_path_.c_str(), final_path.c_str()) != 0) {
    throw OutputError("Unable to put the file " + name_ + " in place: " + error_text(errno));
  }
  sync_folder(final_path);
}

void NotesFile::abandon() {
  if (fd_ >= 0 || !buffer_.empty()) {
    // Whole lines only: what is still buffered goes out, and a failure keeps what is there.
    try {
      if (!partial_path_.empty()) write_out();
    } catch (const OutputError&) {
    }
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }
  buffer_.clear();
}

RunNotes::RunNotes(const std::filesystem::path& working_dir, DataSet data_set,
                   std::span<const int> age_groups, std::vector<double> times,
                   std::vector<std::string> region_names)
    : times_(std::move(times)), region_names_(std::move(region_names)) {
  for (const int group : age_groups) {
    const std::int32_t days = kAgeGroups[static_cast<std::size_t>(group - 1)].days;
    files_.emplace_back(working_dir, notes_file_name(days, data_set), data_set);
    files_.back().open();
  }
}

void RunNotes::record(int position, const HeaderRecord& header, const CoefficientTable& coef) {
  text_.clear();
  const NoteCounts counts = format(text_, header, coef);
  add(position, text_, counts);
}

NoteCounts RunNotes::format(std::string& out, const HeaderRecord& header,
                            const CoefficientTable& coef) const {
  NoteCounts counts;
  append_note_rows(out, header, coef, times_, region_names_, counts);
  return counts;
}

void RunNotes::add(int position, std::string_view rows, const NoteCounts& counts) {
  if (rows.empty()) return;
  counts_.negative += counts.negative;
  counts_.extended += counts.extended;
  counts_.rows += counts.rows;
  files_.at(static_cast<std::size_t>(position)).append(rows);
}

void RunNotes::commit() {
  for (NotesFile& file : files_) file.commit();
}

void RunNotes::abandon() {
  for (NotesFile& file : files_) file.abandon();
}

std::vector<std::string> RunNotes::files_with_rows() const {
  std::vector<std::string> names;
  for (const NotesFile& file : files_) {
    if (file.has_rows()) names.push_back(file.name());
  }
  return names;
}

std::string RunNotes::summary_line(bool slashes) const {
  if (counts_.rows == 0) return {};
  std::string line = "Notes: " + std::to_string(counts_.negative) + " negative, " +
                     std::to_string(counts_.extended) + " extended coefficients; see";
  for (const std::string& name : files_with_rows()) {
    line += ' ';
    for (const char c : name) line += (slashes && c == '\\') ? '/' : c;
  }
  return line;
}

}  // namespace kestrane
