// Tests of the dose-rate file: region names, header decoding for both layouts, header checks,
// data blocks of L, H and B records with the composite "Lung", and refusals.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "input/dose_rate_file.h"
#include "tests/support/damaged_lines.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

const std::string kFile = "DATA\\KVR13INH.DRT";

// An inhalation header line: name (7), blank, age (5), 5 unread, class, 9 unread, N (3),
// blank, then P and code from column 33 as given.
std::string inhalation_header(const std::string& nuclide, const std::string& age, char cls,
                              const std::string& n, const std::string& p_and_code) {
  char text[128];
  std::snprintf(text, sizeof text, "%-7s %5s xxxx%c%-9s%3s %s", nuclide.c_str(), age.c_str(), cls,
                " unread", n.c_str(), p_and_code.c_str());
  return text;
}

// An ingestion header line: name (7), blank, age (5), f1 (7), blank, N (3), blank, then P and
// code from column 26 as given.
std::string ingestion_header(const std::string& nuclide, const std::string& age,
                             const std::string& f1, const std::string& n,
                             const std::string& p_and_code) {
  char text[128];
  std::snprintf(text, sizeof text, "%-7s %5s%-7s %3s %s", nuclide.c_str(), age.c_str(), f1.c_str(),
                n.c_str(), p_and_code.c_str());
  return text;
}

// A full data line: the time in columns 1-9 and region column c in columns 10c to 10c+9.
std::string data_line(double time, const std::vector<double>& columns) {
  return test_support::data_line(time, columns, 4);
}

// Column values that tell line and column apart: line l, column c holds c + l / 4.
std::vector<double> columns_of_line(int l, int count = 29) {
  std::vector<double> v;
  for (int c = 1; c <= count; ++c) v.push_back(c + l / 4.0);
  return v;
}

// The composite "Lung" of a line, in the order of products and sums the file format fixes,
// with the single-precision weights written out.
double lung_of(const std::vector<double>& c) {
  double cell = 0.16650000214576721 * c[14];
  cell += 0.16650000214576721 * c[15];
  cell += 0.33300000429153442 * c[16];
  cell += 0.33300000429153442 * c[17];
  return cell;
}

constexpr double kUntouched = -7.0;

RateTable filled_table() {
  RateTable table;
  table.x.fill(kUntouched);
  for (auto& t : table.value) {
    for (auto& row : t) row.fill(kUntouched);
  }
  return table;
}

