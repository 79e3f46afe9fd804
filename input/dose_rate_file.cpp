// Reading the dose-rate file: region names, header lines, and the data blocks of nuclide
// records, including the composite region "Lung".
#include "input/dose_rate_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "input/ascii.h"
#include "input/fast_fields.h"
#include "input/input_error.h"
#include "input/vector_fields.h"

namespace kestrane {

namespace {

// Width of the time field and of each region column of a data line.
constexpr int kTimeWidth = 9, kColumnWidth = 10;
// Region columns that may be read: those of the longest region-name line accepted.
constexpr int kMaxColumn = kMaxRegionNames;
// The characters of a data line that any field read lies in: the text of a block keeps no
// more of a line, so that a record of long lines takes no more memory than a usual one.
constexpr std::size_t kDataLineColumns = kTimeWidth + kColumnWidth * kMaxColumn;

// "Lung" combines region columns 15 to 18 with these single-precision weights.
constexpr std::array<int, 4> kLungColumns{15, 16, 17, 18};
constexpr double kLungWeightOuter = static_cast<double>(0.1665f);
constexpr double kLungWeightInner = static_cast<double>(0.333f);

// Columns of the header fields that are numbers: age, and N by data set.
constexpr int kAgeColumn = 9, kAgeWidth = 5, kCountWidth = 3;
constexpr int count_column(DataSet data_set) { return data_set == DataSet::inhalation ? 29 : 22; }
// Lines per time point and the table code run from these columns to the end of the line.
constexpr int lines_column(DataSet data_set) { return data_set == DataSet::inhalation ? 33 : 26; }
constexpr int code_column(DataSet data_set) { return data_set == DataSet::inhalation ? 35 : 28; }

// A field named with its columns, for messages: "age field (columns 9-13)".
std::string field_name(std::string_view name, int first, int last) {
  return std::string(name) + " (columns " + std::to_string(first) + "-" + std::to_string(last) +
         ")";
}

// Lines per time point that a table code takes: 1 for L and H, 2 for B, 0 for no valid code.
int lines_for_code(std::string_view trimmed_code) {
  if (trimmed_code == "L" || trimmed_code == "H") return 1;
  if (trimmed_code == "B") return 2;
  return 0;
}

// A refusal of the header line itself.
[[noreturn]] void refuse_record(std::string_view file_name, std::int64_t line_number,
                                std::string_view header_line, const std::string& problem) {
  refuse_in_record(file_name, line_number, problem, header_line, line_number);
}

// What a field that should hold one number holds instead, for a message.
std::string field_fault(std::string_view what, std::string_view field, FieldReading reading) {
  // Built by appending: GCC 12 at -O2 warns of a false overlap in "\"" + std::string.
  std::string quoted(1, '"');
  quoted += printable_excerpt(field);
  quoted += '"';
  if (reading == FieldReading::not_finite) {
    return "the " + std::string(what) + " " + quoted +
           " is a number too large to be read as a finite value";
  }
  return "the " + std::string(what) + " holds " + quoted + ", not one number with blanks around it";
}

// Refuses a header whose number field at columns first..first+width-1 is not one number.
void check_header_field(const HeaderRecord& header, std::string_view file_name, int first,
                        int width, std::string_view name) {
  const std::string_view field = cut_field(header.line, first, width);
  double value = 0.0;
  const FieldReading reading = read_number_field(field, value);
  if (reading != FieldReading::number) {
    refuse_record(file_name, header.line_number, header.line,
                  field_fault(field_name(name, first, first + width - 1), field, reading));
  }
}

// " (columns 29-31)" or " (columns 22-24)": where N stands.
std::string count_columns(DataSet data_set) {
  return " (columns " + std::to_string(count_column(data_set)) + "-" +
         std::to_string(count_column(data_set) + kCountWidth - 1) + ")";
}

void check_time_point_count(const HeaderRecord& header, std::string_view file_name,
                            std::int64_t line_number) {
  if (header.n > kMaxTimePoints) {
    refuse_record(file_name, line_number, header.line,
                  "the record has " + std::to_string(header.n) + " time points, more than the " +
                      std::to_string(kMaxTimePoints) + " a record may have" +
                      count_columns(header.data_set));
  }
  if (header.n < 0) {
    refuse_record(file_name, line_number, header.line,
                  "the time-point count " + std::to_string(header.n) + " is negative" +
                      count_columns(header.data_set));
  }
}

// A line of the block too long to be read, refused with the record's header line.
[[noreturn]] void refuse_long_line(const LineReader& reader, const HeaderRecord& header,
                                   std::int64_t header_line, const LineTooLong& error) {
  refuse_in_record(reader.display_name(), error.line(), error.reason(), header.line, header_line);
}

[[noreturn]] void refuse_cut_short(const LineReader& reader, const HeaderRecord& header,
                                   std::int64_t header_line, std::int64_t found,
                                   std::int64_t expected) {
  refuse_record(reader.display_name(), header_line, header.line,
                "the file ends after " + std::to_string(found) + " of the " +
                    std::to_string(expected) + " data lines of the record");
}

// Where the value of each selected-region position comes from on a data line.
struct ColumnPlan {
  std::array<int, kMaxColumn> columns{};  // distinct region columns to parse, ascending
  int column_count = 0;
  std::array<int, kMaxSelectedRegions> source{};  // column of position k, or 0 for "Lung"
  std::size_t shortest_full_line = 0;  // a line at least this long holds every column read
  bool leading_columns = false;        // the columns read are 1 to column_count, side by side

