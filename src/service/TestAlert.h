#pragma once
// The -testalert run, for a sysadmin who wants to know that every alarm path reaches someone: the
// configuration is loaded as -testmail loads it (no platform, no port, no WAIT), and one test goes
// through every channel it configures: an e-mail to each distinct address of the email actions, a
// post to each distinct URL of the webhook actions (in the format of its first action), a net
// message to each distinct address of the netmessage actions through the configured command, and
// one ping of the heartbeat's url. Each channel gives one line on stdout that names it (the address,
// or the URL without its credentials): "ok", or "failed - " and the reason. Main thread.
#include <csignal>

namespace duz {

// stopSignals are those main blocked; here they end the run as they end any command. Returns the
// exit status: 0 when every channel worked, 1 otherwise (also, with a line on stderr, when the
// configuration is missing or configures no channel).
int RunTestAlert(const sigset_t& stopSignals);

}  // namespace duz
