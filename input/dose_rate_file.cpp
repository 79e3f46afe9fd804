// Reading the dose-rate file: region names, header lines, and the data blocks of nuclide
// records, including the composite region "Lung".
#include "input/dose_rate_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>
#include <utility>

#include "base/ascii.h"
#include "input/data_line.h"
#include "input/input_error.h"

namespace kestrane {

namespace {

// Columns of the header fields that are numbers: age, and N by data set.
constexpr int kAgeColumn = 9, kAgeWidth = 5, kCountWidth = 3;
constexpr int count_column(DataSet data_set) { return data_set == DataSet::inhalation ? 29 : 22; }
// Lines per time point and the table code run from these columns to the end of the line.
constexpr int lines_column(DataSet data_set) { return data_set == DataSet::inhalation ? 33 : 26; }
constexpr int code_column(DataSet data_set) { return data_set == DataSet::inhalation ? 35 : 28; }

// Lines per time point that a table code takes: 1 for L and H, 2 for B, 0 for no valid code.
// The lines each time point of a record takes: one for a table, two for both.
int lines_for(RecordTables tables) {
  if (tables == RecordTables::both) return 2;
  return tables == RecordTables::none ? 0 : 1;
}

// A refusal of the header line itself.
[[noreturn]] void refuse_record(std::string_view file_name, std::int64_t line_number,
                                std::string_view header_line, const std::string& problem) {
  refuse_in_record(file_name, line_number, problem, header_line, line_number);
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

// Takes the `expected` lines of a block as text (the fields' columns of each) or, without
// `text`, passes over them; a block cut short, a line too long or an N out of range (with
// `text`) is refused with the record.
void take_block(LineReader& reader, const HeaderRecord& header, std::int64_t expected,
                LinesText* text) {
  const std::int64_t header_line =
      header.line_number != 0 ? header.line_number : reader.line_number();
  if (text != nullptr) check_time_point_count(header, reader.display_name(), header_line);
  std::int64_t found = 0;
  try {
    found =
        text ? reader.take_lines(expected, *text, kDataLineColumns) : reader.skip_lines(expected);
  } catch (const LineTooLong& error) {
    refuse_long_line(reader, header, header_line, error);
  }
  if (found < expected) refuse_cut_short(reader, header, header_line, found, expected);
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
    throw InputError::at_line(reader.display_name(), line_number,
                              "the file is in UTF-16 (two bytes to a character), not plain text; "
                              "save it as ASCII text with CR LF line ends");
  }
}

// Called where line 2, the region-name line, is empty after a title line (refused anyway):
// text on line 3 and an empty line 4 again tell CR CR LF line ends.
void refuse_doubled_line_ends(LineReader& reader) {
  std::string_view next;
  if (!reader.next_line(next) || next.empty()) return;
  if (reader.next_line(next) && next.empty()) {
    throw InputError::at_line(reader.display_name(), 2,
                              "the file's lines end in CR CR LF, read as an empty line after "
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
  const StoreDataLine store_line = data_line_store(plan);
  check_time_point_count(header, file_name, header_line);
  if (header.n <= 0) return;
  const auto count = static_cast<std::size_t>(header.n);
  std::int64_t line_number = header_line;
  auto store = [&](std::size_t t, std::size_t i) {
    const std::string_view line = next_line();
    ++line_number;
    if (!store_line(line, plan, regions.size(), t, i, table)) {
      refuse_data_line(line, line_number, plan, header, header_line, file_name);
    }
  };
  if (header.p == 1) {
    const std::size_t target = tables_filled_by_block(header)[0] ? 0 : 1;
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

std::array<bool, 2> tables_filled_by_block(const HeaderRecord& header) {
  if (header.p != 1) return {true, true};
  const bool low = header.tables == RecordTables::low;
  return {low, !low};
}

std::int64_t time_point_line(const HeaderRecord& header, int point) {
  if (header.line_number == 0) return 0;
  const std::int64_t lines_per_point = header.p != 1 ? 2 : 1;
  return header.line_number + lines_per_point * (point - 1) + 1;
}

std::vector<std::string> read_region_names(LineReader& reader, std::string* title_out) {
  std::string_view line;
  const bool has_title = reader.next_line(line);
  const std::string title(line);
  refuse_utf16(reader, title, 1);
  if (title_out != nullptr) *title_out = title;
  if (!has_title || !reader.next_line(line)) {
    throw InputError::at_line(reader.display_name(), 2,
                              "the file ends before its region-name line (the title line comes "
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
    throw InputError::at_line(reader.display_name(), line_number,
                              "the region-name line holds no region name after its label. "
                              "Region-name line: \"" +
                                  printable_excerpt(line) + "\"");
  }
  if (names.size() > static_cast<std::size_t>(kMaxRegionNames)) {
    throw InputError::at_line(reader.display_name(), line_number,
                              "the region-name line holds " + std::to_string(names.size()) +
                                  " names, more than the " + std::to_string(kMaxRegionNames) +
                                  " this program can take. Region-name line: \"" +
                                  printable_excerpt(line) + "\"");
  }
  return names;
}

RecordTables tables_of_code(std::string_view code) {
  code = ascii::trim_right(code);
  if (code == "L") return RecordTables::low;
  if (code == "H") return RecordTables::high;
  if (code == "B") return RecordTables::both;
  return RecordTables::none;
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
  header.tables = tables_of_code(header.table_code);
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
  const int lines = lines_for(header.tables);
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

void take_data_block_text(LineReader& reader, const HeaderRecord& header, LinesText& text) {
  take_block(reader, header, header.n > 0 ? lines_in_block(header) : 0, &text);
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
  const bool pairs = header.tables == RecordTables::both;
  take_block(reader, header, pairs ? 2 * std::int64_t{header.n} : header.n, nullptr);
}

}  // namespace kestrane
