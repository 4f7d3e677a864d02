#include "base/ProcessStart.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>

#include "support/Process.h"
#include "support/TempDir.h"

namespace duz {
namespace {

TEST(ProcessStartTest, ArgumentsReachTheProgramUnchangedWithoutAShell) {
  EXPECT_EQ(RunProcess({"sh", "-c", "test \"$1\" = 'a b; rm -rf x'", "sh", "a b; rm -rf x"}), 0);
  EXPECT_EQ(RunProcess({"sh", "-c", "exit 3"}), 3);
  EXPECT_EQ(RunProcess({"no-such-program-duz"}), -1);
  EXPECT_EQ(StartProcess({"no-such-program-duz"}), -1);
  EXPECT_GT(StartProcess({"true"}), 0);
}

TEST(ProcessStartTest, ProgramStartsWithNoSignalBlockedAndNoneIgnored) {
  // As the service runs: its stop signals blocked, SIGPIPE ignored.
  sigset_t stop, previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, &previous);
  auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  test::TTempDir dir;
  const std::string status = dir.File("status");
  // bash, not sh: dash unblocks every signal when it starts; grep shows what bash started with.
  EXPECT_EQ(RunProcess({"bash", "-c", "exec grep -E '^Sig(Blk|Ign)' /proc/self/status > '" + status + "'"}),
            0);
  std::signal(SIGPIPE, oldPipe);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  const test::TSignalMasks masks = test::SignalMasks(test::ReadFile(status));
  EXPECT_EQ(masks.Blocked, 0u);
  EXPECT_EQ(masks.Ignored, 0u);
}

}  // namespace
}  // namespace duz
