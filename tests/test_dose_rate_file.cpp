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
  char field[32];
  std::snprintf(field, sizeof field, "%9.3E", time);
  std::string line = field;
  for (double v : columns) {
    std::snprintf(field, sizeof field, "%10.4E", v);
    line += field;
  }
  return line;
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

void expect_names_record(const std::string& message, const std::string& line_text,
                         std::int64_t line_number) {
  EXPECT_NE(message.find(kFile), std::string::npos) << message;
  EXPECT_NE(message.find("line " + std::to_string(line_number) + ":"), std::string::npos)
      << message;
  EXPECT_NE(message.find("\"" + line_text + "\""), std::string::npos) << message;
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

  LineReader label_only = LineReader::from_bytes("title\r\n  Organ\r\n", kFile);
  EXPECT_EQ(read_region_names(label_only), std::vector<std::string>{""});
  LineReader empty = LineReader::from_bytes("", kFile);
  EXPECT_EQ(read_region_names(empty), std::vector<std::string>{""});
}

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
}

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

TEST(DataBlock, SingleLineRecordsOtherThanExactlyLGoToTheHighTable) {
  for (const char* tail : {"1 H", "1 h", "1 L ", "1 Q"}) {
    const std::string line = inhalation_header("Am-241", "100", 'M', "2", tail);
    LineReader reader = reader_after_header(
        line, {data_line(1.0, columns_of_line(0)), data_line(2.0, columns_of_line(1))});
    RateTable table = filled_table();
    const std::vector<int> regions{5};
    read_data_block(reader, decode_header(line, DataSet::inhalation), regions, 30, table);
    EXPECT_EQ(table.value[1][0][0], 5.0) << tail;
    EXPECT_EQ(table.value[1][0][1], 5.25) << tail;
    EXPECT_EQ(table.value[0][0][0], kUntouched) << tail;
    EXPECT_EQ(reader.read_line(), "NEXT HEADER");
  }
}

TEST(DataBlock, PairsFillLowThenHighAndKeepTheSecondTime) {
  const std::string line = ingestion_header("Sr-90", "365", "0.3", "2", "2 B");
  const std::vector<std::string> lines{
      data_line(1.0, columns_of_line(0)), data_line(1.5, columns_of_line(1)),
      data_line(3.0, columns_of_line(2)), data_line(3.5, columns_of_line(3))};
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

// Lines of the usual " d.dddEsdd" fields, read with all regions in one pass, and lines where one
// field has another form, read field by field: every cell as when its region is read alone,
// which reads only its own field, and as strtod reads the field.
TEST(DataBlock, AllRegionsInOnePassAgreeWithEachRegionAlone) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> rate(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-40, 5);
  std::uniform_int_distribution<int> column(0, 28);
  const int n = 60;
  const std::string header = inhalation_header("Pu-239", "100", 'M', std::to_string(n), "1 L");
  std::vector<std::string> lines;
  std::vector<std::vector<double>> written;
  const std::vector<std::string> odd_fields = {"  1.5E-07 ", "1.2345E-05", "  1.234-05",
                                               " 1.234E+5 ", "          ", " 1.234Q-05"};
  for (int i = 0; i < n; ++i) {
    char field[32];
    std::snprintf(field, sizeof field, "%9.3E", 0.5 * (i + 1));
    std::string line = field;
    std::vector<double> values;
    for (int c = 0; c < 29; ++c) {
      const double sign = c % 7 == 3 ? -1.0 : 1.0;
      std::snprintf(field, sizeof field, "%10.3E",
                    sign * rate(rng) * std::pow(10.0, exponent(rng)));
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

TEST(DataBlock, ShortLinesGiveZeroAndNoTimePointsReadsNothing) {
  const std::string line = inhalation_header("K-40", "100", 'F', "2", "1 L");
  // The second line stops inside region column 2: its field holds " 2.5" and column 3 is empty.
  LineReader reader = reader_after_header(line, {"", "  4.0E+00   1.0E+00 2.5"});
  RateTable table = filled_table();
  const std::vector<int> regions{1, 2, 3, 30};
  read_data_block(reader, decode_header(line, DataSet::inhalation), regions, 30, table);
  EXPECT_EQ(table.x[0], 0.0);
  EXPECT_EQ(table.value[0][0][0], 0.0);
  EXPECT_EQ(table.x[1], 4.0);
  EXPECT_EQ(table.value[0][0][1], 1.0);
  EXPECT_EQ(table.value[0][1][1], 2.5);
  EXPECT_EQ(table.value[0][2][1], 0.0);
  EXPECT_EQ(table.value[0][3][1], 0.0);

  const std::string empty_line = inhalation_header("K-40", "100", 'F', "0", "1 L");
  LineReader empty = reader_after_header(empty_line, {});
  RateTable untouched = filled_table();
  read_data_block(empty, decode_header(empty_line, DataSet::inhalation), regions, 30, untouched);
  EXPECT_EQ(untouched.x[0], kUntouched);
  EXPECT_EQ(empty.read_line(), "NEXT HEADER");
}

TEST(DataBlock, RecordCutShortIsRefused) {
  for (const char* tail : {"1 L", "2 B"}) {
    const std::string line = inhalation_header("Th-232", "5475", 'S', "3", tail);
    const std::string text = "title\r\n names\r\n" + line + "\r\n" + data_line(1.0, {1.0}) +
                             "\r\n" + data_line(2.0, {2.0});
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
    parse_data_block(text, b, regions, 30, from_text);
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
