// Reading the dose-rate file: region names, header lines, and the data blocks of nuclide
// records, including the composite region "Lung".
#include "input/dose_rate_file.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "input/number_parsing.h"

namespace kestrane {

namespace {

// Width of the time field and of each region column of a data line.
constexpr int kTimeWidth = 9;
constexpr int kColumnWidth = 10;
// Region columns that may be read: those of the longest region-name line accepted.
constexpr int kMaxColumn = kMaxRegionNames;

// "Lung" combines region columns 15 to 18 with these single-precision weights.
constexpr std::array<int, 4> kLungColumns{15, 16, 17, 18};
constexpr double kLungWeightOuter = static_cast<double>(0.1665f);
constexpr double kLungWeightInner = static_cast<double>(0.333f);

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_trailing_blanks(std::string_view text) {
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  return text;
}

char upper_case(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Lines per time point that a table code takes: 1 for L and H, 2 for B, 0 for no valid code.
int lines_for_code(std::string_view trimmed_code) {
  if (trimmed_code == "L" || trimmed_code == "H") return 1;
  if (trimmed_code == "B") return 2;
  return 0;
}

[[noreturn]] void refuse_record(const std::string& file_name, std::int64_t line_number,
                                const std::string& header_line, const std::string& problem) {
  throw InputError(file_name + ", line " + std::to_string(line_number) + ": " + problem +
                   ". Header line: \"" + header_line + "\"");
}

void check_time_point_count(const HeaderRecord& header, const std::string& file_name,
                            std::int64_t line_number) {
  if (header.n > kMaxTimePoints) {
    refuse_record(file_name, line_number, header.line,
                  "the record has " + std::to_string(header.n) + " time points, more than the " +
                      std::to_string(kMaxTimePoints) + " a record may have");
  }
  if (header.n < 0) {
    refuse_record(file_name, line_number, header.line,
                  "the time-point count " + std::to_string(header.n) + " is negative");
  }
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

// A field of a data line: the usual form read in line, anything else by the full rule.
inline double read_field(std::string_view field) {
  double value;
  if (number_detail::parse_e_field(field.data(), field.size(), value)) return value;
  return parse_number(field);
}

// Reads one data line: its time into x[i] and the selected regions into value[t][.][i].
void store_data_line(std::string_view line, const ColumnPlan& plan, std::size_t region_count,
                     std::size_t t, std::size_t i, RateTable& table) {
  table.x[i] = read_field(cut_field(line, 1, kTimeWidth));
  // Only the columns of the plan are set, and only they are read below.
  std::array<double, kMaxColumn + 1> column;
  if (line.size() >= plan.shortest_full_line && plan.leading_columns &&
      number_detail::parse_e_fields10(line.data() + kTimeWidth, plan.column_count, &column[1])) {
    // Every column read, as with all regions selected, held the usual form: read in one pass.
  } else if (line.size() >= plan.shortest_full_line) {
    // Region column c occupies characters 10c to 10c + 9, counted from 1. Two fields per step
    // give the processor two independent chains of work to overlap.
    const char* const base = line.data() - 1;
    int n = 0;
    for (; n + 1 < plan.column_count; n += 2) {
      const auto c0 = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n)]);
      const auto c1 = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n + 1)]);
      column[c0] = read_field(std::string_view(base + kColumnWidth * c0, kColumnWidth));
      column[c1] = read_field(std::string_view(base + kColumnWidth * c1, kColumnWidth));
    }
    if (n < plan.column_count) {
      const auto c = static_cast<std::size_t>(plan.columns[static_cast<std::size_t>(n)]);
      column[c] = read_field(std::string_view(base + kColumnWidth * c, kColumnWidth));
    }
  } else {
    for (int n = 0; n < plan.column_count; ++n) {
      const int c = plan.columns[static_cast<std::size_t>(n)];
      column[static_cast<std::size_t>(c)] =
          parse_number(cut_field(line, kColumnWidth * c, kColumnWidth));
    }
  }
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
}

// Data lines of a block as read_data_block reads them: N x P, with pairs for any P but 1.
std::int64_t lines_in_block(const HeaderRecord& header) {
  return header.p != 1 ? 2 * std::int64_t{header.n} : header.n;
}