  ColumnPlan(std::span<const int> regions, int lung_region) {
    std::array<bool, kMaxColumn + 1> wanted{};
    for (std::size_t k = 0; k < regions.size(); ++k) {
      const int r = regions[k];
      if (r == lung_region) {
        source[k] = 0;
        for (int c : kLungColumns) wanted[static_cast<std::size_t>(c)] = true;
      } else if (r >= 1 && r <= kMaxColumn) {
        source[k] = r;
        wanted[static_cast<std::size_t>(r)] = true;
      } else {
        throw std::invalid_argument("region number " + std::to_string(r) +
                                    " has no column in the dose-rate file");
      }
    }
    shortest_full_line = kTimeWidth;
    for (int c = 1; c <= kMaxColumn; ++c) {
      if (!wanted[static_cast<std::size_t>(c)]) continue;
      columns[static_cast<std::size_t>(column_count++)] = c;
      shortest_full_line = static_cast<std::size_t>(kColumnWidth * c + kColumnWidth - 1);
    }
    leading_columns =
        column_count > 0 && columns[static_cast<std::size_t>(column_count - 1)] == column_count;
  }
};

// A field of a data line: the usual form read in line, anything else by the strict rule.
// False when the field is not one finite number with blanks around it (nor blanks only).
inline bool read_field(std::string_view field, double& value) {
  if (number_detail::parse_e_field(field.data(), field.size(), value)) return true;
  return read_number_field(field, value) == FieldReading::number;
}

// Refuses a data line that store_data_line could not read: finds the first field read that
// the line does not hold in full, or that holds no sound number, and names it.
[[noreturn]] void refuse_data_line(std::string_view line, std::int64_t line_number,
                                   const ColumnPlan& plan, const HeaderRecord& header,
                                   std::int64_t header_line, std::string_view file_name) {
  auto check = [&](int first, int last, std::string_view name) {
    const std::string what = field_name(name, first, last);
    if (line.size() < static_cast<std::size_t>(last)) {
      refuse_in_record(file_name, line_number,
                       "the data line ends after column " + std::to_string(line.size()) +
                           ", before the " + what + " that is read from it is complete",
                       header.line, header_line);
    }
    const std::string_view field = cut_field(line, first, last - first + 1);
    double value = 0.0;
    const FieldReading reading = read_number_field(field, value);
    if (reading != FieldReading::number) {
      refuse_in_record(file_name, line_number, field_fault(what, field, reading), header.line,
                       header_line);
    }
  };
  check(1, kTimeWidth, "time field");
  for (int n = 0; n < plan.column_count; ++n) {
    const int c = plan.columns[static_cast<std::size_t>(n)];
    check(kColumnWidth * c, kColumnWidth * c + kColumnWidth - 1,
          "rate field of region column " + std::to_string(c));
  }
  // Not reached: store_data_line fails only where one of the checks above fails.
  refuse_in_record(file_name, line_number, "the data line cannot be read", header.line,
                   header_line);
}

// Reads one data line: its time into x[i] and the selected regions into value[t][.][i].
// False, with the tables partly written, when a field read is not held in full by the line or
// holds anything but one finite number with blanks around it (blanks only read as 0).
bool store_data_line(std::string_view line, const ColumnPlan& plan, std::size_t region_count,
                     std::size_t t, std::size_t i, RateTable& table) {
  // A line too short for any field read is refused whole; the fields are looked at only on
  // lines long enough for all of them.
  if (line.size() < plan.shortest_full_line) return false;
  bool sound = read_field(line.substr(0, kTimeWidth), table.x[i]);
  // Only the columns of the plan are set, and only they are read below.
  std::array<double, kMaxColumn + 1> column;
  if (plan.leading_columns && number_detail::parse_e_fields10_vector(
                                  line.data() + kTimeWidth, plan.column_count, &column[1])) {
    // Every column read, as with all regions selected, held the usual form: read in one pass.
  } else {
    // Region column c occupies characters 10c to 10c + 9, counted from 1. Two fields per step
    // give the processor two independent chains of work to overlap.
    const char* const base = line.data() - 1;
    int n = 0;
    for (; n + 1 < plan.column_count; n += 2) {
      const auto c0 = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n)]);
      const auto c1 = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n + 1)]);
      const bool first =
          read_field(std::string_view(base + kColumnWidth * c0, kColumnWidth), column[c0]);
      const bool second =
          read_field(std::string_view(base + kColumnWidth * c1, kColumnWidth), column[c1]);
      sound = sound & first & second;
    }
    if (n < plan.column_count) {
      const auto c = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n)]);
      sound =
          sound & read_field(std::string_view(base + kColumnWidth * c, kColumnWidth), column[c]);
    }
  }
  if (!sound) return false;
  auto& rows = table.value[t];
  for (std::size_t k = 0; k < region_count; ++k) {
    const int c = plan.source[k];
    if (c != 0) {
      rows[k][i] = column[static_cast<std::size_t>(c)];
    } else {
      // The first product is stored, then each further product is added to the stored value.
      double& cell = rows[k][i];
      cell = kLungWeightOuter * column[15];
      cell += kLungWeightOuter * column[16];
      cell += kLungWeightInner * column[17];
      cell += kLungWeightInner * column[18];
    }
  }
  return true;
}

