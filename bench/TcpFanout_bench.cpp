// Fan-out latency of the TCP data server: a simulated thermometer (a pseudo-terminal) sends 100
// lines per second; the subservice and its server run on an owner thread; the clients are read with
// epoll on another thread. Prints p50 and p99 from the carriage return written to the terminal to
// each client's receipt, for 100 and 1,000 clients, each time also with one of them a client that
// never reads (filled first, so that it is losing lines while the others are measured; 1,000 is the
// most a server takes); and for 100 clients while
// an alarm e-mail is stuck on an SMTP server that never answers, and while an alarm's webhook is
// stuck on an HTTP server that never answers, each beside a run with no alarm at all; and for 100
// clients while the state file is written once a second, beside a run without.
#include <sys/resource.h>

#include <cstdio>

#include "FanoutProbe.h"
#include "support/SilentServer.h"

using namespace duz;

int main() {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = files.rlim_max;
  setrlimit(RLIMIT_NOFILE, &files);
  if (files.rlim_cur < 2200) {
    fprintf(stderr, "need 2200 open files, the limit is %llu\n",
            static_cast<unsigned long long>(files.rlim_cur));
    return 1;
  }
  TFanoutProbe probe;
  for (int clients : {100, 1000})
    for (bool stalled : {false, true}) probe.Measure(stalled ? clients - 1 : clients, stalled);
  test::TSilentServer smtp;
  probe.Measure(100, false, smtp.Port());
  test::TSilentServer webhook;
  for (int webhookPort : {0, webhook.Port()}) probe.Measure(100, false, 0, webhookPort);
  for (bool stateWrites : {false, true}) probe.Measure(100, false, 0, 0, stateWrites);
  return 0;
}