// The message of the InputError that `action` raises ("" when none).
template <typename Action>
std::string refusal(Action action) {
  try {
    action();
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

// The message begins with the file and the line number and quotes the line (made printable).
void expect_names_record(const std::string& message, const std::string& line_text,
                         std::int64_t line_number) {
  EXPECT_EQ(message.find(kFile + ", line " + std::to_string(line_number) + ": "), 0u) << message;
  EXPECT_NE(message.find("\"" + printable_excerpt(line_text) + "\""), std::string::npos) << message;
}

std::string region_line(int names) {
  std::string line = "  Organ   ";
  for (int i = 1; i <= names; ++i) line += " R" + std::to_string(i) + (i % 3 == 0 ? "   " : "");
  return line;
}

TEST(RegionNames, LabelDroppedAndNamesSplitAtRunsOfBlanks) {
  LineReader reader = LineReader::from_bytes(
      "Absorbed dose rates\r\n   Organ  Adrenals   UB-wall\tx  Bone-Surf \r\nheader\r\n", kFile);
  EXPECT_EQ(read_region_names(reader),
            (std::vector<std::string>{"Adrenals", "UB-wall\tx", "Bone-Surf"}));
  EXPECT_EQ(reader.read_line(), "header");
}

TEST(RegionNames, TwentyNineNamesAndTheLabelOnlyCase) {
  LineReader reader = LineReader::from_bytes("title\r\n" + region_line(29) + "\r\n", kFile);
  const auto names = read_region_names(reader);
  ASSERT_EQ(names.size(), 29u);
  EXPECT_EQ(names.front(), "R1");
  EXPECT_EQ(names.back(), "R29");
}

// A file that ends before its region-name line, or whose region-name line holds no name
// after its label, is refused naming line 2; one in UTF-16, or with CR CR LF line ends, is
// refused saying so.
class RegionNameRefusal : public testing::TestWithParam<std::pair<std::string, const char*>> {};

TEST_P(RegionNameRefusal, NamesTheLineAndTheCause) {
  LineReader reader = LineReader::from_bytes(GetParam().first, kFile);
  const std::string message = refusal([&] { read_region_names(reader); });
  EXPECT_EQ(message.find(kFile + ", line " + GetParam().second), 0u) << message;
}

// `text` in UTF-16, little-endian with a byte-order mark or big-endian without.
std::string utf16(std::string_view text, bool little_endian) {
  std::string bytes = little_endian ? "\xff\xfe" : "";
  for (const char c : text) {
    bytes += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return bytes;
}

const char* const kUtf16 = "1: the file is in UTF-16 (two bytes to a character), not plain text";
const char* const kDoubledEnds = "2: the file's lines end in CR CR LF";

INSTANTIATE_TEST_SUITE_P(
    EndNoNameOrNotPlainText, RegionNameRefusal,
    testing::Values(
        std::pair{std::string(""), "2: the file ends before its region-name line"},
        std::pair{std::string("title only"), "2: the file ends before its region-name line"},
        std::pair{std::string("title\r\n\x1a names"), "2: the file ends before its region-name"},
        std::pair{std::string("title\r\n  Organ  \r\nx"), "2: the region-name line holds no"},
        std::pair{std::string("title\r\n\r\nx"), "2: the region-name line holds no region"},
        std::pair{std::string("title\r\n\r\n\r\nx"), "2: the region-name line holds no"},
        std::pair{utf16("title\r\n Organ A B\r\n", true), kUtf16},
        std::pair{utf16("title\r\n Organ A B\r\n", false), kUtf16},
        std::pair{utf16("title", true), kUtf16},
        std::pair{std::string("title\r\n Organ A") + '\0' + "B\r\n",
                  "2: the file is in UTF-16 (two bytes to a character)"},
        std::pair{std::string("title\r\r\n Organ A B\r\r\nH-3  ...\r\r\n"), kDoubledEnds}));

TEST(RegionNames, MoreThan33NamesAreRefused) {
  LineReader fits = LineReader::from_bytes("title\r\n" + region_line(33) + "\r\n", kFile);
  EXPECT_EQ(read_region_names(fits).size(), 33u);

  const std::string line = region_line(34);
  LineReader reader = LineReader::from_bytes("title\r\n" + line + "\r\n", kFile);
  const std::string message = refusal([&] { read_region_names(reader); });
  expect_names_record(message, line, 2);
  EXPECT_NE(message.find("34 names"), std::string::npos) << message;
}

TEST(DecodeHeader, InhalationLayout) {
  const std::string line = inhalation_header("Cs-137", "365", 'F', "60", "1 L");
  ASSERT_EQ(line.size(), 35u);
  const HeaderRecord h = decode_header(line, DataSet::inhalation, 12);
  EXPECT_EQ(h.nuclide, "Cs-137 ");
  EXPECT_EQ(h.age_days, 365);
  EXPECT_EQ(h.class_or_f1, "F");
  EXPECT_EQ(h.n, 60);
  EXPECT_EQ(h.p, 1);
  EXPECT_EQ(h.table_code, "L");
  EXPECT_EQ(h.line, line);
  EXPECT_EQ(h.line_number, 12);

  // P read from column 33 to the end stops at the blank; the code is upper-cased.
  const HeaderRecord lower =
      decode_header(inhalation_header("I-131", "7300", 'S', "150", "2 b"), DataSet::inhalation);
  EXPECT_EQ(lower.age_days, 7300);
  EXPECT_EQ(lower.n, 150);
  EXPECT_EQ(lower.p, 2);
  EXPECT_EQ(lower.table_code, "B");
}

TEST(DecodeHeader, IngestionLayout) {
  const std::string line = ingestion_header("Sr-90", "1825", "3.0E-01", "42", "1 h");
  ASSERT_EQ(line.size(), 28u);
  const HeaderRecord h = decode_header(line, DataSet::ingestion);
  EXPECT_EQ(h.nuclide, "Sr-90  ");
  EXPECT_EQ(h.age_days, 1825);
  EXPECT_EQ(h.class_or_f1, "3.0E-01");
  EXPECT_EQ(h.n, 42);
  EXPECT_EQ(h.p, 1);
  EXPECT_EQ(h.table_code, "H");
}

TEST(DecodeHeader, IntegerFieldsAndOddCodes) {
  auto age_of = [](const std::string& age) {
    return decode_header(inhalation_header("X", age, 'F', "5", "1 L"), DataSet::inhalation)
        .age_days;
  };
  EXPECT_EQ(age_of(" 7300"), 7300);
  EXPECT_EQ(age_of("100.5"), 100);
  EXPECT_EQ(age_of("101.5"), 102);
  EXPECT_EQ(age_of("  1e4"), 10000);

  // Trailing blanks stay part of the code.
  EXPECT_EQ(decode_header(inhalation_header("X", "100", 'F', "5", "1 l  "), DataSet::inhalation)
                .table_code,
            "L  ");
  // A short line gives empty fields, which read as 0.
  const HeaderRecord short_line = decode_header("Ra-226  100", DataSet::ingestion);
  EXPECT_EQ(short_line.nuclide, "Ra-226 ");
  EXPECT_EQ(short_line.age_days, 100);
  EXPECT_EQ(short_line.class_or_f1, "");
  EXPECT_EQ(short_line.n, 0);
  EXPECT_EQ(short_line.table_code, "");
}

TEST(BlankHeader, EmptyOrAllBlanks) {
  EXPECT_TRUE(is_blank_header(""));
  EXPECT_TRUE(is_blank_header("     "));
  EXPECT_TRUE(is_blank_header(" \t "));
  EXPECT_FALSE(is_blank_header("   x "));
}

TEST(ValidateHeader, AcceptsAgreeingCodes) {
  for (const char* tail : {"1 L", "1 h", "2 B", "1 L   ", "2 b "}) {
    const HeaderRecord h =
        decode_header(inhalation_header("Co-60", "100", 'M', "150", tail), DataSet::inhalation);
    EXPECT_NO_THROW(validate_header(h, kFile)) << tail;
  }
  const HeaderRecord none =
      decode_header(inhalation_header("Co-60", "100", 'M', "0", "1 H"), DataSet::inhalation);
  EXPECT_NO_THROW(validate_header(none, kFile));
  // Number fields with blanks around one number, rounded into range, or blanks only.
  for (const char* age : {"100.5", "7.3E3", "99999", "    0", "     ", "-0.4 ", "&H1F "}) {
    std::string line = inhalation_header("Co-60", "1", 'M', "2.5", "1 H");
    line.replace(8, 5, age);
    EXPECT_NO_THROW(validate_header(decode_header(line, DataSet::inhalation), kFile)) << age;
  }
}

struct HeaderFieldCase {
  DataSet data_set;
  std::string age;             // columns 9-13
  std::string n;               // columns 29-31 (inhalation) or 22-24 (ingestion)
  std::string expected_start;  // the message after "<file>, line 57: "
};

// A header's age or time-point count field that holds anything but one number with blanks
// around it, or a number out of range, is refused naming the columns.
class HeaderFieldRefusal : public testing::TestWithParam<HeaderFieldCase> {};

TEST_P(HeaderFieldRefusal, NamesTheColumns) {
  const HeaderFieldCase& c = GetParam();
  const bool inhalation = c.data_set == DataSet::inhalation;
  std::string line = inhalation ? inhalation_header("Pu-239", "1", 'M', "5", "1 L")
                                : ingestion_header("Pu-239", "1", "1.0E-03", "5", "1 L");
  line.replace(8, 5, c.age);
  line.replace(inhalation ? 28 : 21, 3, c.n);
  const HeaderRecord h = decode_header(line, c.data_set, 57);
  const std::string message = refusal([&] { validate_header(h, kFile); });
  EXPECT_EQ(message.find(kFile + ", line 57: " + c.expected_start), 0u) << message;
  expect_names_record(message, line, 57);
}

INSTANTIATE_TEST_SUITE_P(
    NotOneNumberOrOutOfRange, HeaderFieldRefusal,
    testing::Values(
        HeaderFieldCase{DataSet::inhalation, "  abc", "  5",
                        "the age field (columns 9-13) holds \"  abc\", not one number"},
        HeaderFieldCase{DataSet::inhalation, "  1 2", "  5", "the age field (columns 9-13) holds"},
        HeaderFieldCase{DataSet::inhalation, " nan ", "  5", "the age field (columns 9-13) holds"},
        HeaderFieldCase{DataSet::inhalation, std::string("  1\0\x1b", 5), "  5",
                        "the age field (columns 9-13) holds \"  1\\x00\\x1b\""},
        HeaderFieldCase{DataSet::inhalation, "100d ", "  5", "the age field (columns 9-13) holds"},
        HeaderFieldCase{DataSet::inhalation, "1E999", "  5",
                        "the age field (columns 9-13) \"1E999\" is a number too large"},
        HeaderFieldCase{DataSet::inhalation, "  -10", "  5",
                        "the age -10 is outside 0 to 99999 days (columns 9-13)"},
        HeaderFieldCase{DataSet::inhalation, "1.5E5", "  5",
                        "the age 150000 is outside 0 to 99999 days (columns 9-13)"},
        HeaderFieldCase{DataSet::inhalation, "  100", "x  ",
                        "the time-point count field (columns 29-31) holds \"x  \""},
        HeaderFieldCase{DataSet::inhalation, "  100", "1 2",
                        "the time-point count field (columns 29-31) holds"},
        HeaderFieldCase{DataSet::inhalation, "  100", "inf",
                        "the time-point count field (columns 29-31) holds"},
        HeaderFieldCase{DataSet::ingestion, "  100", std::string("\0 3", 3),
                        "the time-point count field (columns 22-24) holds \"\\x00 3\""},
        HeaderFieldCase{DataSet::ingestion, "  100", "151",
                        "the record has 151 time points, more than the 150 a record may have "
                        "(columns 22-24)"}));

TEST(ValidateHeader, RefusalsNameFileLineAndHeader) {
  struct Case {
    std::string n, tail, problem;
  };
  const std::vector<Case> cases{
      {"10", "1 X", "\"X\" is not L, B or H"},
      {"10", "1 LB", "\"LB\" is not L, B or H"},
      {"10", "1", "no table code"},
      {"10", "1 \tL", "is not L, B or H"},
      {"10", "2 L", "the table code L takes 1 line per time point, the header gives 2"},
      {"10", "2 H", "takes 1 line"},
      {"10", "1 B", "the table code B takes 2 lines per time point, the header gives 1"},
      {"10", "0 B", "the header gives 0"},
      {"151", "1 L", "151 time points, more than the 150"},
      {" -1", "1 L", "-1 is negative"},
      {"9E9", "1 L", "2147483647 time points"},
  };
  for (const Case& c : cases) {
    const std::string line = inhalation_header("Pu-239", "3650", 'M', c.n, c.tail);
    const HeaderRecord h = decode_header(line, DataSet::inhalation, 57);
    const std::string message = refusal([&] { validate_header(h, kFile); });
    expect_names_record(message, line, 57);
    EXPECT_NE(message.find(c.problem), std::string::npos) << message;
  }
}

// A reader standing just after the header line `header` (line 3 of the file), with the given
// data lines and a following header line.
LineReader reader_after_header(const std::string& header, const std::vector<std::string>& lines,
                               std::size_t block_size = 1 << 20) {
  std::string text = "title\r\n names\r\n" + header + "\r\n";
  for (const auto& l : lines) text += l + "\r\n";
  text += "NEXT HEADER\r\n";
  LineReader reader = LineReader::from_bytes(text, kFile, block_size);
  reader.skip_lines(3);
  return reader;
}

TEST(DataBlock, LowTableRecordWithRegionsInAnyOrderAndLung) {
  const std::string line = inhalation_header("Cs-137", "100", 'F', "3", "1 L");
  std::vector<std::string> lines;
  for (int l = 0; l < 3; ++l) lines.push_back(data_line(0.5 * (l + 1), columns_of_line(l)));
  for (std::size_t block : {std::size_t{1} << 20, std::size_t{64}}) {
    LineReader reader = reader_after_header(line, lines, block);
    RateTable table = filled_table();
    const std::vector<int> regions{30, 2, 1, 29};
    read_data_block(reader, decode_header(line, DataSet::inhalation), regions, 30, table);
    for (std::size_t i = 0; i < 3; ++i) {
      const auto c = columns_of_line(static_cast<int>(i));
      EXPECT_EQ(table.x[i], 0.5 * static_cast<double>(i + 1));
      EXPECT_EQ(table.value[0][0][i], lung_of(c));
      EXPECT_EQ(table.value[0][1][i], c[1]);
      EXPECT_EQ(table.value[0][2][i], c[0]);
      EXPECT_EQ(table.value[0][3][i], c[28]);
      EXPECT_EQ(table.value[1][0][i], kUntouched);  // the high table is left as it was
    }
    EXPECT_EQ(table.x[3], kUntouched);
    EXPECT_EQ(table.value[0][4][0], kUntouched);
    EXPECT_EQ(reader.read_line(), "NEXT HEADER");
  }
}

TEST(DataBlock, PairsFillLowThenHighAtTheirOneTime) {
  const std::string line = ingestion_header("Sr-90", "365", "0.3", "2", "2 B");
  // The two lines of a time point may write its time differently.
  std::string high_first = data_line(1.5, columns_of_line(1));
  high_first.replace(0, 9, "     1.50");
  const std::vector<std::string> lines{data_line(1.5, columns_of_line(0)), high_first,
                                       data_line(3.5, columns_of_line(2)),
                                       data_line(3.5, columns_of_line(3))};
  LineReader reader = reader_after_header(line, lines);
  RateTable table = filled_table();
  const std::vector<int> regions{3, 30};
  read_data_block(reader, decode_header(line, DataSet::ingestion), regions, 30, table);
  EXPECT_EQ(table.x[0], 1.5);
  EXPECT_EQ(table.x[1], 3.5);
  EXPECT_EQ(table.value[0][0][0], 3.0);
  EXPECT_EQ(table.value[1][0][0], 3.25);
  EXPECT_EQ(table.value[0][0][1], 3.5);
  EXPECT_EQ(table.value[1][0][1], 3.75);
  EXPECT_EQ(table.value[0][1][1], lung_of(columns_of_line(2)));
  EXPECT_EQ(table.value[1][1][1], lung_of(columns_of_line(3)));
  EXPECT_EQ(reader.read_line(), "NEXT HEADER");
}

// A high-table line whose time is not its low-table line's is refused, naming both times, by
// both ways of reading a block.
TEST(DataBlock, PairWithTwoTimesIsRefused) {
  const std::string line = inhalation_header("Cs-137", "7300", 'F', "2", "2 B");
  const std::vector<std::string> lines{
      data_line(1.0, columns_of_line(0)), data_line(1.0, columns_of_line(1)),
      data_line(3.0, columns_of_line(2)), data_line(3.5, columns_of_line(3))};
  const HeaderRecord h = decode_header(line, DataSet::inhalation, 3);
  const std::vector<int> regions{1};
  RateTable table = filled_table();
  LineReader reader = reader_after_header(line, lines);
  const std::string direct = refusal([&] { read_data_block(reader, h, regions, 30, table); });
  EXPECT_EQ(direct.find(kFile + ", line 7: the time 3.5 (columns 1-9) is not the time 3 of the "
                                "low-table line before it"),
            0u)
      << direct;
  EXPECT_NE(direct.find("Header line (line 3): \"Cs-137   7300"), std::string::npos) << direct;
  LineReader split = reader_after_header(line, lines);
  const std::string text = read_data_block_text(split, h);
  EXPECT_EQ(refusal([&] { parse_data_block(text, h, regions, 30, table, kFile); }), direct);
}

TEST(DataBlock, AllRegionsInReverseOrder) {
  const std::string line = inhalation_header("U-238", "7300", 'S', "1", "1 H");
  const auto c = columns_of_line(3);
  LineReader reader = reader_after_header(line, {data_line(10.0, c)});
  RateTable table = filled_table();
  std::vector<int> regions;
  for (int r = 30; r >= 1; --r) regions.push_back(r);
  read_data_block(reader, decode_header(line, DataSet::inhalation), regions, 30, table);
  EXPECT_EQ(table.value[1][0][0], lung_of(c));
  for (std::size_t k = 1; k < 30; ++k) EXPECT_EQ(table.value[1][k][0], c[29 - k]) << k;
}

// Lines of the usual " d.dddEsdd" fields (some with a '+' lead), read with all regions in one
// pass, and lines where one field has another form, read field by field: every cell as when its
// region is read alone, which reads only its own field, as strtod reads the field, and as with a
// few regions.
TEST(DataBlock, AllRegionsInOnePassAgreeWithEachRegionAlone) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> rate(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-40, 5);
  std::uniform_int_distribution<int> column(0, 28);
  const int n = 60;
  const std::string header = inhalation_header("Pu-239", "100", 'M', std::to_string(n), "1 L");
  std::vector<std::string> lines;
  std::vector<std::vector<double>> written;
  const std::vector<std::string> odd_fields = {"  1.5E-07 ", "1.2345E-05", "  1.234d-5",
                                               " 1.234E+5 ", "          ", "   +0.0001"};
  for (int i = 0; i < n; ++i) {
    char field[32];
    std::snprintf(field, sizeof field, "%9.3E", 0.5 * (i + 1));
    std::string line = field;
    std::vector<double> values;
    for (int c = 0; c < 29; ++c) {
      std::snprintf(field, sizeof field, c % 7 == 3 ? "%+10.3E" : "%10.3E",
                    rate(rng) * std::pow(10.0, exponent(rng)));
      line += field;
    }
    if (i % 3 == 1) {  // one field in another form, anywhere on the line
      const auto at = static_cast<std::size_t>(9 + 10 * column(rng));
      line.replace(at, 10, odd_fields[static_cast<std::size_t>(i / 3) % odd_fields.size()]);
    }
    for (int c = 0; c < 29; ++c) {
      values.push_back(parse_number(line.substr(static_cast<std::size_t>(9 + 10 * c), 10)));
    }
    written.push_back(values);
    lines.push_back(line);
  }
  std::vector<int> all;
  for (int r = 1; r <= 30; ++r) all.push_back(r);
  LineReader reader = reader_after_header(header, lines);
  RateTable table = filled_table();
  read_data_block(reader, decode_header(header, DataSet::inhalation), all, 30, table);
  for (int r = 1; r <= 30; ++r) {
    LineReader alone_reader = reader_after_header(header, lines);
    RateTable alone = filled_table();
    const std::vector<int> region{r};
    read_data_block(alone_reader, decode_header(header, DataSet::inhalation), region, 30, alone);
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
      const auto k = static_cast<std::size_t>(r - 1);
      const double expected = r == 30 ? lung_of(written[i]) : written[i][k];
      ASSERT_EQ(std::bit_cast<std::uint64_t>(table.value[0][k][i]),
                std::bit_cast<std::uint64_t>(expected))
          << "line " << i << " region " << r;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(alone.value[0][0][i]),
                std::bit_cast<std::uint64_t>(expected));
      if (r < 30 && lines[i][9 + 10 * k + 1] != ' ') {
        const std::string text = lines[i].substr(9 + 10 * k, 10);
        EXPECT_EQ(expected, std::strtod(text.c_str(), nullptr)) << text;
      }
    }
  }
  EXPECT_EQ(table.x[0], 0.5);
  EXPECT_EQ(table.x[59], 30.0);
  // Regions whose columns make a run with gaps, read in one pass over the whole run (Lung alone
  // is columns 15 to 18): the same cells.
  for (const std::vector<int>& some :
       {std::vector<int>{30}, std::vector<int>{20, 15, 17}, std::vector<int>{2, 4}}) {
    LineReader some_reader = reader_after_header(header, lines);
    RateTable some_table = filled_table();
    read_data_block(some_reader, decode_header(header, DataSet::inhalation), some, 30, some_table);
    for (std::size_t k = 0; k < some.size(); ++k) {
      for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        ASSERT_EQ(
            std::bit_cast<std::uint64_t>(some_table.value[0][k][i]),
            std::bit_cast<std::uint64_t>(table.value[0][static_cast<std::size_t>(some[k] - 1)][i]))
            << "line " << i << " region " << some[k];
      }
    }
  }
}