// A number as the shortest text that reads back to it, for messages.
std::string shortest_text(double value) {
  std::array<char, 32> text{};
  const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
  return std::string(text.data(), end);
}

// Refuses the high-table line of a time point whose time is not that of its low-table line.
[[noreturn]] void refuse_pair_times(std::string_view file_name, std::int64_t line_number,
                                    double low_time, double high_time, const HeaderRecord& header,
                                    std::int64_t header_line) {
  const std::string reason = "the time " + shortest_text(high_time) +
                             " (columns 1-9) is not the time " + shortest_text(low_time) +
                             " of the low-table line before it; both lines of a time point "
                             "carry its time";
  refuse_in_record(file_name, line_number, reason, header.line, header_line);
}

// Refuses a file in UTF-16, told by a byte-order mark or by zero bytes between the
// characters of one of its first lines.
void refuse_utf16(const LineReader& reader, std::string_view line, int line_number) {
  if (line.starts_with("\xff\xfe") || line.starts_with("\xfe\xff") ||
      line.find('\0') != std::string_view::npos) {
    throw InputError(reader.display_name() + ", line " + std::to_string(line_number) +
                     ": the file is in UTF-16 (two bytes to a character), not plain text; save "
                     "it as ASCII text with CR LF line ends");
  }
}

// Called where line 2, the region-name line, is empty after a title line (refused anyway):
// text on line 3 and an empty line 4 again tell CR CR LF line ends.
void refuse_doubled_line_ends(LineReader& reader) {
  std::string_view next;
  if (!reader.next_line(next) || next.empty()) return;
  if (reader.next_line(next) && next.empty()) {
    throw InputError(reader.display_name() +
                     ", line 2: the file's lines end in CR CR LF, read as an empty line after "
                     "each line; save it with CR LF line ends");
  }
}

// Data lines of a block as read_data_block reads them: N x P, with pairs for any P but 1.
std::int64_t lines_in_block(const HeaderRecord& header) {
  return header.p != 1 ? 2 * std::int64_t{header.n} : header.n;
}

