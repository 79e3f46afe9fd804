// Tests of line reading (line ends, byte 26, blocks), field cutting, the numeric reading rule
// and integer fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "input/fast_fields.h"
#include "input/line_reader.h"
#include "tests/support/test_support.h"

namespace kestrane {
namespace {

std::vector<std::string> all_lines(LineReader& reader) {
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.next_line(line)) lines.emplace_back(line);
  return lines;
}

// Appended or taken lines with each CR LF line end as '\n': a CR before a '\n' is the CR LF
// line end kept as it stands, and no other CR may be left.
std::string without_crlf(std::string_view text) {
  std::string lines;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i] == '\r' ? '?' : text[i];
  }
  return lines;
}

// Where a reader takes its bytes from: windows shared with bytes in memory, blocks copied
// from them (as a file that cannot be mapped is read), windows of a mapped file, blocks
// copied from a regular file (as the Python module reads one), or a named pipe fed as the
// reader goes (no size known, reads that return less than asked).
enum class Source { shared, copied, mapped, file_copied, pipe };

std::string source_name(const testing::TestParamInfo<Source>& info) {
  switch (info.param) {
    case Source::shared:
      return "shared";
    case Source::copied:
      return "copied";
    case Source::mapped:
      return "mapped";
    case Source::file_copied:
      return "file_copied";
    case Source::pipe:
      return "pipe";
  }
  return "unknown";
}

// Whether the reader copies the bytes into a buffer of its own rather than share them.
bool copies(Source source) { return source != Source::shared && source != Source::mapped; }

LineReader open_reader(const std::string& bytes, std::size_t block_size, Source source,
                       std::string name = "test") {
  if (source == Source::shared || source == Source::copied) {
    const auto blocks =
        source == Source::shared ? LineReader::Blocks::shared : LineReader::Blocks::copied;
    return LineReader::from_bytes(bytes, std::move(name), block_size, blocks);
  }
  // The open file outlives its folder.
  test_support::TempDir dir("kestrane_line_reader");
  const std::filesystem::path path = dir / "lines.txt";
  if (source == Source::pipe) {
    test_support::PipeWriter writer(path, bytes);
    LineReader reader(path, std::move(name), block_size);  // meets the writer
    writer.detach();
    return reader;
  }
  test_support::write_file(path, bytes);
  return LineReader(
      path, std::move(name), block_size,
      source == Source::mapped ? LineReader::Blocks::shared : LineReader::Blocks::copied);
}

std::vector<std::string> all_lines(const std::string& bytes, std::size_t block_size,
                                   Source source = Source::shared) {
  LineReader reader = open_reader(bytes, block_size, source);
  return all_lines(reader);
}

// Tests of a behaviour that must hold whatever the source of the bytes.
class EverySource : public testing::TestWithParam<Source> {};

using Lines = std::vector<std::string>;

// The long exhaustive sweeps run in full only in a build with -DKESTRANE_LONG_TESTS=ON; by
// default they take an evenly spread part of their cases.
#if KESTRANE_LONG_TESTS
constexpr int kSweepShare = 1;
#else
constexpr int kSweepShare = 7;
#endif

TEST(LineRule, CrLfCrAndLfEachEndALine) {
  const Lines expected{"alpha", "", "beta", "gamma"};
  EXPECT_EQ(all_lines("alpha\r\n\r\nbeta\r\ngamma\r\n", 1 << 20), expected);
  EXPECT_EQ(all_lines("alpha\r\rbeta\rgamma\r", 1 << 20), expected);
  EXPECT_EQ(all_lines("alpha\n\nbeta\ngamma\n", 1 << 20), expected);
  // LF CR is two line ends: the LF ends one line, the CR an empty one.
  EXPECT_EQ(all_lines("a\n\rb", 1 << 20), (Lines{"a", "", "b"}));
}

TEST(LineRule, LastLineNeedsNoEnd) {
  EXPECT_EQ(all_lines("one\r\ntwo", 1 << 20), (Lines{"one", "two"}));
  EXPECT_EQ(all_lines("", 1 << 20), Lines{});
  EXPECT_EQ(all_lines("\r\n", 1 << 20), Lines{""});
}

TEST(LineRule, Byte26EndsTheFile) {
  EXPECT_EQ(all_lines(std::string("one\r\ntw\x1Ao\r\nthree\r\n"), 1 << 20), (Lines{"one", "tw"}));
  EXPECT_EQ(all_lines(std::string("one\r\n\x1Atwo\r\n"), 1 << 20), Lines{"one"});
  EXPECT_EQ(all_lines(std::string("\x1A"), 1 << 20), Lines{});

  LineReader reader = LineReader::from_bytes(std::string("ab\x1A"
                                                         "cd"),
                                             "test");
  EXPECT_FALSE(reader.at_end_of_file());
  EXPECT_EQ(reader.read_line(), "ab");
  EXPECT_TRUE(reader.at_end_of_file());
  EXPECT_EQ(reader.read_line(), "");
  EXPECT_EQ(reader.line_number(), 1);
}

TEST(LineRule, AtEndAndReadingBeyondTheEnd) {
  LineReader reader = LineReader::from_bytes("first\r\nsecond\r\n", "test");
  EXPECT_EQ(reader.line_number(), 0);
  EXPECT_FALSE(reader.at_end_of_file());
  EXPECT_EQ(reader.read_line(), "first");
  EXPECT_FALSE(reader.at_end_of_file());
  EXPECT_EQ(reader.read_line(), "second");
  EXPECT_EQ(reader.line_number(), 2);
  EXPECT_TRUE(reader.at_end_of_file());
  EXPECT_EQ(reader.read_line(), "");
  EXPECT_EQ(reader.read_line(), "");
  std::string_view line = "x";
  EXPECT_FALSE(reader.next_line(line));
  EXPECT_TRUE(line.empty());
  EXPECT_EQ(reader.line_number(), 2);
  EXPECT_EQ(reader.bytes_consumed(), 15u);
  EXPECT_EQ(reader.total_bytes(), 15u);
}