TEST(DataBlock, LungUsesSinglePrecisionWeightsInItsOwnOrder) {
  // Random rates: the order of products and sums, and the weights, show in the last bits.
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> rate(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-30, -3);
  const int n = 150;
  const std::string line = inhalation_header("Rn-222", "100", 'F', std::to_string(n), "1 L");
  std::vector<std::string> lines;
  std::vector<std::vector<double>> columns;
  for (int i = 0; i < n; ++i) {
    std::vector<double> c;
    for (int k = 0; k < 29; ++k) c.push_back(rate(rng) * std::pow(10.0, exponent(rng)));
    lines.push_back(data_line(i + 1.0, c));
    for (double& v : c) {  // the values as written in the file
      char field[16];
      std::snprintf(field, sizeof field, "%10.4E", v);
      v = std::strtod(field, nullptr);
    }
    columns.push_back(c);
  }
  LineReader reader = reader_after_header(line, lines);
  RateTable table = filled_table();
  const std::vector<int> regions{30};
  read_data_block(reader, decode_header(line, DataSet::inhalation), regions, 30, table);
  int differs_from_grouped = 0;
  int differs_from_decimal_weights = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const auto& c = columns[i];
    EXPECT_EQ(table.value[0][0][i], lung_of(c)) << i;
    const double grouped =
        0.16650000214576721 * (c[14] + c[15]) + 0.33300000429153442 * (c[16] + c[17]);
    const double decimal = 0.1665 * c[14] + 0.1665 * c[15] + 0.333 * c[16] + 0.333 * c[17];
    differs_from_grouped += grouped != table.value[0][0][i];
    differs_from_decimal_weights += decimal != table.value[0][0][i];
  }
  EXPECT_GT(differs_from_grouped, 0);
  EXPECT_GT(differs_from_decimal_weights, 0);
}

