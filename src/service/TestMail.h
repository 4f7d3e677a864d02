#pragma once
// The -testmail run, for a sysadmin who wants to know that the alarms reach their mailboxes: the
// configuration is loaded as the service would load it, but no platform is made (no port opened,
// no thread started, no WAIT honoured). One test e-mail goes to every distinct address of every
// email action through the configured SMTP server, each with its log block on stdout and a line
// with its result. Main thread.
#include <csignal>

namespace duz {

// stopSignals are those main blocked; here they end the run as they end any command. Returns the
// exit status: 0 when every address was accepted, 1 otherwise (also, with a line on stderr, when
// the configuration, its SMTP element or every email action is missing or the settings are bad).
int RunTestMail(const sigset_t& stopSignals);

}  // namespace duz