TEST(LineRule, EmptyLineBeforeTheEndIsALine) {
  LineReader reader = LineReader::from_bytes("a\r\n\r\n", "test");
  EXPECT_EQ(reader.read_line(), "a");
  EXPECT_FALSE(reader.at_end_of_file());
  std::string_view line = "x";
  EXPECT_TRUE(reader.next_line(line));
  EXPECT_EQ(line, "");
  EXPECT_TRUE(reader.at_end_of_file());
}

// The same text read in blocks of every size from 1 byte up gives the same lines: line ends
// (CR and its LF in particular), byte 26 and long lines split between blocks.
TEST_P(EverySource, BlockSizeDoesNotChangeTheLines) {
  const std::string text = std::string("title line\r\n\r\nab\rcd\ne\r\n") + std::string(300, 'x') +
                           "\r\n\r\r\nlast\r\n" + "tail\x1A" + "junk";
  const Lines expected = all_lines(text, 1 << 20);
  ASSERT_EQ(expected.size(), 10u);
  EXPECT_EQ(expected[5], std::string(300, 'x'));
  EXPECT_EQ(expected[9], "tail");
  for (std::size_t block = 1; block <= 40; ++block) {
    EXPECT_EQ(all_lines(text, block, GetParam()), expected) << "block size " << block;
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, EverySource,
                         testing::Values(Source::shared, Source::copied, Source::mapped,
                                         Source::file_copied, Source::pipe),
                         source_name);

TEST(LineRule, CrAtTheEndOfABlockTakesTheLfOfTheNext) {
  // "ab\r" fills a 3-byte block exactly; the LF that follows belongs to the same line end.
  LineReader reader = LineReader::from_bytes("ab\r\ncd\r", "test", 3);
  EXPECT_EQ(reader.read_line(), "ab");
  EXPECT_FALSE(reader.at_end_of_file());
  EXPECT_EQ(reader.read_line(), "cd");
  EXPECT_TRUE(reader.at_end_of_file());
  EXPECT_EQ(reader.bytes_consumed(), 7u);
}

TEST_P(EverySource, SkipLinesPassesOverLinesAndCountsThem) {
  const std::string text = "h\r\n1\r\n2\n3\r4\r\nnext\r\n";
  for (std::size_t block : {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{1} << 20}) {
    LineReader reader = open_reader(text, block, GetParam());
    EXPECT_EQ(reader.read_line(), "h");
    EXPECT_EQ(reader.skip_lines(4), 4);
    EXPECT_EQ(reader.line_number(), 5);
    EXPECT_EQ(reader.read_line(), "next");
    EXPECT_EQ(reader.skip_lines(3), 0);
  }
  LineReader reader = open_reader("a\r\nb\r\nc", 1 << 20, GetParam());
  EXPECT_EQ(reader.skip_lines(10), 3);
  EXPECT_TRUE(reader.at_end_of_file());
}

// Texts of long lines with every kind of line end, some lines without one at the end of the
// file, byte 26 and other control bytes inside lines: appending, taking or skipping lines gives
// the lines that next_line gives, with the same line numbers and bytes consumed, for every
// block size; taking them gives the text that appending does.
TEST_P(EverySource, AppendingAndTakingLinesAgreeWithReadingLineByLine) {
  std::mt19937_64 rng(3);
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  const std::vector<std::string> ends = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\x1A", ""};
  for (int n = 0; n < 400; ++n) {
    std::string text;
    const int lines = pick(0, 12);
    for (int i = 0; i < lines; ++i) {
      const int length = pick(0, 3) == 0 ? pick(0, 3) : pick(10, 120);
      for (int k = 0; k < length; ++k) text += static_cast<char>('a' + k % 26);
      if (length > 0 && pick(0, 4) == 0) {
        text[text.size() - static_cast<std::size_t>(pick(1, length))] =
            "\t\x01\x19\x1b"[pick(0, 3)];
      }
      text += ends[static_cast<std::size_t>(pick(0, static_cast<int>(ends.size()) - 2))];
    }
    if (pick(0, 3) == 0) text += ends[static_cast<std::size_t>(pick(0, 6))] + "tail\r\n";
    const std::size_t block = pick(0, 2) == 0 ? std::size_t{1} << 20 : pick(1, 70);
    const std::int64_t want = pick(0, 14);

    LineReader one = open_reader(text, block, GetParam());
    LineReader all = open_reader(text, block, GetParam());
    std::string expected;
    std::int64_t expected_count = 0;
    std::string_view line;
    while (expected_count < want && one.next_line(line)) {
      expected += std::string(line) + '\n';
      ++expected_count;
    }
    std::string got = "kept ";
    ASSERT_EQ(all.append_lines(want, got), expected_count) << n;
    ASSERT_EQ(got.substr(0, 5), "kept ");
    ASSERT_EQ(without_crlf(std::string_view(got).substr(5)), expected) << n;
    ASSERT_EQ(all.line_number(), one.line_number()) << n;
    ASSERT_EQ(all.bytes_consumed(), one.bytes_consumed()) << n;
    LineReader skipping = open_reader(text, block, GetParam());
    ASSERT_EQ(skipping.skip_lines(want), expected_count) << n;
    ASSERT_EQ(skipping.line_number(), one.line_number()) << n;
    ASSERT_EQ(skipping.bytes_consumed(), one.bytes_consumed()) << n;
    LineReader taking = open_reader(text, block, GetParam());
    LinesText taken;
    ASSERT_EQ(taking.take_lines(want, taken), expected_count) << n;
    ASSERT_EQ(without_crlf(taken.view()), expected) << n;
    ASSERT_EQ(taking.line_number(), one.line_number()) << n;
    ASSERT_EQ(taking.bytes_consumed(), one.bytes_consumed()) << n;
    const auto rest = all_lines(one);
    ASSERT_EQ(all_lines(skipping), rest) << n;
    ASSERT_EQ(all_lines(all), rest) << n;
    ASSERT_EQ(all_lines(taking), rest) << n;
  }
}

TEST(AppendLines, CopiesRunsOfCrLfLinesAsTheyStand) {
  const std::string line(100, 'x');
  const std::string text = line + "\r\n" + line + "\n" + line + "\r" + line + "\r\nnext";
  LineReader reader = LineReader::from_bytes(text, "test");
  std::string got;
  EXPECT_EQ(reader.append_lines(4, got), 4);
  // The first two lines as they stand; the line that ends in a CR alone gets '\n'.
  EXPECT_EQ(got.substr(0, 2 * line.size() + 3), line + "\r\n" + line + "\n");
  EXPECT_EQ(got.substr(2 * line.size() + 3, line.size() + 1), line + "\n");
  EXPECT_EQ(reader.line_number(), 4);
  EXPECT_EQ(reader.read_line(), "next");
  EXPECT_EQ(reader.append_lines(3, got), 0);
}

TEST(FileReading, ReadsAFileFromDiskAndNamesItWhenMissing) {
  const std::string dir = KESTRANE_TEST_DATA "/input";
  LineReader reader(dir + "/crlf_lines.txt", "data\\crlf_lines.txt", 7);
  EXPECT_EQ(all_lines(reader), (Lines{"first line", "", "  third line  ", "last line"}));
  EXPECT_EQ(reader.display_name(), "data\\crlf_lines.txt");
  EXPECT_EQ(reader.total_bytes(), reader.bytes_consumed());

  try {
    LineReader missing(dir + "/no_such_file.txt", "DATA\\NOSUCH.DRT");
    FAIL() << "a missing file was opened";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("DATA\\NOSUCH.DRT"), std::string::npos) << e.what();
  }
}