TEST(DataBlock, LungFollowsTheNamesOfTheFile) {
  // A file with 25 names: "Lung" is region 26, while columns 15 to 18 still make it up.
  const std::string line = inhalation_header("C-14", "100", 'F', "1", "1 L");
  const auto c = columns_of_line(1, 25);
  LineReader reader = reader_after_header(line, {data_line(1.0, c)});
  RateTable table = filled_table();
  const std::vector<int> regions{25, 26};
  read_data_block(reader, decode_header(line, DataSet::inhalation), regions, 26, table);
  EXPECT_EQ(table.value[0][0][0], c[24]);
  EXPECT_EQ(table.value[0][1][0], lung_of(c));
}

TEST(DataBlock, BlankFieldsGiveZeroAndNoTimePointsReadsNothing) {
  const std::string line = inhalation_header("K-40", "100", 'F', "2", "1 L");
  // Fields of blanks only, in a line of a file of three region names (columns 1 to 3, up to
  // column 39, with "Lung" region 4), and fields that end the line exactly.
  LineReader reader = reader_after_header(line, {std::string(39, ' '),
                                                 "  4.0E+00"
                                                 "   1.0E+00"
                                                 "    2.5   "
                                                 "  \t .5e1  "});
  RateTable table = filled_table();
  const std::vector<int> regions{1, 2, 3};
  read_data_block(reader, decode_header(line, DataSet::inhalation), regions, 4, table);
  EXPECT_EQ(table.x[0], 0.0);
  EXPECT_EQ(table.value[0][0][0], 0.0);
  EXPECT_EQ(table.value[0][2][0], 0.0);
  EXPECT_EQ(table.x[1], 4.0);
  EXPECT_EQ(table.value[0][0][1], 1.0);
  EXPECT_EQ(table.value[0][1][1], 2.5);
  EXPECT_EQ(table.value[0][2][1], 5.0);

  const std::string empty_line = inhalation_header("K-40", "100", 'F', "0", "1 L");
  LineReader empty = reader_after_header(empty_line, {});
  RateTable untouched = filled_table();
  read_data_block(empty, decode_header(empty_line, DataSet::inhalation), regions, 4, untouched);
  EXPECT_EQ(untouched.x[0], kUntouched);
  EXPECT_EQ(empty.read_line(), "NEXT HEADER");
}