// Fills x and the rate table from the N x P data lines that `next_line` hands out in order;
// they are the lines that follow the header line (`header_line`) in the file.
template <typename NextLine>
void fill_rate_table(const HeaderRecord& header, std::span<const int> regions, int lung_region,
                     std::string_view file_name, std::int64_t header_line, NextLine next_line,
                     RateTable& table) {
  if (regions.size() > static_cast<std::size_t>(kMaxSelectedRegions)) {
    throw std::invalid_argument("more selected regions than the rate table holds");
  }
  const ColumnPlan plan(regions, lung_region);
  check_time_point_count(header, file_name, header_line);
  if (header.n <= 0) return;
  const auto count = static_cast<std::size_t>(header.n);
  std::int64_t line_number = header_line;
  auto store = [&](std::size_t t, std::size_t i) {
    const std::string_view line = next_line();
    ++line_number;
    if (!store_data_line(line, plan, regions.size(), t, i, table)) {
      refuse_data_line(line, line_number, plan, header, header_line, file_name);
    }
  };
  if (header.p == 1) {
    const std::size_t target = ascii::trim_right(header.table_code) == "L" ? 0 : 1;
    for (std::size_t i = 0; i < count; ++i) store(target, i);
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      store(0, i);
      const double low_time = table.x[i];
      store(1, i);
      if (table.x[i] != low_time) {
        refuse_pair_times(file_name, line_number, low_time, table.x[i], header, header_line);
      }
    }
  }
}

}  // namespace

std::vector<std::string> read_region_names(LineReader& reader) {
  std::string_view line;
  const bool has_title = reader.next_line(line);
  const std::string title(line);
  refuse_utf16(reader, title, 1);
  if (!has_title || !reader.next_line(line)) {
    throw InputError(reader.display_name() +
                     ", line 2: the file ends before its region-name line (the title line comes "
                     "first, then the region names)");
  }
  const std::int64_t line_number = reader.line_number();
  refuse_utf16(reader, line, 2);
  if (line.empty() && !title.empty()) refuse_doubled_line_ends(reader);

  std::string_view rest = line;
  auto drop_blanks = [&rest] {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  };
  auto take_word = [&rest, &drop_blanks] {
    const std::size_t end = std::min(rest.find(' '), rest.size());
    std::string_view word = rest.substr(0, end);
    rest.remove_prefix(end);
    drop_blanks();
    return word;
  };

  drop_blanks();
  take_word();  // the label
  std::vector<std::string> names;
  do {
    names.emplace_back(take_word());
  } while (!rest.empty());

  if (names.size() == 1 && names.front().empty()) {
    throw InputError(reader.display_name() + ", line " + std::to_string(line_number) +
                     ": the region-name line holds no region name after its label. "
                     "Region-name line: \"" +
                     printable_excerpt(line) + "\"");
  }
  if (names.size() > static_cast<std::size_t>(kMaxRegionNames)) {
    throw InputError(reader.display_name() + ", line " + std::to_string(line_number) +
                     ": the region-name line holds " + std::to_string(names.size()) +
                     " names, more than the " + std::to_string(kMaxRegionNames) +
                     " this program can take. Region-name line: \"" + printable_excerpt(line) +
                     "\"");
  }
  return names;
}

HeaderRecord decode_header(std::string_view line, DataSet data_set, std::int64_t line_number) {
  HeaderRecord header;
  header.line = std::string(line);
  header.line_number = line_number;
  header.data_set = data_set;
  header.nuclide = std::string(cut_field(line, 1, 7));
  header.age_days = parse_integer(cut_field(line, kAgeColumn, kAgeWidth));
  header.class_or_f1 = data_set == DataSet::inhalation ? std::string(cut_field(line, 19, 1))
                                                       : std::string(cut_field(line, 14, 7));
  header.n = parse_integer(cut_field(line, count_column(data_set), kCountWidth));
  header.p = parse_integer(cut_field(line, lines_column(data_set)));
  header.table_code = ascii::to_upper(cut_field(line, code_column(data_set)));
  return header;
}

bool is_blank_header(std::string_view line) { return ascii::trim_left(line).empty(); }

