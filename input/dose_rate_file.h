// The dose-rate file: region names, header lines and data blocks of nuclide records.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "input/data_sets.h"
#include "input/line_reader.h"
#include "input/record_tables.h"

namespace kestrane {

// The largest age at intake a header line may give, in days (the five columns of its field).
inline constexpr std::int32_t kMaxAgeDays = 99999;

// The tables a record holds, by its table code: "L" the low table, "H" the high one, "B" both
// (blanks after the letter not counting); any other code none.
enum class RecordTables { none, low, high, both };

// The tables of a table code, as decode_header reads them.
RecordTables tables_of_code(std::string_view code);
constexpr bool holds_low(RecordTables tables) {
  return tables == RecordTables::low || tables == RecordTables::both;
}
constexpr bool holds_high(RecordTables tables) {
  return tables == RecordTables::high || tables == RecordTables::both;
}

// The fields of one header line.
struct HeaderRecord {
  std::string nuclide;        // columns 1-7, unchanged
  std::int32_t age_days = 0;  // columns 9-13
  std::string class_or_f1;    // inhalation: column 19; ingestion: columns 14-20
  std::int32_t n = 0;         // time-point count
  std::int32_t p = 0;         // lines per time point
  // Upper-cased, to the end of the line, trailing blanks kept ("L " stays "L "), for the
  // messages that quote it; what it says is `tables`, decoded once with it.
  std::string table_code;
  RecordTables tables = RecordTables::none;
  std::string line;                        // the header line itself, unchanged
  std::int64_t line_number = 0;            // its line number in the file (0 when not known)
  DataSet data_set = DataSet::inhalation;  // the layout the line was cut by
};

// Reads the title line and the region-name line; returns the names (label dropped), and the
// title line as read (its line end dropped, trailing blanks kept) in `title` when it is not
// null. Throws InputError when the file ends before the region-name line, or when that line
// holds no region name or more than kMaxRegionNames names.
std::vector<std::string> read_region_names(LineReader& reader, std::string* title = nullptr);

// Cuts the fields of a header line by the column layout of the data set. `line_number` is
// kept in the record for messages.
HeaderRecord decode_header(std::string_view line, DataSet data_set, std::int64_t line_number = 0);

// True for a line that is empty or all blanks (spaces, TABs) where a header is expected
// (passed over).
bool is_blank_header(std::string_view line);

// Checks that a (non-blank) header can be read on safely: the age field and the time-point
// count field each hold one number with blanks around it (or blanks only), the age is 0 to
// kMaxAgeDays and N is 0 to kMaxTimePoints once rounded; the table code, after its trailing
// blanks, is L, B or H; P agrees with it (1 for L and H, 2 for B). Throws InputError naming
// the file, the line number, the columns and the header line.
void validate_header(const HeaderRecord& header, const std::string& file_name);

// Reads the N x P data lines of a record into x and value(t, 1..R, 1..N) for the selected
// regions (`regions` holds region numbers; `lung_region` is the number of the composite
// "Lung"). With P = 1 the rates go to the low table when the code is "L" (trailing blanks
// aside), otherwise to the high table; with any other P each time point is a low line and a
// high line. The other table is left as it was. Only the time and the selected regions'
// columns are read, but every data line is checked whole: it must hold its time and one rate
// field for each region name of the file (region columns 1 to lung_region - 1) in full, each
// of them one number with blanks around it, or blanks only (0), that is finite, and no rate may
// be below zero (-0 is zero). The fields not selected are checked in their form alone.
// Throws InputError naming the file, the faulty line, its columns and the header line when
// a data line breaks that rule (as the selection of every region would name it: its first
// broken field, else its first rate below zero with the value), when the file ends before the
// block does, or when N is
// negative or exceeds kMaxTimePoints; std::invalid_argument for more than
// kMaxSelectedRegions regions or a region number other than lung_region outside
// 1..kMaxRegionNames.
void read_data_block(LineReader& reader, const HeaderRecord& header, std::span<const int> regions,
                     int lung_region, RateTable& table);

// The two halves of read_data_block, for reading and parsing on different threads:
// take_data_block_text takes the N x P data lines from the reader, each followed by '\n' or
// by its CR LF line end, without parsing them and cut after the last column a field may be
// read from (refusals of a block cut short as read_data_block), as a view of the reader's
// bytes where they can be handed on as they stand (LinesText); parse_data_block fills the rate
// table from that text exactly as read_data_block would have from the file, with the same
// refusals, naming `file_name`.
void take_data_block_text(LineReader& reader, const HeaderRecord& header, LinesText& text);
// The text of take_data_block_text, as a copy.
inline std::string read_data_block_text(LineReader& reader, const HeaderRecord& header) {
  LinesText text;
  take_data_block_text(reader, header, text);
  return std::string(text.view());
}
void parse_data_block(std::string_view text, const HeaderRecord& header,
                      std::span<const int> regions, int lung_region, RateTable& table,
                      std::string_view file_name);

// The tables (0 low, 1 high) whose time points 1..N the data block of `header` fills, each
// cell of every selected region: both where its lines come in pairs, else the one table its
// code names as read_data_block says. A sound block is read whole or refused, so these cells
// need no clearing beforehand.
std::array<bool, 2> tables_filled_by_block(const HeaderRecord& header);

// The line of the file where time point `point` (from 1) of the record begins: its only data
// line, or its low-table line where the lines come in pairs. 0 when the header's own line is
// not known.
std::int64_t time_point_line(const HeaderRecord& header, int point);

// Passes over the data block of a record (N lines, 2N for "B" with any trailing blanks)
// without parsing it. Throws InputError when the file ends before the block does.
// All three readers of a block refuse a line too long for the line reader naming the record's
// header line too.
void skip_data_block(LineReader& reader, const HeaderRecord& header);

}  // namespace kestrane
