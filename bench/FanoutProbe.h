#pragma once
// TFanoutProbe: the fan-out latency of the TCP data server. Each measurement makes a subservice
// with one TCP server on an owner thread of its own; a pseudo-terminal (COM1 of a registry in a
// temporary directory, set for the process while the probe lives) sends 100 lines per second; the
// clients are read with epoll on another thread. With stalled, one more client never reads (filled
// first, so that it is losing lines while the others are measured); with an SMTP port, an alarm
// e-mail is stuck on that (silent) server while the lines are measured; with a webhook port, an
// alarm's webhook is; with stateWrites, the platform writes its state file at every tick.
#include "support/Env.h"
#include "support/Pty.h"
#include "support/TempDir.h"

namespace duz {

class TFanoutProbe {
 public:
  TFanoutProbe();

  // Prints one line: the clients, p50, p99 and the maximum from the carriage return written to
  // the terminal to each client's receipt, the owner thread's CPU per line, what a stalled client
  // got, and the alarms still unsent.
  void Measure(int clients, bool stalled, int smtpPort = 0, int webhookPort = 0, bool stateWrites = false);

 private:
  test::TTempDir FDir;
  test::TPty FPty;
  test::TScopedEnv FRegistry{"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")};
  test::TScopedEnv FEvents{"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")};
};

}  // namespace duz