// How a test takes the next line: as read_line, skip_lines, append_lines or take_lines do.
enum class Take { read, skip, append, take };

// Takes one line; false at the end of the file.
bool take_line(LineReader& reader, Take how) {
  std::string_view line;
  std::string out;
  switch (how) {
    case Take::read:
      return reader.next_line(line);
    case Take::skip:
      return reader.skip_lines(1) == 1;
    case Take::append:
      return reader.append_lines(1, out) == 1;
    case Take::take: {
      LinesText text;
      return reader.take_lines(1, text) == 1;
    }
  }
  return false;
}

std::string long_line_refusal(LineReader& reader, Take how) {
  try {
    while (take_line(reader, how)) {
    }
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

// A regular file read in blocks that another program makes shorter is refused, naming the
// file, when the reader comes to the bytes it no longer has; the lines read whole before come
// first, whichever way they are taken. The cut comes after the first line, when the first
// block (64 bytes of lines of 10: six lines and the start of the seventh) has been read.
struct ShortenedCase {
  std::string name;
  std::uintmax_t cut_to;
  std::int64_t lines_before;
  bool refused;
};

class ShortenedFile : public testing::TestWithParam<std::tuple<ShortenedCase, Take>> {};

TEST_P(ShortenedFile, IsRefusedWhereTheReaderComesToTheBytesCut) {
  const auto& [c, how] = GetParam();
  std::string text;
  for (int i = 1; i <= 100; ++i) {
    char line[16];
    std::snprintf(line, sizeof line, "line %03d\r\n", i);
    text += line;
  }
  ASSERT_EQ(text.size(), 1000u);
  test_support::TempDir dir("kestrane_shortened");
  test_support::write_file(dir / "KVR13INH.DRT", text);
  LineReader reader(dir / "KVR13INH.DRT", "DATA\\KVR13INH.DRT", 64, LineReader::Blocks::copied);
  ASSERT_EQ(reader.read_line(), "line 001");
  std::filesystem::resize_file(dir / "KVR13INH.DRT", c.cut_to);
  std::string refusal;
  try {
    while (take_line(reader, how)) {
    }
  } catch (const InputError& e) {
    refusal = e.what();
  }
  EXPECT_EQ(refusal, c.refused ? "DATA\\KVR13INH.DRT became shorter while it was read (changed by "
                                 "another program)"
                               : "");
  EXPECT_EQ(reader.line_number(), c.lines_before);
}

std::string shortened_case_name(
    const testing::TestParamInfo<std::tuple<ShortenedCase, Take>>& info) {
  static constexpr std::array<const char*, 4> kTakes{"Read", "Skip", "Append", "Take"};
  return std::get<0>(info.param).name +
         kTakes.at(static_cast<std::size_t>(std::get<1>(info.param)));
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, ShortenedFile,
    testing::Combine(testing::Values(ShortenedCase{"ToNothing", 0, 6, true},
                                     ShortenedCase{"WithinTheBlockRead", 30, 6, true},
                                     ShortenedCase{"ToTheBlockRead", 64, 6, true},
                                     ShortenedCase{"ToHalf", 500, 50, true},
                                     ShortenedCase{"WithinALine", 505, 50, true},
                                     ShortenedCase{"ByTheLastLf", 999, 100, true},
                                     ShortenedCase{"NotAtAll", 1000, 100, false}),
                     testing::Values(Take::read, Take::skip, Take::append, Take::take)),
    shortened_case_name);

// A line of up to 64 KiB is read; a longer one is refused naming the file and its line, by
// every way of taking lines, whatever the block size and whatever the line end.
class LongLine : public testing::TestWithParam<std::tuple<Take, std::size_t, const char*, Source>> {
};

TEST_P(LongLine, OverTheLimitIsRefused) {
  const auto [how, block, end, source] = GetParam();
  const std::size_t limit = LineReader::kMaxLineLength;
  ASSERT_EQ(limit, 65536u);
  const std::string bytes = "a\r\n" + std::string(limit, 'x') + end + "b\r\n" +
                            std::string(limit + 1, 'y') + end + "z\r\n";
  LineReader reader = open_reader(bytes, block, source, "DATA\\KVR13INH.DRT");
  EXPECT_EQ(long_line_refusal(reader, how),
            "DATA\\KVR13INH.DRT, line 4: the line goes on past column 65536, far longer than any "
            "line of a sound input file");
  EXPECT_EQ(reader.line_number(), 3);
}

INSTANTIATE_TEST_SUITE_P(
    EveryWayAndBlock, LongLine,
    testing::Combine(testing::Values(Take::read, Take::skip, Take::append, Take::take),
                     testing::Values(std::size_t{7}, std::size_t{4096},
                                     LineReader::kDefaultBlockSize),
                     testing::Values("\r\n", "\n", "\r"),
                     testing::Values(Source::shared, Source::copied, Source::mapped,
                                     Source::file_copied, Source::pipe)));

// Plain lines that lie in one window are handed on as a view wherever the block stands against
// the windows, and the view stays readable after the reader has moved far on and is gone;
// lines of another kind are copied. Blocks copied from the source are never handed on.
TEST_P(EverySource, TakenPlainLinesAreAViewThatOutlivesTheReader) {
  const std::string line(300, 'd');
  const std::string block = line + "\r\n" + line + "\n" + line + "\r\n";
  std::string rest;
  for (int i = 0; i < 100; ++i) rest += line + "\r\n";
  for (std::size_t pad = 0; pad < 5000; pad += 613) {
    LinesText kept;
    {
      LineReader reader = open_reader(std::string(pad, 'p') + "\r\n" + block + "odd\rx\r\n" + rest,
                                      4096, GetParam());
      reader.read_line();
      ASSERT_EQ(reader.take_lines(3, kept), 3);
      LinesText odd;
      ASSERT_EQ(reader.take_lines(2, odd), 2);
      EXPECT_EQ(odd.view(), "odd\nx\r\n");
      EXPECT_EQ(odd.holder(), nullptr);
      EXPECT_EQ(reader.skip_lines(200), 100);
    }
    EXPECT_EQ(kept.view(), block) << pad;
    EXPECT_EQ(kept.holder() != nullptr, !copies(GetParam())) << pad;
    EXPECT_GE(kept.held_bytes(), kept.holder() != nullptr ? block.size() : 0) << pad;
  }
}

// The observer sees every byte of the file once, in file order (those after a byte 26 through
// observe_rest), in pieces of at most 1 MiB, however the lines are taken; one that is handed
// what holds the bytes (all but copied blocks) may keep them past the reader's end.
TEST_P(EverySource, ObserverSeesEveryByteOnceInOrder) {
  std::string big;
  while (big.size() < (std::size_t{3} << 20)) big += std::string(299, 'b') + "\r\n";
  const std::string small =
      "head\r\none\ntwo\rthree\r\n" + std::string(5000, 'w') + "\r\nlast\r\n\x1A after the end\r\n";
  struct Piece {
    std::string_view bytes;
    std::shared_ptr<const void> holder;
    std::string copy;
  };
  for (const std::string* text : {&small, static_cast<const std::string*>(&big)}) {
    for (const std::size_t block :
         {std::size_t{1}, std::size_t{7}, std::size_t{4096}, LineReader::kDefaultBlockSize}) {
      if (text == &big && block < 4096) continue;  // a window for every few bytes of 3 MiB
      std::vector<Piece> pieces;
      {
        LineReader reader = open_reader(*text, block, GetParam());
        if (block % 2 == 0) {
          reader.observe_bytes([&](std::string_view bytes) {
            pieces.push_back({{}, {}, std::string(bytes)});
          });
        } else {
          reader.observe_held_bytes(
              [&](std::string_view bytes, std::shared_ptr<const void> holder) {
                EXPECT_EQ(holder != nullptr, !copies(GetParam()));
                pieces.push_back({bytes, holder, holder ? std::string() : std::string(bytes)});
              });
        }
        for (int step = 0; take_line(reader, static_cast<Take>(step % 4)); ++step) {
        }
        reader.observe_rest();
      }
      std::string seen;
      for (const Piece& piece : pieces) {
        const std::string_view bytes = piece.holder ? piece.bytes : piece.copy;
        EXPECT_LE(bytes.size(), std::size_t{1} << 20);
        seen += bytes;
      }
      EXPECT_TRUE(seen == *text) << "block " << block << ", " << seen.size() << " bytes seen";
    }
  }
}

// The size of the source is known beforehand but for a pipe's (0: progress shows the bytes
// read alone); the bytes consumed come to the size in the end.
TEST_P(EverySource, TotalIsTheSizeBeforehandWhereItIsKnown) {
  const std::string text = "head\r\n" + std::string(5000, 'w') + "\r\nlast";
  for (const std::size_t block : {std::size_t{7}, LineReader::kDefaultBlockSize}) {
    LineReader reader = open_reader(text, block, GetParam());
    EXPECT_EQ(reader.total_bytes(), GetParam() == Source::pipe ? 0u : text.size());
    EXPECT_EQ(all_lines(reader).size(), 3u);
    EXPECT_EQ(reader.bytes_consumed(), text.size());
    EXPECT_EQ(reader.total_bytes(), GetParam() == Source::pipe ? 0u : text.size());
  }
}

// append_lines keeps at most `keep` characters of each line, whatever its line end, and counts
// the lines and bytes as read_line does.
TEST(AppendLines, KeepsTheFirstCharactersOfLongLines) {
  const std::string head(299, 'h');
  for (const std::string end : {"\r\n", "\n", "\r"}) {
    const std::string text = "short" + end + head + std::string(65000 - 299, ' ') + end + head +
                             "x" + end + head + end + "next\r\n";
    LineReader reader = LineReader::from_bytes(text, "test", 4096);
    std::string got;
    EXPECT_EQ(reader.append_lines(4, got, 299), 4);
    std::string normalised;
    for (const char c : got) {
      if (c != '\r') normalised += c;
    }
    EXPECT_EQ(normalised, "short\n" + head + "\n" + head + "\n" + head + "\n");
    EXPECT_EQ(reader.line_number(), 4);
    EXPECT_EQ(reader.read_line(), "next");
  }
}

// A 100 MB line of a file is refused while the reader's buffer stays within twice the larger
// of its block size and the longest line.
TEST(LongLine, HundredMegabyteLineKeepsTheBufferSmall) {
  test_support::TempDir dir("kestrane_long_line");
  const auto path = dir / "KVR13INH.DRT";
  test_support::write_file(path, "title\r\n");
  std::filesystem::resize_file(path, std::size_t{100} << 20);  // NUL bytes: no line end
  for (const std::size_t block : {std::size_t{4096}, LineReader::kDefaultBlockSize}) {
    for (const Take how : {Take::read, Take::append}) {
      LineReader reader(path, "DATA\\KVR13INH.DRT", block);
      const std::string message = long_line_refusal(reader, how);
      EXPECT_EQ(message.find("DATA\\KVR13INH.DRT, line 2: the line goes on past"), 0u) << message;
      EXPECT_LE(reader.buffer_capacity(), 2 * std::max(block, LineReader::kMaxLineLength));
      EXPECT_LT(reader.bytes_consumed(), std::uint64_t{4} << 20);
    }
  }
}

TEST(CutField, ColumnsCountFromOneAndShortLinesGiveWhatIsLeft) {
  const std::string_view line = "abcdefghij";
  EXPECT_EQ(cut_field(line, 1, 3), "abc");
  EXPECT_EQ(cut_field(line, 9, 5), "ij");
  EXPECT_EQ(cut_field(line, 11, 5), "");
  EXPECT_EQ(cut_field(line, 40, 5), "");
  EXPECT_EQ(cut_field(line, 4), "defghij");
  EXPECT_EQ(cut_field(line, 10), "j");
  EXPECT_EQ(cut_field(line, 11), "");
  EXPECT_EQ(cut_field("", 1, 9), "");
}

TEST(ParseNumber, FormsOfTheSameValue) {
  const double expected = 0.0015;
  EXPECT_EQ(parse_number(" 1.50E-03"), expected);
  EXPECT_EQ(parse_number("1.5e-3"), expected);
  EXPECT_EQ(parse_number("1.5D-03"), expected);
  EXPECT_EQ(parse_number("1.5d-3"), expected);
  EXPECT_EQ(parse_number("0.0015"), expected);
  EXPECT_EQ(parse_number("+.0015"), expected);
  EXPECT_EQ(parse_number("15E-4"), expected);
  EXPECT_EQ(parse_number("\t\n 1.5e-3"), expected);
}

TEST(ParseNumber, TheNumberEndsWhereItCannotGoOn) {
  EXPECT_EQ(parse_number("1.23 E-05"), 1.23);
  EXPECT_EQ(parse_number(" 7300"), 7300.0);
  EXPECT_EQ(parse_number("7 d"), 7.0);
  EXPECT_EQ(parse_number("30 days"), 30.0);
  EXPECT_EQ(parse_number("1.2.3"), 1.2);
  EXPECT_EQ(parse_number("5."), 5.0);
  EXPECT_EQ(parse_number(".5"), 0.5);
  EXPECT_EQ(parse_number("-2.5E+2x"), -250.0);
  EXPECT_EQ(parse_number("1e"), 1.0);
  EXPECT_EQ(parse_number("1E-"), 1.0);
  EXPECT_EQ(parse_number("5.E3"), 5000.0);
  EXPECT_EQ(parse_number("1L"), 1.0);
  EXPECT_EQ(parse_number("2E1.5"), 20.0);
  EXPECT_EQ(parse_number("1+2"), 1.0);
}

TEST(ParseNumber, TextWithoutDigitsReadsAsZero) {
  for (const char* text :
       {"", "          ", "d7", "E5", "-", "+", ".", "-.", ".E5", "abc", "- 5", "\r5", "--5"}) {
    const double value = parse_number(text);
    EXPECT_EQ(value, 0.0) << '"' << text << '"';
    EXPECT_FALSE(std::signbit(value)) << '"' << text << '"';
  }
}

TEST(ParseNumber, ExponentIsHeldAt9999) {
  EXPECT_EQ(parse_number("1E400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_number("-1E400"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_number("1E-400"), 0.0);
  // 12345 is held at 9999, and the 10000 digits after the point bring the value back down.
  const std::string tiny = "0." + std::string(10000, '0') + "1E12345";
  EXPECT_EQ(parse_number(tiny), 1e-2);
  const std::string held = "0." + std::string(9998, '0') + "1E99999999999999999999";
  EXPECT_EQ(parse_number(held), 1.0);
  EXPECT_EQ(parse_number("1E-99999999999999999999"), 0.0);
}

TEST(ParseNumber, OnlyTheFirst18SignificantDigitsCount) {
  // 19 digits: the 19th is dropped, not rounded, but still scales the value.
  EXPECT_EQ(parse_number("1234567890123456789"), 1234567890123456780.0);
  EXPECT_EQ(parse_number("9999999999999999999"), 9999999999999999990.0);
  EXPECT_EQ(parse_number("123456789012345678999999"), 123456789012345678000000.0);
  // Leading zeros are not significant.
  EXPECT_EQ(parse_number("0.000123456789012345678999"), 0.000123456789012345678);
  EXPECT_EQ(parse_number("000000000000000000000000042"), 42.0);
  // Dropping digits can decide the rounding: the halfway point between 2^60 and the next
  // double is 1152921504606847104; the digits kept, 1152921504606847100, lie below it.
  EXPECT_EQ(parse_number("1152921504606847104.9"), 1152921504606846976.0);
  EXPECT_EQ(std::strtod("1152921504606847104.9", nullptr), 1152921504606847232.0);
  // A value between two doubles, settled by the 18th digit.
  EXPECT_EQ(parse_number("9007199254740993.00"), 9007199254740992.0);
  EXPECT_EQ(parse_number("9007199254740993.01"), 9007199254740994.0);
}

TEST(ParseNumber, SignsAndZeros) {
  EXPECT_EQ(parse_number("-0.5"), -0.5);
  EXPECT_EQ(parse_number("+0.5"), 0.5);
  EXPECT_TRUE(std::signbit(parse_number("-0.0")));
  EXPECT_EQ(parse_number("0E5"), 0.0);
  EXPECT_EQ(parse_number("-1.0E-310"), -1.0E-310);
  EXPECT_EQ(parse_number("4.9406564584124654E-324"), 4.9406564584124654E-324);
  EXPECT_EQ(parse_number("2.4703282292062327E-324"), 0.0);
  EXPECT_EQ(parse_number("1.7976931348623157E308"), 1.7976931348623157E308);
}

TEST(ParseNumber, AmpersandIntegers) {
  EXPECT_EQ(parse_number("&H1F"), 31.0);
  EXPECT_EQ(parse_number("&hff "), 255.0);
  EXPECT_EQ(parse_number("&HAbC"), 2748.0);
  EXPECT_EQ(parse_number("&B1011"), 11.0);
  EXPECT_EQ(parse_number("&b102"), 2.0);
  EXPECT_EQ(parse_number("&O17"), 15.0);
  EXPECT_EQ(parse_number("&q17"), 15.0);
  EXPECT_EQ(parse_number("&17"), 15.0);
  EXPECT_EQ(parse_number("&18"), 1.0);
  EXPECT_EQ(parse_number("  &H"), 0.0);
  EXPECT_EQ(parse_number("&"), 0.0);
  EXPECT_EQ(parse_number("&HG"), 0.0);
  EXPECT_EQ(parse_number("&H1.5"), 1.0);
  EXPECT_EQ(parse_number("-&H10"), 0.0);
  EXPECT_EQ(parse_number("&HFFFFFFFFFFFFFFFF"), 18446744073709551615.0);
  EXPECT_EQ(parse_number("&H10000000000000000"), 18446744073709551616.0);
}

TEST(IntegerFields, RoundHalfToEvenAndSaturate) {
  EXPECT_EQ(parse_integer("100.4"), 100);
  EXPECT_EQ(parse_integer("100.5"), 100);
  EXPECT_EQ(parse_integer("101.5"), 102);
  EXPECT_EQ(parse_integer(" 7300"), 7300);
  EXPECT_EQ(parse_integer("-2.5"), -2);
  EXPECT_EQ(parse_integer("-3.5"), -4);
  EXPECT_EQ(parse_integer("-0.5"), 0);
  EXPECT_EQ(parse_integer("0.49999999999999994"), 0);
  EXPECT_EQ(round_to_int32(2147483646.5), 2147483646);
  EXPECT_EQ(round_to_int32(2147483647.4), 2147483647);
  EXPECT_EQ(parse_integer("1E10"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(parse_integer("-1E10"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(round_to_int32(-2147483648.5), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(round_to_int32(std::numeric_limits<double>::infinity()),
            std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(round_to_int32(std::nan("")), 0);
  EXPECT_EQ(round_to_int32(4503599627370497.0), std::numeric_limits<std::int32_t>::max());
}

// The reference value of a valid decimal field: digits after the 18th significant one set to
// 0, the exponent letter written as 'e' and the exponent held at 9999, then read by strtod.
double reference_value(const std::string& field) {
  std::string text;
  int significant = 0;
  bool in_exponent = false;
  std::string exponent_digits;
  for (char c : field) {
    if (in_exponent) {
      if (c >= '0' && c <= '9') {
        exponent_digits.push_back(c);
      } else {
        text.push_back(c);
      }
      continue;
    }
    if (c >= '0' && c <= '9') {
      if (significant > 0 || c != '0') ++significant;
      text.push_back(significant > 18 ? '0' : c);
    } else if (c == 'e' || c == 'E' || c == 'd' || c == 'D') {
      text.push_back('e');
      in_exponent = true;
    } else if (c != ' ') {
      text.push_back(c);
    }
  }
  if (in_exponent) {
    const auto first = exponent_digits.find_first_not_of('0');
    std::string digits =
        first == std::string::npos ? std::string("0") : exponent_digits.substr(first);
    if (digits.size() > 4 || std::stoi(digits) > 9999) digits = "9999";
    text += digits;
  }
  return std::strtod(text.c_str(), nullptr);
}

// A random field of the valid forms: blanks, sign, digits with or without a point, and an
// exponent with any of the letters; digit counts and exponents spread widely.
std::string random_field(std::mt19937_64& rng) {
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  auto digits = [&](int count) {
    std::string s;
    for (int i = 0; i < count; ++i) s.push_back(static_cast<char>('0' + pick(0, 9)));
    return s;
  };
  std::string field(static_cast<std::size_t>(pick(0, 2)), ' ');
  const int sign = pick(0, 3);
  if (sign == 1) field += '-';
  if (sign == 2) field += '+';
  const int zeros = pick(0, 4) == 0 ? pick(1, 30) : 0;
  const int integer_digits = pick(0, 3) == 0 ? pick(0, 25) : pick(0, 2);
  const int fraction_digits = pick(0, 3) == 0 ? pick(0, 25) : pick(0, 8);
  const bool point = pick(0, 5) != 0 || integer_digits == 0;
  std::string integer = digits(integer_digits);
  std::string fraction =
      std::string(static_cast<std::size_t>(zeros), '0') + digits(fraction_digits);
  if (integer.empty() && (!point || fraction.empty())) integer = digits(1);
  field += integer;
  if (point) field += '.' + fraction;
  if (pick(0, 4) != 0) {
    field += "EeDd"[pick(0, 3)];
    const int exponent_sign = pick(0, 2);
    if (exponent_sign == 1) field += '-';
    if (exponent_sign == 2) field += '+';
    const int magnitude = pick(0, 9) == 0 ? pick(0, 12000) : pick(0, 330);
    field += std::to_string(magnitude);
  }
  return field;
}

// The rule on valid fields agrees with strtod; the strict field reading takes each of them,
// with blanks around, with the same value, or refuses it as not finite.
TEST(ParseNumberDifferential, AgreesWithStrtodOnRandomValidFields) {
  std::mt19937_64 rng(20240611);
  for (int n = 0; n < 200000 / kSweepShare; ++n) {
    const std::string field = random_field(rng);
    const double expected = reference_value(field);
    const double got = parse_number(field);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected))
        << "field \"" << field << "\" read as " << got << ", strtod gives " << expected;
    double strict = -1.0;
    const FieldReading reading = read_number_field(" " + field + "\t ", strict);
    if (std::isfinite(expected)) {
      ASSERT_EQ(reading, FieldReading::number) << field;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(strict), std::bit_cast<std::uint64_t>(expected));
    } else {
      ASSERT_EQ(reading, FieldReading::not_finite) << field;
    }
  }
}

// Texts that are not one number with blanks around it, beside close ones that are.
class StrictFieldReading : public testing::TestWithParam<std::pair<const char*, FieldReading>> {};

TEST_P(StrictFieldReading, TakesOnlyOneNumberWithBlanksAround) {
  double value = -1.0;
  EXPECT_EQ(read_number_field(GetParam().first, value), GetParam().second) << GetParam().first;
  if (GetParam().second == FieldReading::number) {
    EXPECT_EQ(value, parse_number(GetParam().first));
  } else {
    EXPECT_EQ(value, -1.0);  // left alone
  }
}

INSTANTIATE_TEST_SUITE_P(
    OddTexts, StrictFieldReading,
    testing::Values(
        std::pair{"", FieldReading::number}, std::pair{" \t  ", FieldReading::number},
        std::pair{" +.5 ", FieldReading::number}, std::pair{"7.\t", FieldReading::number},
        std::pair{"&h1F", FieldReading::number}, std::pair{" &17 ", FieldReading::number},
        std::pair{"1D-3", FieldReading::number}, std::pair{"1E-400", FieldReading::number},
        std::pair{"1.5E", FieldReading::not_a_number},
        std::pair{"1e+ ", FieldReading::not_a_number}, std::pair{"&H", FieldReading::not_a_number},
        std::pair{"&B2", FieldReading::not_a_number}, std::pair{"- 1", FieldReading::not_a_number},
        std::pair{".", FieldReading::not_a_number}, std::pair{"-", FieldReading::not_a_number},
        std::pair{"1,0", FieldReading::not_a_number},
        std::pair{"1.2.3", FieldReading::not_a_number},
        std::pair{"7 d", FieldReading::not_a_number}, std::pair{"\n1", FieldReading::not_a_number},
        std::pair{"nan", FieldReading::not_a_number},
        std::pair{"Infinity", FieldReading::not_a_number},
        std::pair{"1E400", FieldReading::not_finite},
        std::pair{" -1.0D+9999 ", FieldReading::not_finite}));

TEST(ParseNumberDifferential, DataFieldsRoundTrip) {
  // Fields as the dose-rate file writes them, across the whole exponent range, and doubles
  // written with 17 digits, which must read back exactly.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-330, 300);
  char text[64];
  for (int n = 0; n < 200000 / kSweepShare; ++n) {
    std::snprintf(text, sizeof text, "%10.3E", mantissa(rng) * std::pow(10.0, exponent(rng)));
    ASSERT_EQ(parse_number(text), std::strtod(text, nullptr)) << text;
    const double value = std::bit_cast<double>(rng() & 0x7FEFFFFFFFFFFFFFull);
    std::snprintf(text, sizeof text, "%.17g", value);
    ASSERT_EQ(parse_number(text), value) << text;
  }
}

// Fields of the usual data-file form, of every width, lead, letter and sign the quick
// reading takes, each also mutated at one position: what the quick reading accepts must equal
// the full rule's value, and it must accept every well-formed field.
TEST(ParseNumberDifferential, QuickFieldReadingAgreesWithTheFullRule) {
  std::mt19937_64 rng(11);
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  const std::string mutations = " .+-eEdDx09\t";
  int accepted_mutants = 0;
  for (int n = 0; n < 200000 / kSweepShare; ++n) {
    const int width = pick(8, 10);
    const bool lead = pick(0, 1) == 1;
    std::string field;
    if (lead) field += " +-"[pick(0, 2)];
    field += static_cast<char>('0' + pick(0, 9));
    field += '.';
    const int fraction = width - 5 - (lead ? 2 : 1);
    for (int i = 0; i < fraction; ++i) field += static_cast<char>('0' + pick(0, 9));
    field += "EeDd"[pick(0, 3)];
    field += "+-"[pick(0, 1)];
    const int exponent = pick(0, 99);
    field += static_cast<char>('0' + exponent / 10);
    field += static_cast<char>('0' + exponent % 10);
    ASSERT_EQ(field.size(), static_cast<std::size_t>(width));

    double quick = -1.0;
    ASSERT_TRUE(number_detail::parse_e_field(field.data(), field.size(), quick)) << field;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(quick),
              std::bit_cast<std::uint64_t>(reference_value(field)))
        << field;

    std::string mutant = field;
    mutant[static_cast<std::size_t>(pick(0, width - 1))] =
        mutations[static_cast<std::size_t>(pick(0, static_cast<int>(mutations.size()) - 1))];
    const double full = parse_number(mutant);
    double value = -1.0;
    if (number_detail::parse_e_field(mutant.data(), mutant.size(), value)) {
      ++accepted_mutants;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(full)) << mutant;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(value),
                std::bit_cast<std::uint64_t>(reference_value(mutant)))
          << mutant;
    }
  }
  EXPECT_GT(accepted_mutants, 0);
}

// The usual field shapes ("1.234E-05" in 9 columns, a blank or sign and the same in 10),
// each of their characters replaced by every byte: the quick reading takes exactly the
// well-formed fields, with the value of the full rule.
TEST(ParseNumberDifferential, UsualFieldShapeTakesOnlyWellFormedFields) {
  const std::vector<std::string> bases = {"1.234E-05",  " 1.234E-05", "-9.999d+99", "+0.000e+00",
                                          "-0.000D-00", "5.678D-22",  " 1.234E-23", "9.999e+22"};
  auto well_formed = [](const std::string& field) {
    const std::size_t at = field.size() - 9;
    if (at == 1 && field[0] != ' ' && field[0] != '+' && field[0] != '-') return false;
    auto digit = [&](std::size_t i) { return field[at + i] >= '0' && field[at + i] <= '9'; };
    const char letter = field[at + 5];
    const char sign = field[at + 6];
    return digit(0) && field[at + 1] == '.' && digit(2) && digit(3) && digit(4) &&
           (letter == 'E' || letter == 'e' || letter == 'D' || letter == 'd') &&
           (sign == '+' || sign == '-') && digit(7) && digit(8);
  };
  int accepted = 0;
  for (const std::string& base : bases) {
    for (std::size_t i = 0; i < base.size(); ++i) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string field = base;
        field[i] = static_cast<char>(byte);
        double value = -1.0;
        const bool quick = number_detail::parse_e_field(field.data(), field.size(), value);
        if (well_formed(field)) {
          ASSERT_TRUE(quick) << field;
          ++accepted;
        }
        if (quick) {
          ASSERT_EQ(std::bit_cast<std::uint64_t>(value),
                    std::bit_cast<std::uint64_t>(reference_value(field)))
              << field;
        }
      }
    }
  }
  // Per position: 10 digits, the point, 4 letters, 2 signs, 3 leads; 67 per 9-column base
  // and 70 per 10-column one.
  EXPECT_EQ(accepted, 3 * 67 + 5 * 70);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(parse_number("-0.000E+00")),
            std::bit_cast<std::uint64_t>(-0.0));
  EXPECT_EQ(parse_number(" 1.234E-23"), 1.234E-23);
  EXPECT_EQ(parse_number("9.999e+22"), 9.999E+22);
}

// Every number of the form "d.dddEsdd": the scaled sum the quick reading uses rounds as
// strtod does for each of the 10 000 mantissas (every kSweepShare-th one by default) with each
// of the 200 exponents.
TEST(ParseNumberDifferential, EveryUsualFieldValueIsCorrectlyRounded) {
  char text[10] = "0.000E+00";
  for (int written = -99; written <= 100; ++written) {  // 100 stands for "-00"
    const int exponent = written == 100 ? 0 : written;
    text[6] = exponent < 0 || written == 100 ? '-' : '+';
    text[7] = static_cast<char>('0' + std::abs(exponent) / 10);
    text[8] = static_cast<char>('0' + std::abs(exponent) % 10);
    for (int mantissa = 0; mantissa < 10000; mantissa += kSweepShare) {
      text[0] = static_cast<char>('0' + mantissa / 1000);
      text[2] = static_cast<char>('0' + mantissa / 100 % 10);
      text[3] = static_cast<char>('0' + mantissa / 10 % 10);
      text[4] = static_cast<char>('0' + mantissa % 10);
      double value = -1.0;
      ASSERT_TRUE(number_detail::parse_e_digits3(text, value)) << text;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(value),
                std::bit_cast<std::uint64_t>(std::strtod(text, nullptr)))
          << text;
    }
  }
}