TEST(DataBlock, RecordCutShortIsRefused) {
  for (const char* tail : {"1 L", "2 B"}) {
    const std::string line = inhalation_header("Th-232", "5475", 'S', "3", tail);
    const std::string text = "title\r\n names\r\n" + line + "\r\n" +
                             data_line(1.0, columns_of_line(0)) + "\r\n" +
                             data_line(tail[0] == '1' ? 2.0 : 1.0, columns_of_line(1));
    const std::vector<int> regions{1};
    LineReader reader = LineReader::from_bytes(text, kFile);
    reader.skip_lines(3);
    RateTable table = filled_table();
    const HeaderRecord header = decode_header(line, DataSet::inhalation, 3);
    const std::string message =
        refusal([&] { read_data_block(reader, header, regions, 30, table); });
    expect_names_record(message, line, 3);
    const std::string expected =
        tail[0] == '1' ? "after 2 of the 3 data lines" : "after 2 of the 6 data lines";
    EXPECT_NE(message.find(expected), std::string::npos) << message;

    // Passed over instead, the same record is refused too; the line number comes from the
    // reader when the header does not carry it.
    LineReader skipping = LineReader::from_bytes(text, kFile);
    skipping.skip_lines(3);
    const std::string skipped =
        refusal([&] { skip_data_block(skipping, decode_header(line, DataSet::inhalation)); });
    expect_names_record(skipped, line, 3);
    EXPECT_NE(skipped.find(expected), std::string::npos) << skipped;
  }
}

TEST(DataBlock, MoreThan150TimePointsIsRefusedBeforeReading) {
  const std::string line = inhalation_header("Ac-227", "100", 'F', "151", "1 L");
  LineReader reader = reader_after_header(line, {data_line(1.0, {1.0})});
  RateTable table = filled_table();
  const std::vector<int> regions{1};
  const std::string message = refusal([&] {
    read_data_block(reader, decode_header(line, DataSet::inhalation, 3), regions, 30, table);
  });
  expect_names_record(message, line, 3);
  EXPECT_EQ(table.x[0], kUntouched);
}

