#include "support/SilentServer.h"

#include <sys/socket.h>
#include <unistd.h>

#include "support/LoopbackServer.h"

namespace duz::test {

TSilentServer::TSilentServer() : FListener(BoundSocket()) {
  listen(FListener, 64);
  FPort = PortOf(FListener);
}

TSilentServer::~TSilentServer() { close(FListener); }

}  // namespace duz::test
