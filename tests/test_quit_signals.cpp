// The quit signals: the one list of them, the set made from it, their blocking in the calling
// thread, and the threads started with them blocked.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <thread>

#include "platform/interrupt_note.h"
#include "platform/threads.h"

namespace kestrane {
namespace {

// A signal and whether it ends a run with a note.
struct SignalCase {
  const char* name;
  int number;
  bool quit;
};

void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

const auto kSignalCases =
    ::testing::Values(SignalCase{"SIGINT", SIGINT, true}, SignalCase{"SIGTERM", SIGTERM, true},
                      SignalCase{"SIGHUP", SIGHUP, true}, SignalCase{"SIGQUIT", SIGQUIT, true},
                      SignalCase{"SIGBUS", SIGBUS, false}, SignalCase{"SIGSEGV", SIGSEGV, false},
                      SignalCase{"SIGFPE", SIGFPE, false}, SignalCase{"SIGPIPE", SIGPIPE, false},
                      SignalCase{"SIGWINCH", SIGWINCH, false},
                      SignalCase{"SIGTSTP", SIGTSTP, false}, SignalCase{"SIGUSR1", SIGUSR1, false});

std::string case_name(const ::testing::TestParamInfo<SignalCase>& test) { return test.param.name; }

bool blocked_here(int signal_number) {
  sigset_t mask;
  ::pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, signal_number) == 1;
}

// Each case starts with no signal blocked, whatever mask the test program inherited, and gives
// the earlier mask back at its end.
class QuitSignals : public ::testing::TestWithParam<SignalCase> {
 protected:
  void SetUp() override {
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, &inherited_);
  }
  void TearDown() override { ::pthread_sigmask(SIG_SETMASK, &inherited_, nullptr); }

 private:
  sigset_t inherited_{};
};

TEST_P(QuitSignals, TheListTheSetAndTheBlockHoldTheFourAlone) {
  const SignalCase& c = GetParam();
  const bool listed =
      std::find(kQuitSignals.begin(), kQuitSignals.end(), c.number) != kQuitSignals.end();
  EXPECT_EQ(listed, c.quit);
  const sigset_t set = quit_signals();
  EXPECT_EQ(sigismember(&set, c.number) == 1, c.quit);
  {
    const QuitSignalsBlocked blocked;
    EXPECT_EQ(blocked_here(c.number), c.quit);
  }
  EXPECT_FALSE(blocked_here(c.number));  // the earlier mask is back
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitSignals, kSignalCases, case_name);

using QuietThread = QuitSignals;

TEST_P(QuietThread, BlocksTheQuitSignalsAloneAndLeavesTheCallersMask) {
  const SignalCase& c = GetParam();
  bool blocked_there = !c.quit;
  std::thread thread = start_quiet_thread([&] { blocked_there = blocked_here(c.number); });
  EXPECT_FALSE(blocked_here(c.number));  // the caller's mask is back at once
  thread.join();
  EXPECT_EQ(blocked_there, c.quit);

  // A signal the caller blocks itself stays blocked in the thread too, and in the caller.
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, c.number);
  ::pthread_sigmask(SIG_BLOCK, &one, nullptr);
  blocked_there = false;
  start_quiet_thread([&] { blocked_there = blocked_here(c.number); }).join();
  EXPECT_TRUE(blocked_there);
  EXPECT_TRUE(blocked_here(c.number));
}

INSTANTIATE_TEST_SUITE_P(Signals, QuietThread, kSignalCases, case_name);

}  // namespace
}  // namespace kestrane