struct DataLineCase {
  std::size_t at;           // where the replacement starts (0-based), or the length to cut to
  std::string replacement;  // empty: the line is cut to `at` characters
  std::string expected;     // the message after "<file>, line 5: "
};

// Reads the record of a 2-point L record at line 3 whose second data line (line 5) is changed
// as the case says, for regions 1, 3 and "Lung" (columns 15-18): from the file, and from the
// text of the block (or for the regions given). Returns both messages.
std::pair<std::string, std::string> data_line_refusals(const DataLineCase& c,
                                                       const std::vector<int>& regions = {1, 3,
                                                                                          30}) {
  const std::string header = inhalation_header("Pu-239", "100", 'M', "2", "1 L");
  std::string bad = data_line(2.0, columns_of_line(1));
  if (c.replacement.empty()) {
    bad.resize(c.at);
  } else {
    bad.replace(c.at, c.replacement.size(), c.replacement);
  }
  const std::vector<std::string> lines{data_line(1.0, columns_of_line(0)), bad};
  RateTable table = filled_table();
  LineReader reader = reader_after_header(header, lines);
  const HeaderRecord h = decode_header(header, DataSet::inhalation, 3);
  const std::string direct = refusal([&] { read_data_block(reader, h, regions, 30, table); });
  LineReader split = reader_after_header(header, lines);
  const std::string text = read_data_block_text(split, h);
  const std::string parsed = refusal([&] { parse_data_block(text, h, regions, 30, table, kFile); });
  return {direct, parsed};
}

// A data line that does not hold every field read from it in full, or a field read that holds
// anything but one finite number with blanks around it, is refused naming the line, the
// columns and the record's header line with its own number.
class DataLineRefusal : public testing::TestWithParam<DataLineCase> {};

TEST_P(DataLineRefusal, NamesLineColumnsAndHeader) {
  const auto [direct, parsed] = data_line_refusals(GetParam());
  EXPECT_EQ(direct.find(kFile + ", line 5: " + GetParam().expected), 0u) << direct;
  EXPECT_NE(direct.find(". Header line (line 3): \"Pu-239    100 xxxxM unread    2 1 L\""),
            std::string::npos)
      << direct;
  EXPECT_EQ(parsed, direct);
  // Region 3 alone, read through the reading of one column, meets the same first fault where
  // that is in the time field or in column 3.
  if (GetParam().expected.find("region column 3 ") != std::string::npos ||
      GetParam().expected.find("time field") != std::string::npos) {
    const auto [alone, alone_parsed] = data_line_refusals(GetParam(), {3});
    EXPECT_EQ(alone, direct);
    EXPECT_EQ(alone_parsed, direct);
  }
}

INSTANTIATE_TEST_SUITE_P(
    CutShortOrNotOneFiniteNumber, DataLineRefusal,
    testing::Values(
        DataLineCase{5, "",
                     "the data line ends after column 5, before the time field (columns 1-9)"},
        DataLineCase{100, "",
                     "the data line ends after column 100, before the rate field of region column "
                     "10 (columns 100-109) that is read"},
        DataLineCase{
            185, "",
            "the data line ends after column 185, before the rate field of region column 18"},
        DataLineCase{0, "  1.0E+0x", "the time field (columns 1-9) holds \"  1.0E+0x\", not one"},
        DataLineCase{29, "  abcdefgh",
                     "the rate field of region column 3 (columns 30-39) holds \"  abcdefgh\""},
        DataLineCase{29, std::string("  1.0\0E-05", 10),
                     "the rate field of region column 3 (columns 30-39) holds \"  1.0\\x00E-05\""},
        DataLineCase{29, "       NaN", "the rate field of region column 3 (columns 30-39) holds"},
        DataLineCase{29, "      -inf", "the rate field of region column 3 (columns 30-39) holds"},
        DataLineCase{29, "1.0E-051.0", "the rate field of region column 3 (columns 30-39) holds"},
        DataLineCase{29, "  1.0  2.0", "the rate field of region column 3 (columns 30-39) holds"},
        DataLineCase{169, "  --1.0E-5",
                     "the rate field of region column 17 (columns 170-179) holds"},
        DataLineCase{29, "    1E400 ",
                     "the rate field of region column 3 (columns 30-39) \"    1E400 \" is a "
                     "number too large"},
        DataLineCase{0, "1E99999  ", "the time field (columns 1-9) \"1E99999  \" is a number"}));

// A damaged data line is refused, whatever regions are chosen, as the reading of every region
// refuses it (its first broken field, else its first rate below zero), by both ways of reading a
// block; a line that is read fills, for every choice, the cells of the line it reads as.
class DamagedDataLine : public testing::TestWithParam<test_support::DamagedLine> {};

