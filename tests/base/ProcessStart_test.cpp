#include "base/ProcessStart.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>

#include "support/Process.h"
#include "support/TempDir.h"

namespace duz {
namespace {

TEST(ProcessStart, ProgramStartsWithNoSignalBlockedAndNoneIgnored) {
  // As the service runs: its stop signals blocked, SIGPIPE ignored.
  sigset_t stop, previous;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, &previous);
  auto oldPipe = std::signal(SIGPIPE, SIG_IGN);
  test::TTempDir dir;
  const std::string status = dir.File("status");
  EXPECT_EQ(RunProcess({"sh", "-c", "grep -E '^Sig(Blk|Ign)' /proc/self/status > '" + status + "'"}), 0);
  std::signal(SIGPIPE, oldPipe);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  const test::TSignalMasks masks = test::SignalMasks(test::ReadFile(status));
  EXPECT_EQ(masks.Blocked, 0u);
  EXPECT_EQ(masks.Ignored, 0u);
}

}  // namespace
}  // namespace duz