void validate_header(const HeaderRecord& header, const std::string& file_name) {
  check_header_field(header, file_name, kAgeColumn, kAgeWidth, "age field");
  if (header.age_days < 0 || header.age_days > kMaxAgeDays) {
    refuse_record(file_name, header.line_number, header.line,
                  "the age " + std::to_string(header.age_days) + " is outside 0 to " +
                      std::to_string(kMaxAgeDays) + " days (columns 9-13)");
  }
  const int count_first = count_column(header.data_set);
  check_header_field(header, file_name, count_first, kCountWidth, "time-point count field");
  const std::string_view code = ascii::trim_right(header.table_code);
  const int lines = lines_for_code(code);
  if (lines == 0) {
    refuse_record(
        file_name, header.line_number, header.line,
        (code.empty() ? std::string("the header line holds no table code")
                      : "the table code \"" + printable_excerpt(code) + "\" is not L, B or H") +
            " (from column " + std::to_string(code_column(header.data_set)) + ")");
  }
  if (header.p != lines) {
    refuse_record(file_name, header.line_number, header.line,
                  "the table code " + std::string(code) + " takes " + std::to_string(lines) +
                      (lines == 1 ? " line" : " lines") + " per time point, the header gives " +
                      std::to_string(header.p) + " (from column " +
                      std::to_string(lines_column(header.data_set)) + ")");
  }
  check_time_point_count(header, file_name, header.line_number);
}

void read_data_block(LineReader& reader, const HeaderRecord& header, std::span<const int> regions,
                     int lung_region, RateTable& table) {
  // Called directly after the header line, so the reader's line number is the header's.
  const std::int64_t header_line =
      header.line_number != 0 ? header.line_number : reader.line_number();
  const std::int64_t expected = lines_in_block(header);
  std::int64_t found = 0;
  try {
    fill_rate_table(
        header, regions, lung_region, reader.display_name(), header_line,
        [&]() {
          std::string_view line;
          if (!reader.next_line(line)) {
            refuse_cut_short(reader, header, header_line, found, expected);
          }
          ++found;
          return line;
        },
        table);
  } catch (const LineTooLong& error) {
    refuse_long_line(reader, header, header_line, error);
  }
}

std::string read_data_block_text(LineReader& reader, const HeaderRecord& header) {
  const std::int64_t header_line =
      header.line_number != 0 ? header.line_number : reader.line_number();
  check_time_point_count(header, reader.display_name(), header_line);
  const std::int64_t expected = header.n > 0 ? lines_in_block(header) : 0;
  std::string text;
  std::int64_t found = 0;
  try {
    found = reader.append_lines(expected, text, kDataLineColumns);
  } catch (const LineTooLong& error) {
    refuse_long_line(reader, header, header_line, error);
  }
  if (found < expected) refuse_cut_short(reader, header, header_line, found, expected);
  return text;
}

void parse_data_block(std::string_view text, const HeaderRecord& header,
                      std::span<const int> regions, int lung_region, RateTable& table,
                      std::string_view file_name) {
  std::int64_t found = 0;
  fill_rate_table(
      header, regions, lung_region, file_name, header.line_number,
      [&]() {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
          refuse_record(file_name, header.line_number, header.line,
                        "the text holds " + std::to_string(found) + " of the " +
                            std::to_string(lines_in_block(header)) + " data lines of the record");
        }
        // A line holds no CR: one before the '\n' is part of a CR LF line end.
        const std::size_t size = end > 0 && text[end - 1] == '\r' ? end - 1 : end;
        const std::string_view line = text.substr(0, size);
        text.remove_prefix(end + 1);
        ++found;
        return line;
      },
      table);
}

void skip_data_block(LineReader& reader, const HeaderRecord& header) {
  if (header.n <= 0) return;
  const std::int64_t header_line =
      header.line_number != 0 ? header.line_number : reader.line_number();
  const bool pairs = ascii::trim_right(header.table_code) == "B";
  const std::int64_t expected = pairs ? 2 * std::int64_t{header.n} : header.n;
  std::int64_t found = 0;
  try {
    found = reader.skip_lines(expected);
  } catch (const LineTooLong& error) {
    refuse_long_line(reader, header, header_line, error);
  }
  if (found < expected) refuse_cut_short(reader, header, header_line, found, expected);
}

}  // namespace kestrane
