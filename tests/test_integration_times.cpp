// Tests of the integration-times file: the START and END lines, value lines, and refusals.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/integration_times.h"

namespace kestrane {
namespace {

std::vector<double> read_times(const std::string& text) {
  LineReader reader = LineReader::from_bytes(text, "data\\Kestrane.ini");
  return read_integration_times(reader);
}

// The message of the InputError that reading `text` raises ("" when it raises none).
std::string refusal(const std::string& text) {
  try {
    read_times(text);
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

using Times = std::vector<double>;

TEST(IntegrationTimes, ValuesBetweenStartAndEndInFileOrder) {
  EXPECT_EQ(
      read_times("Integration times in days\r\nSTART\r\n1\r\n7.5\r\n30 days\r\nEND\r\n365\r\n"),
      (Times{1.0, 7.5, 30.0}));
  EXPECT_EQ(read_times("START\r\n1.0E+02\r\n7 d\r\nEND"), (Times{100.0, 7.0}));
  EXPECT_EQ(read_times("START\r\n50\r\n2\r\n0\r\nEND\r\n"), (Times{50.0, 2.0, 0.0}));
}

TEST(IntegrationTimes, StartAndEndAreExactCaseSensitivePrefixes) {
  EXPECT_EQ(read_times("STARTED\r\n4\r\nENDING\r\n"), Times{4.0});
  EXPECT_EQ(read_times("start\r\n9\r\nSTART of times\r\n4\r\nEND\r\n"), Times{4.0});
  EXPECT_EQ(read_times(" START\r\nSTART\r\n4\r\nEND\r\n"), Times{4.0});
  // A line that begins with a blank is a value line, even when END follows the blank.
  EXPECT_EQ(read_times("START\r\n2\r\n END\r\nEND\r\n"), (Times{2.0, 0.0}));
  EXPECT_EQ(read_times("START\r\nend\r\nEND\r\n"), Times{0.0});
  // A second START between the START and END lines is a value line.
  EXPECT_EQ(read_times("START\r\nSTART\r\nEND\r\n"), Times{0.0});
}

TEST(IntegrationTimes, EmptyAndNonNumericValueLinesCountAsZero) {
  EXPECT_EQ(read_times("START\r\n2\r\n\r\n5\r\nEND\r\n"), (Times{2.0, 0.0, 5.0}));
  EXPECT_EQ(read_times("START\r\nabout 3\r\nEND\r\n"), Times{0.0});
  // Words that merely begin like the refused ones, and underflow, still read by the rule.
  EXPECT_EQ(read_times("START\r\nnot a time\r\nindefinite\r\n1E-400\r\n-0\r\nEND\r\n"),
            (Times{0.0, 0.0, 0.0, 0.0}));
  EXPECT_EQ(read_times("START\r\nEND\r\n"), Times{});
  // The largest time the coefficient files can print.
  EXPECT_EQ(read_times("START\r\n3.4028235E+38\r\nEND\r\n"), Times{3.4028235e38});
}

TEST(IntegrationTimes, LfAndCrLineEndsReadTheSame) {
  const Times expected{1.0, 7.5, 30.0};
  EXPECT_EQ(read_times("x\nSTART\n1\n7.5\n30\nEND\n"), expected);
  EXPECT_EQ(read_times("x\rSTART\r1\r7.5\r30\rEND\r"), expected);
  // Nothing after a byte 26 is read, so the END behind it is never seen.
  EXPECT_NE(refusal(std::string("START\r\n1\r\n\x1A"
                                "END\r\n")),
            "");
}

TEST(IntegrationTimes, UpToOneHundredValues) {
  std::string text = "START\r\n";
  Times expected;
  for (int i = 1; i <= 100; ++i) {
    text += std::to_string(i) + "\r\n";
    expected.push_back(i);
  }
  EXPECT_EQ(read_times(text + "END\r\n"), expected);

  const std::string message = refusal(text + "101\r\nEND\r\n");
  EXPECT_NE(message.find("data\\Kestrane.ini"), std::string::npos) << message;
  EXPECT_NE(message.find("more than 100"), std::string::npos) << message;
  EXPECT_NE(message.find("line 102"), std::string::npos) << message;
}

TEST(IntegrationTimes, MissingStartOrEndIsRefused) {
  const std::string no_start = refusal("Integration times\r\nstart\r\n1\r\nEND\r\n");
  EXPECT_NE(no_start.find("data\\Kestrane.ini"), std::string::npos) << no_start;
  EXPECT_NE(no_start.find("no START line"), std::string::npos) << no_start;
  EXPECT_NE(refusal("").find("no START line"), std::string::npos);

  const std::string no_end = refusal("Times\r\nSTART\r\n1\r\n7.5\r\n");
  EXPECT_NE(no_end.find("data\\Kestrane.ini"), std::string::npos) << no_end;
  EXPECT_NE(no_end.find("no END line"), std::string::npos) << no_end;
  EXPECT_NE(no_end.find("line 2"), std::string::npos) << no_end;
  EXPECT_NE(refusal("START").find("no END line"), std::string::npos);
}

// A value line that begins with NaN or inf(inity), or whose number overflows, is too large for
// the coefficient files' single-precision numbers or is negative, is refused with the file,
// its line and the line quoted.
class IntegrationTimeRefusal : public testing::TestWithParam<const char*> {};

TEST_P(IntegrationTimeRefusal, NamesTheFileAndTheLine) {
  const std::string line = GetParam();
  const std::string message = refusal("Times\r\nSTART\r\n7\r\n" + line + "\r\n30\r\nEND\r\n");
  EXPECT_EQ(message.find("data\\Kestrane.ini, line 4: the integration time \"" + line + "\""), 0u)
      << message;
}

INSTANTIATE_TEST_SUITE_P(NotFiniteOrNegative, IntegrationTimeRefusal,
                         testing::Values("NaN", "  nan(1)", "inf", "-INF", "Infinity days",
                                         "+infinity", "1E400", " 1.0D+9999", "-1", "-0.5 d",
                                         "-1E400", "1E39", "3.4028236E+38"));

TEST(IntegrationTimes, ReadsTheFileByPath) {
  const std::string path = KESTRANE_TEST_DATA "/input/Kestrane.ini";
  EXPECT_EQ(read_integration_times(path, "data\\Kestrane.ini"), (Times{1.0, 7.0, 50.0 * 365.0}));
  try {
    read_integration_times(KESTRANE_TEST_DATA "/input/missing.ini", "data\\missing.ini");
    FAIL() << "a missing file was read";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("data\\missing.ini"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kestrane
