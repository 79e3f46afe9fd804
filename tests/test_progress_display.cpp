// Tests of the progress of the record loop: the text both bars share, and the processing
// screen's header line and bar, throttled, on the in-memory screen with a clock of the test's.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/progress_display.h"
#include "input/dose_rate_file.h"
#include "tests/support/test_support.h"
#include "ui/memory_console.h"

namespace kestrane {
namespace {

using kestrane::test_support::padded;

struct TextCase {
  ProgressFigures figures;
  std::string expected;
};

class ProgressText : public ::testing::TestWithParam<TextCase> {};

// Worked out by hand: share = done / total, rate = done / seconds, left = rest / rate rounded
// to whole seconds; a done count past the total counts as the total. Where the total is not
// known (0: a pipe) the bytes read stand in place of the bar, the share and the time left.
INSTANTIATE_TEST_SUITE_P(
    Figures, ProgressText,
    ::testing::Values(
        TextCase{{3, 0, 0, 0.0}, "3 records     0.0 MB read     0.0 MB/s"},
        TextCase{{12, 2'500'000, 0, 1.0}, "12 records     2.5 MB read     2.5 MB/s"},
        TextCase{{900, 1'234'567'890, 0, 100.0}, "900 records  1234.6 MB read    12.3 MB/s"},
        TextCase{{3, 0, 1000, 0.0}, "3 records [..........]   0%     0.0 MB/s - left"},
        TextCase{{12, 250'000'000, 1'000'000'000, 100.0},
                 "12 records [##........]  25%     2.5 MB/s 5:00 left"},
        TextCase{{7, 1'000'000, 1'000'000'000, 10.0},
                 "7 records [..........]   0%     0.1 MB/s 2:46:30 left"},
        TextCase{{900, 2'000'000'000, 2'000'000'000, 4000.0},
                 "900 records [##########] 100%     0.5 MB/s 0:00 left"},
        TextCase{{1, 150, 100, 1.0}, "1 records [##########] 100%     0.0 MB/s 0:00 left"}));

TEST_P(ProgressText, RecordsBarShareRateAndTimeLeft) {
  EXPECT_EQ(progress_text(GetParam().figures, 10), GetParam().expected);
}

// A clock the test moves by hand.
struct FakeClock {
  ProgressClock::time_point now{};
  void at(double seconds) {
    now = ProgressClock::time_point{} + std::chrono::duration_cast<ProgressClock::duration>(
                                            std::chrono::duration<double>(seconds));
  }
};

HeaderRecord header(const char* line) {
  HeaderRecord record;
  record.line = line;
  return record;
}

// The bar row from column 20 to 79; the columns before it stay blank.
std::string bar_row(const MemoryConsole& console) {
  EXPECT_EQ(console.text_at(ProgressDisplay::kBarRow, 1, 19), std::string(19, ' '));
  return console.text_at(ProgressDisplay::kBarRow, 20, 60);
}

TEST(ProgressDisplay, HeaderAtOnceBarAfterOneIntervalAndBothAtMostOnceAnInterval) {
  MemoryConsole console;
  FakeClock clock;
  ProgressDisplay progress(console, std::chrono::milliseconds(250), [&clock] { return clock.now; });

  clock.at(0.1);
  progress.record_processed(header("H-3       100     F           5 1 L"), 1'000'000, 10'000'000);
  EXPECT_EQ(console.text_at(12, 20, 35), "H-3       100     F           5 1 L");
  EXPECT_EQ(console.row_text(ProgressDisplay::kBarRow), padded(""));  // too early for the bar
  clock.at(0.2);
  progress.record_processed(header("C-14     7300     S           5 2 B"), 2'000'000, 10'000'000);
  EXPECT_EQ(console.text_at(12, 20, 35), "H-3       100     F           5 1 L");  // too soon

  clock.at(0.5);
  progress.record_processed(header("S-35      100     V           1 1 l"), 3'000'000, 10'000'000);
  EXPECT_EQ(console.text_at(12, 20, 35), "S-35      100     V           1 1 l");
  EXPECT_EQ(bar_row(console), padded("3 records [###.......]  30%     6.0 MB/s 0:01 left", 60));
  clock.at(0.6);
  progress.record_processed(header("Na-22    9125     M           4 1 H"), 4'000'000, 10'000'000);
  EXPECT_EQ(bar_row(console), padded("3 records [###.......]  30%     6.0 MB/s 0:01 left", 60));

  // The end shows the last record and the bar where the loop stopped.
  clock.at(1.0);
  progress.finish();
  EXPECT_EQ(console.text_at(12, 20, 35), "Na-22    9125     M           4 1 H");
  EXPECT_EQ(bar_row(console), padded("4 records [####......]  40%     4.0 MB/s 0:02 left", 60));
}

TEST(ProgressDisplay, AShortRunShowsTheLastHeaderButNoBar) {
  MemoryConsole console;
  ProgressDisplay progress(console, std::chrono::hours(1));
  progress.finish();  // nothing processed: nothing drawn
  EXPECT_EQ(console.row_text(12), padded(""));

  progress.record_processed(header("H-3       100     F           5 1 L"), 10, 100);
  EXPECT_EQ(console.cursor_row(), 13);
  EXPECT_EQ(console.cursor_column(), 1);
  progress.record_processed(header("S-35      100     V           1 1 l"), 20, 100);
  EXPECT_EQ(console.text_at(12, 20, 35), "H-3       100     F           5 1 L");  // too soon
  progress.finish();
  EXPECT_EQ(console.row_text(12),
            padded(std::string(19, ' ') + "S-35      100     V           1 1 l"));
  EXPECT_EQ(console.row_text(ProgressDisplay::kBarRow), padded(""));
}

TEST(ProgressDisplay, RedrawsEveryRecordWhenTheIntervalIsZero) {
  MemoryConsole console;
  ProgressDisplay progress(console, std::chrono::milliseconds(0));
  for (const char* line : {"Na-22    9125     M           4 1 H", "Be-7      365     M    "}) {
    progress.record_processed(header(line), 0, 0);
    // The row is not cleared first: a shorter line leaves the end of a longer one.
    EXPECT_EQ(console.text_at(12, 20, static_cast<int>(std::string(line).size())), line);
  }
  EXPECT_EQ(console.text_at(12, 20, 35), "Be-7      365     M           4 1 H");
}

// The hold of the real-terminal tests: with KESTRANE_TEST_HOLD_FILE naming a file that exists,
// the first record's call returns only once the file is gone, and the bar is drawn meanwhile,
// one interval after the start as in any run. The clock moves 0.1 s a reading and removes the
// file at 0.5 s: readings 0.0 (start), 0.1 (the record: header only), 0.2, 0.3 (the bar),
// 0.4, 0.5 (gone). At 0.3 s: 1.5 of 10 MB read, 15%, 5.0 MB/s, 8.5 MB left in 1.7 s.
TEST(ProgressDisplay, AHeldRunWaitsWhileTheHoldFileExistsAndDrawsTheBarMeanwhile) {
  test_support::TempDir dir("kestrane_progress_hold");
  const std::filesystem::path hold = dir / "hold";
  std::ofstream(hold).put('\n');
  ::setenv("KESTRANE_TEST_HOLD_FILE", hold.c_str(), 1);
  MemoryConsole console;
  FakeClock clock;
  int readings = 0;
  ProgressDisplay progress(console, std::chrono::milliseconds(250), [&] {
    clock.at(0.1 * readings++);
    if (readings == 6) std::filesystem::remove(hold);
    return clock.now;
  });
  ::unsetenv("KESTRANE_TEST_HOLD_FILE");

  progress.record_processed(header("H-3       100     F           5 1 L"), 1'500'000, 10'000'000);
  EXPECT_EQ(readings, 6);
  EXPECT_FALSE(std::filesystem::exists(hold));
  EXPECT_EQ(console.text_at(12, 20, 35), "H-3       100     F           5 1 L");
  EXPECT_EQ(bar_row(console), padded("1 records [#.........]  15%     5.0 MB/s 0:02 left", 60));
}

}  // namespace
}  // namespace kestrane