// A run of ten-column fields read in one pass gives each field's own quick value, signs and
// zeros included, and is refused as a whole when any one field, first, last or between, has
// another form.
TEST(ParseNumberDifferential, FieldRunAgreesFieldByFieldAndRefusesAnyOddField) {
  std::mt19937_64 rng(17);
  auto pick = [&rng](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
  };
  for (int run = 0; run < 2000; ++run) {
    const int count = pick(0, 29);
    std::string line;
    for (int f = 0; f < count; ++f) {
      line += " +-"[pick(0, 2)];
      line += static_cast<char>('0' + pick(0, 9));
      line += '.';
      for (int d = 0; d < 3; ++d) line += static_cast<char>('0' + pick(0, 9));
      line += "EeDd"[pick(0, 3)];
      line += "+-"[pick(0, 1)];
      const int exponent = pick(0, 99);
      line += static_cast<char>('0' + exponent / 10);
      line += static_cast<char>('0' + exponent % 10);
    }
    std::vector<double> values(static_cast<std::size_t>(count) + 1, -1.0);
    ASSERT_TRUE(number_detail::parse_e_fields10(line.data(), count, values.data())) << line;
    for (int f = 0; f < count; ++f) {
      double expected = 0.0;
      ASSERT_TRUE(number_detail::parse_e_field(line.data() + 10 * f, 10, expected));
      ASSERT_EQ(std::bit_cast<std::uint64_t>(values[static_cast<std::size_t>(f)]),
                std::bit_cast<std::uint64_t>(expected))
          << line.substr(static_cast<std::size_t>(10 * f), 10);
    }
    EXPECT_EQ(values[static_cast<std::size_t>(count)], -1.0);  // nothing past the run
    if (count == 0) continue;
    std::string odd = line;
    const auto at = static_cast<std::size_t>(10 * pick(0, count - 1) + pick(0, 9));
    odd[at] = "x*.9 E"[pick(0, 5)];
    double a = 0.0;
    const bool field_ok = number_detail::parse_e_field(odd.data() + at / 10 * 10, 10, a);
    EXPECT_EQ(number_detail::parse_e_fields10(odd.data(), count, values.data()), field_ok) << odd;
  }
}

TEST(ParseNumberDifferential, FullParseFallbackIsCorrectlyRounded) {
  // The last resort of the conversion, used where the 128-bit product is not conclusive.
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<std::uint64_t> mantissa(1, 999999999999999999);
  std::uniform_int_distribution<int> exponent(-360, 320);
  for (int n = 0; n < 20000; ++n) {
    const std::uint64_t m = mantissa(rng);
    const int e = exponent(rng);
    const std::string text = std::to_string(m) + "e" + std::to_string(e);
    ASSERT_EQ(number_detail::settle_by_full_parse(m, e), std::strtod(text.c_str(), nullptr))
        << text;
    ASSERT_EQ(number_detail::to_double(m, e), std::strtod(text.c_str(), nullptr)) << text;
  }
  EXPECT_EQ(number_detail::settle_by_full_parse(1, -400000), 0.0);
  EXPECT_EQ(number_detail::settle_by_full_parse(1, 400000),
            std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace kestrane
