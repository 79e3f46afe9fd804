// Tests of the integration-times file: the START and END lines, value lines, and refusals.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "input/input_error.h"
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

// The forms of a value line: a number by the number rule, then nothing, or blanks and a word
// beginning with d or D and anything after it, is read as that number; a line that begins
// with no number reads as 0. Anything else after the number, a line that begins with NaN or
// inf(inity), a number that overflows, is too large for the coefficient files'
// single-precision numbers or is negative, is refused with the file, its line, the line
// quoted and what is wrong with it. Every case stands on line 4, between two sound times.
struct ValueLineCase {
  std::string line;
  double time = 0.0;    // the time read, where the line is accepted
  std::string problem;  // the refusal after the quoted line; empty where the line is accepted
};

// The line alone, for the names gtest gives a failing case.
void PrintTo(const ValueLineCase& c, std::ostream* out) { *out << '"' << c.line << '"'; }

ValueLineCase read_as(std::string line, double time) { return {std::move(line), time, ""}; }

ValueLineCase refused_for(std::string line, std::string problem) {
  return {std::move(line), 0.0, std::move(problem)};
}

// A line refused for the text `after` that follows its number.
ValueLineCase after_number(std::string line, const std::string& after) {
  return refused_for(std::move(line), "has \"" + after +
                                          "\" after its number, where only blanks and a word "
                                          "beginning with d (as in \"30 days\") may follow");
}

constexpr const char* kNotANumber = "is not a number of days";
constexpr const char* kOverflow = "is too large to be read as a finite number of days";
constexpr const char* kNegative = "is negative";
constexpr const char* kTooLarge =
    "is too large for the single-precision numbers of the coefficient files";

class IntegrationTimeValueLine : public testing::TestWithParam<ValueLineCase> {};

TEST_P(IntegrationTimeValueLine, IsReadOrRefusedWithTheFileAndTheLine) {
  const ValueLineCase& c = GetParam();
  const std::string text = "Times\r\nSTART\r\n7\r\n" + c.line + "\r\n30\r\nEND\r\n";
  if (c.problem.empty()) {
    EXPECT_EQ(read_times(text), (Times{7.0, c.time, 30.0})) << c.line;
    return;
  }
  EXPECT_EQ(refusal(text), "data\\Kestrane.ini, line 4: the integration time \"" +
                               printable_excerpt(c.line) + "\" " + c.problem +
                               "; every integration time must be a finite number of days, 0 or "
                               "more.");
}

INSTANTIATE_TEST_SUITE_P(
    EachForm, IntegrationTimeValueLine,
    testing::Values(
        // Accepted: the number alone, or with blanks and a word of days and a comment.
        read_as("30", 30.0), read_as("  30  \t", 30.0), read_as("30 days", 30.0),
        read_as("1 d", 1.0), read_as("7 Day", 7.0), read_as("12\tDAYS", 12.0),
        read_as("18250 days (50 years)", 18250.0), read_as("1.5 d, a day and a half", 1.5),
        read_as("30 dx", 30.0), read_as(".5 d", 0.5), read_as("5.", 5.0), read_as("+2 days", 2.0),
        read_as("1E+02 days", 100.0), read_as("1d2", 100.0), read_as("2.5D-1 d", 0.25),
        read_as("&H1F", 31.0), read_as("&17 days", 15.0), read_as("&B101", 5.0),
        // No number at the start of the line: time 0.
        read_as("", 0.0), read_as("   ", 0.0), read_as("days", 0.0), read_as("about 3", 0.0),
        read_as("- 5", 0.0), read_as(".", 0.0), read_as("&", 0.0), read_as("&9", 0.0),
        read_as("e5", 0.0),
        // Refused: text after the number other than blanks and a word of days.
        after_number("50y", "y"), after_number("50 y", "y"), after_number("18,250", ",250"),
        after_number("1.5.2", ".2"), after_number("1e", "e"), after_number("3 weeks", "weeks"),
        after_number("1d", "d"), after_number("30days", "days"),
        after_number("1E+ days", "E+ days"), after_number("18250 (50 years)", "(50 years)"),
        after_number("&H1G", "G"), after_number("2 3", "3"), after_number("1-2 d", "-2 d"),
        after_number("5\x01 d", "\\x01 d"), after_number("-5y", "y"), after_number("1E400 y", "y"),
        // Refused: not a finite number of days, 0 or more, that the coefficient files can print.
        refused_for("NaN", kNotANumber), refused_for("  nan(1)", kNotANumber),
        refused_for("inf", kNotANumber), refused_for("-INF", kNotANumber),
        refused_for("Infinity days", kNotANumber), refused_for("+infinity", kNotANumber),
        refused_for("1E400", kOverflow), refused_for(" 1.0D+9999", kOverflow),
        refused_for("-1E400", kOverflow), refused_for("-1", kNegative),
        refused_for("-0.5 d", kNegative), refused_for("1E39", kTooLarge),
        refused_for("3.4028236E+38", kTooLarge)));

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