TEST_P(DamagedDataLine, IsRefusedAlikeWhateverRegionsAreChosen) {
  const test_support::DamagedLine& c = GetParam();
  const std::string header = inhalation_header("Pu-239", "100", 'M', "2", "1 L");
  const HeaderRecord h = decode_header(header, DataSet::inhalation, 3);
  const std::string next = data_line(1.0, columns_of_line(1));
  std::vector<int> all;
  for (int r = 1; r <= 30; ++r) all.push_back(r);
  const std::vector<std::vector<int>> choices{{4}, {12}, {5, 4}, {1, 3, 30}, {30}, {29, 2}, all};
  for (const std::vector<int>& regions : choices) {
    SCOPED_TRACE(testing::PrintToString(regions));
    // The refusal of the block whose first data line (line 4) is `line`, from the file and from
    // the text of the block, which must agree; the table read from the file.
    auto read = [&](const std::string& line, RateTable& table) {
      LineReader reader = reader_after_header(header, {line, next});
      const std::string direct = refusal([&] { read_data_block(reader, h, regions, 30, table); });
      LineReader split = reader_after_header(header, {line, next});
      const std::string text = read_data_block_text(split, h);
      RateTable parsed = filled_table();
      EXPECT_EQ(refusal([&] { parse_data_block(text, h, regions, 30, parsed, kFile); }), direct);
      EXPECT_EQ(parsed.value, table.value);
      return direct;
    };
    RateTable table = filled_table();
    const std::string message = read(c.line, table);
    if (c.reason.empty()) {
      EXPECT_EQ(message, "");
      RateTable expected = filled_table();
      ASSERT_EQ(read(c.reads_as, expected), "");
      EXPECT_EQ(table.x, expected.x);
      EXPECT_EQ(table.value, expected.value);  // compared as numbers: -0 is 0
    } else {
      EXPECT_EQ(message,
                kFile + ", line 4: " + c.reason + ". Header line (line 3): \"" + header + "\"");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Lines, DamagedDataLine, testing::ValuesIn(test_support::damaged_lines()),
                         [](const testing::TestParamInfo<test_support::DamagedLine>& c) {
                           return c.param.name;
                         });

TEST(DataBlock, LineTooLongIsRefusedWithTheRecord) {
  const std::string header = inhalation_header("Pu-239", "100", 'M', "2", "1 L");
  const std::vector<std::string> lines{
      data_line(1.0, columns_of_line(0)),
      data_line(2.0, columns_of_line(1)) + std::string(70000, ' ')};
  const HeaderRecord h = decode_header(header, DataSet::inhalation, 3);
  const std::vector<int> regions{1};
  RateTable table = filled_table();
  LineReader reading = reader_after_header(header, lines);
  LineReader cutting = reader_after_header(header, lines);
  LineReader skipping = reader_after_header(header, lines);
  for (const std::string& message :
       {refusal([&] { read_data_block(reading, h, regions, 30, table); }),
        refusal([&] { read_data_block_text(cutting, h); }),
        refusal([&] { skip_data_block(skipping, h); })}) {
    EXPECT_EQ(message, kFile +
                           ", line 5: the line goes on past column 65536, far longer than any line "
                           "of a sound input file. Header line (line 3): \"" +
                           header + "\"");
  }
}

// A block of lines padded far beyond their last column keeps of each line only the columns a
// field may be read from, and reads the same tables as the lines read directly.
TEST(DataBlock, TextOfPaddedLinesKeepsOnlyTheColumnsRead) {
  const std::string header = inhalation_header("Th-232", "5475", 'S', "3", "2 B");
  std::vector<std::string> lines;
  for (int i = 0; i < 6; ++i) {
    lines.push_back(data_line(i / 2 + 1.0, columns_of_line(i)) + std::string(65000 - 299, ' '));
  }
  const HeaderRecord h = decode_header(header, DataSet::inhalation, 3);
  const std::vector<int> regions{30, 29, 1};
  LineReader direct = reader_after_header(header, lines);
  LineReader split = reader_after_header(header, lines, 4096);
  RateTable from_file = filled_table();
  RateTable from_text = filled_table();
  read_data_block(direct, h, regions, 30, from_file);
  const std::string text = read_data_block_text(split, h);
  EXPECT_LT(text.size(), 6 * std::size_t{400});  // columns 1-339 of each line, and its line end
  parse_data_block(text, h, regions, 30, from_text, kFile);
  EXPECT_EQ(from_file.x, from_text.x);
  EXPECT_EQ(from_file.value, from_text.value);
  EXPECT_EQ(from_text.value[1][1][2], 29 + 5 / 4.0);
}

// A field that is not read is still looked at: the line is refused as when it is read.
TEST(DataBlock, FieldsThatAreNotReadAreLookedAtToo) {
  const std::string header = inhalation_header("Pu-239", "100", 'M', "1", "1 L");
  std::string line = data_line(2.0, columns_of_line(1));
  line.replace(19, 10, "garbage!!\x1b");  // region column 2, not selected
  LineReader reader = reader_after_header(header, {line});
  RateTable table = filled_table();
  const std::vector<int> regions{3, 1};
  EXPECT_EQ(refusal([&] {
              read_data_block(reader, decode_header(header, DataSet::inhalation, 3), regions, 30,
                              table);
            }),
            kFile +
                ", line 4: the rate field of region column 2 (columns 20-29) holds "
                "\"garbage!!\\x1b\", not one number with blanks around it. Header line (line 3): "
                "\"" +
                header + "\"");
}

// The lines of a one-line-per-point record go to the low table for the code L, in either case
// and with or without trailing blanks, and to the high table for any other code, from the file
// and from the block's text.
class SingleLineCode : public testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(SingleLineCode, RoutesLToTheLowTableAndAnyOtherToTheHigh) {
  const auto [tail, table_index] = GetParam();
  const std::string header = inhalation_header("Am-241", "100", 'M', "2", tail);
  const std::vector<std::string> lines{data_line(1.0, columns_of_line(0)),
                                       data_line(2.0, columns_of_line(1))};
  const HeaderRecord h = decode_header(header, DataSet::inhalation, 3);
  const std::vector<int> regions{5};
  LineReader reader = reader_after_header(header, lines);
  RateTable direct = filled_table();
  read_data_block(reader, h, regions, 30, direct);
  EXPECT_EQ(reader.read_line(), "NEXT HEADER");
  LineReader split = reader_after_header(header, lines);
  RateTable parsed = filled_table();
  parse_data_block(read_data_block_text(split, h), h, regions, 30, parsed, kFile);
  for (const RateTable* table : {&direct, &parsed}) {
    const auto t = static_cast<std::size_t>(table_index);
    EXPECT_EQ(table->value[t][0][0], 5.0) << tail;
    EXPECT_EQ(table->value[t][0][1], 5.25) << tail;
    EXPECT_EQ(table->value[1 - t][0][0], kUntouched) << tail;
  }
}

INSTANTIATE_TEST_SUITE_P(TrailingBlanksAside, SingleLineCode,
                         testing::Values(std::pair{"1 L", 0}, std::pair{"1 L ", 0},
                                         std::pair{"1 l\t ", 0}, std::pair{"1 L   ", 0},
                                         std::pair{"1 H", 1}, std::pair{"1 h  ", 1},
                                         std::pair{"1 Q", 1}));

TEST(RefusalMessage, QuotesAtMostAHundredPrintableCharacters) {
  EXPECT_EQ(printable_excerpt("Cs-137  100"), "Cs-137  100");
  EXPECT_EQ(printable_excerpt("\x1b]0;owned\x07\x1b[2J\r\n\t\x7f\x80\xff"),
            "\\x1b]0;owned\\x07\\x1b[2J\\x0d\\x0a\\x09\\x7f\\x80\\xff");
  EXPECT_EQ(printable_excerpt(std::string(100, 'a')), std::string(100, 'a'));
  EXPECT_EQ(printable_excerpt(std::string(101, 'a')), std::string(100, 'a') + "...");
  // An escape that would run past the limit is left out whole.
  EXPECT_EQ(printable_excerpt(std::string(98, 'a') + "\x1b"), std::string(98, 'a') + "...");
  EXPECT_EQ(printable_excerpt("abcdef", 4), "abcd...");

  EXPECT_EQ(record_refusal_message("DATA\\KVR13ING.DRT", 9, "the reason", "Sr-90\x1b", 7),
            "DATA\\KVR13ING.DRT, line 9: the reason. Header line (line 7): \"Sr-90\\x1b\"");
  EXPECT_EQ(record_refusal_message("F", 7, "why", "H", 7), "F, line 7: why. Header line: \"H\"");
}

TEST(SkipDataBlock, PassesOverNOr2NLines) {
  struct Case {
    const char* tail;
    int lines;
  };
  for (const Case& c : {Case{"1 L", 3}, Case{"1 H", 3}, Case{"2 B", 6}, Case{"2 b  ", 6}}) {
    const std::string line = inhalation_header("Np-237", "100", 'M', "3", c.tail);
    std::vector<std::string> lines;
    for (int i = 0; i < c.lines; ++i) lines.push_back(data_line(i, {1.0}));
    LineReader reader = reader_after_header(line, lines, 16);
    skip_data_block(reader, decode_header(line, DataSet::inhalation));
    EXPECT_EQ(reader.read_line(), "NEXT HEADER") << c.tail;
  }
  const std::string none = inhalation_header("Np-237", "100", 'M', "0", "2 B");
  LineReader reader = reader_after_header(none, {});
  skip_data_block(reader, decode_header(none, DataSet::inhalation));
  EXPECT_EQ(reader.read_line(), "NEXT HEADER");
}

TEST(DoseRateFile, ReadsASmallFileRecordByRecord) {
  // Three records (L, B, H) with CR LF line ends and a blank line at the end, read in small
  // blocks as the record loop reads them.
  LineReader reader(KESTRANE_TEST_DATA "/input/small_inh.drt", kFile, 100);
  const auto names = read_region_names(reader);
  ASSERT_EQ(names.size(), 29u);
  EXPECT_EQ(names[14], "Lung-BB");
  const std::vector<int> regions{30, 15, 1};
  std::vector<HeaderRecord> headers;
  std::vector<RateTable> tables;
  for (;;) {
    const std::string_view line = reader.read_line();
    HeaderRecord header = decode_header(line, DataSet::inhalation, reader.line_number());
    if (!is_blank_header(header.line)) {
      validate_header(header, kFile);
      if (header.age_days == 365) {
        skip_data_block(reader, header);
      } else {
        tables.push_back(filled_table());
        read_data_block(reader, header, regions, 30, tables.back());
      }
      headers.push_back(header);
    }
    if (reader.at_end_of_file()) break;
  }
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers[0].line_number, 3);
  EXPECT_EQ(headers[1].line_number, 7);
  EXPECT_EQ(headers[2].line_number, 12);
  EXPECT_EQ(headers[1].table_code, "B");
  ASSERT_EQ(tables.size(), 2u);
  // Record 1 (L, 3 points): data line l (from 0) holds the column number times 1.0E-(l+5).
  EXPECT_EQ(tables[0].x[2], 30.0);
  EXPECT_EQ(tables[0].value[0][1][2], 1.5E-6);
  EXPECT_EQ(tables[0].value[0][2][0], 1.0E-5);
  EXPECT_EQ(
      tables[0].value[0][0][1],
      lung_of(std::vector<double>{1e-6, 2e-6, 3e-6, 4e-6, 5e-6, 6e-6, 7e-6, 8e-6, 9e-6, 1e-5,
                                  1.1e-5, 1.2e-5, 1.3e-5, 1.4e-5, 1.5e-5, 1.6e-5, 1.7e-5, 1.8e-5}));
  // Record 3 (H, 1 point).
  EXPECT_EQ(tables[1].x[0], 0.0);
  EXPECT_EQ(tables[1].value[1][2][0], 2.0E-9);
  EXPECT_EQ(tables[1].value[0][2][0], kUntouched);
}

TEST(DoseRateFile, TextThenParseFillsTheSameTablesAsReadingDirectly) {
  const std::vector<int> regions{30, 15, 1, 29};
  LineReader direct(KESTRANE_TEST_DATA "/input/small_inh.drt", kFile);
  LineReader split(KESTRANE_TEST_DATA "/input/small_inh.drt", kFile, 50);
  read_region_names(direct);
  read_region_names(split);
  int records = 0;
  while (!direct.at_end_of_file()) {
    const HeaderRecord a = decode_header(direct.read_line(), DataSet::inhalation);
    const HeaderRecord b =
        decode_header(split.read_line(), DataSet::inhalation, split.line_number());
    if (is_blank_header(a.line)) continue;
    RateTable from_file = filled_table();
    RateTable from_text = filled_table();
    read_data_block(direct, a, regions, 30, from_file);
    const std::string text = read_data_block_text(split, b);
    parse_data_block(text, b, regions, 30, from_text, kFile);
    EXPECT_EQ(from_file.x, from_text.x);
    EXPECT_EQ(from_file.value, from_text.value);
    ++records;
  }
  EXPECT_EQ(records, 3);
  EXPECT_TRUE(split.at_end_of_file());

  // A block cut short is refused while its text is taken.
  const std::string line = inhalation_header("Th-232", "5475", 'S', "3", "2 B");
  LineReader reader =
      LineReader::from_bytes("t\r\nn\r\n" + line + "\r\n" + data_line(1.0, {1.0}) + "\r\n", kFile);
  reader.skip_lines(3);
  const std::string message = refusal([&] {
    read_data_block_text(reader, decode_header(line, DataSet::inhalation, reader.line_number()));
  });
  expect_names_record(message, line, 3);
  EXPECT_NE(message.find("after 1 of the 6 data lines"), std::string::npos) << message;
}

}  // namespace
}  // namespace kestrane