// Fills x and the rate table from the N x P data lines that `next_line` hands out in order.
template <typename NextLine>
void fill_rate_table(const HeaderRecord& header, std::span<const int> regions, int lung_region,
                     const std::string& file_name, std::int64_t header_line, NextLine next_line,
                     RateTable& table) {
  if (regions.size() > static_cast<std::size_t>(kMaxSelectedRegions)) {
    throw std::invalid_argument("more selected regions than the rate table holds");
  }
  const ColumnPlan plan(regions, lung_region);
  check_time_point_count(header, file_name, header_line);
  if (header.n <= 0) return;
  const auto count = static_cast<std::size_t>(header.n);
  if (header.p == 1) {
    const std::size_t target = header.table_code == "L" ? 0 : 1;
    for (std::size_t i = 0; i < count; ++i) {
      store_data_line(next_line(), plan, regions.size(), target, i, table);
    }
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      store_data_line(next_line(), plan, regions.size(), 0, i, table);
      store_data_line(next_line(), plan, regions.size(), 1, i, table);
    }
  }
}

}  // namespace

std::vector<std::string> read_region_names(LineReader& reader) {
  reader.read_line();  // title line
  const std::string_view line = reader.read_line();
  const std::int64_t line_number = reader.line_number();

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

  if (names.size() > static_cast<std::size_t>(kMaxRegionNames)) {
    throw InputError(reader.display_name() + ", line " + std::to_string(line_number) +
                     ": the region-name line holds " + std::to_string(names.size()) +
                     " names, more than the " + std::to_string(kMaxRegionNames) +
                     " this program can take. Region-name line: \"" + std::string(line) + "\"");
  }
  return names;
}

HeaderRecord decode_header(std::string_view line, DataSet data_set, std::int64_t line_number) {
  HeaderRecord header;
  header.line = std::string(line);
  header.line_number = line_number;
  header.nuclide = std::string(cut_field(line, 1, 7));
  header.age_days = parse_integer(cut_field(line, 9, 5));
  std::string_view code;
  if (data_set == DataSet::inhalation) {
    header.class_or_f1 = std::string(cut_field(line, 19, 1));
    header.n = parse_integer(cut_field(line, 29, 3));
    header.p = parse_integer(cut_field(line, 33));
    code = cut_field(line, 35);
  } else {
    header.class_or_f1 = std::string(cut_field(line, 14, 7));
    header.n = parse_integer(cut_field(line, 22, 3));
    header.p = parse_integer(cut_field(line, 26));
    code = cut_field(line, 28);
  }
  header.table_code.reserve(code.size());
  for (char c : code) header.table_code.push_back(upper_case(c));
  return header;
}

bool is_blank_header(std::string_view line) {
  for (char c : line) {
    if (!is_blank(c)) return false;
  }
  return true;
}

void validate_header(const HeaderRecord& header, const std::string& file_name) {
  const std::string_view code = trim_trailing_blanks(header.table_code);
  const int lines = lines_for_code(code);
  if (lines == 0) {
    refuse_record(file_name, header.line_number, header.line,
                  code.empty() ? std::string("the header line holds no table code")
                               : "the table code \"" + std::string(code) + "\" is not L, B or H");
  }
  if (header.p != lines) {
    refuse_record(file_name, header.line_number, header.line,
                  "the table code " + std::string(code) + " takes " + std::to_string(lines) +
                      (lines == 1 ? " line" : " lines") + " per time point, the header gives " +
                      std::to_string(header.p));
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
  fill_rate_table(
      header, regions, lung_region, reader.display_name(), header_line,
      [&]() {
        std::string_view line;
        if (!reader.next_line(line)) refuse_cut_short(reader, header, header_line, found, expected);
        ++found;
        return line;
      },
      table);
}

std::string read_data_block_text(LineReader& reader, const HeaderRecord& header) {
  const std::int64_t header_line =
      header.line_number != 0 ? header.line_number : reader.line_number();
  check_time_point_count(header, reader.display_name(), header_line);
  const std::int64_t expected = header.n > 0 ? lines_in_block(header) : 0;
  std::string text;
  const std::int64_t found = reader.append_lines(expected, text);
  if (found < expected) refuse_cut_short(reader, header, header_line, found, expected);
  return text;
}

void parse_data_block(std::string_view text, const HeaderRecord& header,
                      std::span<const int> regions, int lung_region, RateTable& table) {
  std::int64_t found = 0;
  fill_rate_table(
      header, regions, lung_region, "the data block", header.line_number,
      [&]() {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
          refuse_record("the data block", header.line_number, header.line,
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
  const bool pairs = trim_trailing_blanks(header.table_code) == "B";
  const std::int64_t expected = pairs ? 2 * std::int64_t{header.n} : header.n;
  const std::int64_t found = reader.skip_lines(expected);
  if (found < expected) refuse_cut_short(reader, header, header_line, found, expected);
}

}  // namespace kestrane
