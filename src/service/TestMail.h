#pragma once
// The -testmail run, for a sysadmin who wants to know that the alarms reach their mailboxes: the
// configuration is loaded as the service would load it, but no platform is made (no port opened,
// no thread started, no WAIT honoured). One test e-mail goes to every distinct address of every
// email action through the configured SMTP server, each with its log block on stdout and a line
// with its result. Main thread.
#include <csignal>
#include <pugixml.hpp>
#include <string>
#include <vector>

namespace duz {

// stopSignals are those main blocked; here they end the run as they end any command. Returns the
// exit status: 0 when every address was accepted, 1 otherwise (also, with a line on stderr, when
// the configuration, its SMTP element or every email action is missing or the settings are bad).
int RunTestMail(const sigset_t& stopSignals);

// What -testalert shares. The configuration the registry names, loaded into config; returns its
// path. Raises "Config file not found! (path)".
std::string LoadTestConfiguration(pugi::xml_document& config);

struct TTestAction {
  std::string Caption;  // of the thermometer
  pugi::xml_node Element;
};
// The action elements of that name of every condition of every thermometer, in document order.
std::vector<TTestAction> TestActions(pugi::xml_node root, const char* name);

// One test e-mail to every distinct address of the email actions, each with its log block and then
// "address: " + success, or "address: failed - reason", on stdout. Returns 0 when every address was
// accepted, else 1. Raises with the line that tells why nothing could be sent.
int SendTestMails(const pugi::xml_document& config, const std::string& path, const std::string& success);

}  // namespace duz
