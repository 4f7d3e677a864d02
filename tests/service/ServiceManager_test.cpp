#include "service/ServiceManager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/Env.h"
#include "support/NotifySocket.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using test::TNotifySocket;
using test::TScopedEnv;
using test::TTempDir;

TEST(NotifyServiceManager, DeliversTheStateToTheManagersSocket) {
  TTempDir dir;
  for (const std::string& socket : {dir.File("notify"), "@duz-notify-" + std::to_string(getpid())}) {
    TNotifySocket manager(socket);
    TScopedEnv notify("NOTIFY_SOCKET", manager.Path());
    EXPECT_EQ(NotifyServiceManager("STOPPING=1\nSTATUS=Stop pending"), 0) << socket;
    EXPECT_EQ(manager.Receive(2s), "STOPPING=1\nSTATUS=Stop pending") << socket;
  }
}

// A run without a manager must not pass for a started service: the entry point reports it.
TEST(NotifyServiceManager, FailsWithoutAManagerToTalkTo) {
  TTempDir dir;
  struct TCase {
    const char* Label;
    std::string Socket;
    int Error;
  };
  for (const TCase& c : {TCase{"no NOTIFY_SOCKET", "", ECONNREFUSED},
                         TCase{"socket path without a listener", dir.File("gone"), ENOENT}}) {
    TScopedEnv notify("NOTIFY_SOCKET", c.Socket);
    EXPECT_EQ(NotifyServiceManager("READY=1"), c.Error) << c.Label;
  }
}

}  // namespace
}  // namespace duz
