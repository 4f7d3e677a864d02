#include "service/TestAlert.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <iostream>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Exception.h"
#include "base/ProcessStart.h"
#include "config/ConfigRules.h"
#include "core/Heartbeat.h"
#include "core/NetMessage.h"
#include "core/WebhookJob.h"
#include "net/HostAddress.h"
#include "service/TestMail.h"

namespace duz {
namespace {

// A net message's program that runs longer is taken for hung.
constexpr std::chrono::seconds NetMessageWait{30};

void Print(const std::string& line) { std::cout << line << '\n'; }

// The channel's line; 1 for a failure.
int Report(const std::string& channel, const std::string& failure) {
  Print(channel + ": " + (failure.empty() ? "ok" : "failed - " + failure));
  return failure.empty() ? 0 : 1;
}

// Whether value was not among seen, which then holds it.
bool FirstTime(std::vector<std::string>& seen, const std::string& value) {
  if (std::find(seen.begin(), seen.end(), value) != seen.end()) return false;
  seen.push_back(value);
  return true;
}

int TestEmails(const pugi::xml_document& config, const std::string& path) {
  try {
    return SendTestMails(config, path, "ok");
  } catch (const std::exception& error) {
    return Report("e-mail", error.what());
  }
}

int TestWebhooks(const std::vector<TTestAction>& webhooks, const std::string& text) {
  int status = 0;
  std::vector<std::string> seen;
  for (const TTestAction& webhook : webhooks) {
    const std::string url = webhook.Element.attribute("url").value();
    if (!FirstTime(seen, url)) continue;
    std::string failure;
    try {
      const TWebhookAlarm alarm{webhook.Caption, "test",         std::nullopt, std::nullopt, text,
                                Now(),           LocalHostName()};
      failure = HttpFailure(SendLoggedWebhook(ReadWebhookTarget(webhook.Element), alarm, 0, Print));
    } catch (const std::exception& error) {
      failure = error.what();
    }
    status |= Report(UrlWithoutCredentials(url), failure);
  }
  return status;
}

// Runs the command as the service would, but waits for it: "" when it ended with status 0.
std::string RunNetMessage(const std::string& address, const std::string& text) {
  const std::vector<std::string> command = TNetMessage::Command(address, text);
  const auto ended = std::make_shared<std::promise<int>>();
  std::future<int> status = ended->get_future();
  if (StartProcess(command, [ended](int exitStatus) { ended->set_value(exitStatus); }) < 0)
    return TNetMessage::Failure(command[0], -1, false);
  if (status.wait_for(NetMessageWait) != std::future_status::ready)
    return "\"" + command[0] + "\" did not end within " + std::to_string(NetMessageWait.count()) + " s";
  return TNetMessage::Failure(command[0], status.get(), true);
}

int TestNetMessages(const std::vector<TTestAction>& netMessages, const std::string& text) {
  int status = 0;
  std::vector<std::string> seen;
  for (const TTestAction& netMessage : netMessages) {
    const pugi::xml_attribute address = netMessage.Element.attribute("address");
    if (address && FirstTime(seen, address.value()))
      status |= Report(address.value(), RunNetMessage(address.value(), text));
  }
  return status;
}

int TestHeartbeat(pugi::xml_node heartbeat) {
  std::string failure;
  try {
    failure = HttpFailure(SendHttpRequest(THeartbeat::ReadPings(heartbeat).Healthy));
  } catch (const std::exception& error) {
    failure = error.what();
  }
  return Report(UrlWithoutCredentials(heartbeat.attribute("url").value()), failure);
}

int SendTestAlerts() {
  pugi::xml_document config;
  const std::string path = LoadTestConfiguration(config);
  const pugi::xml_node root = config.document_element();
  const bool emails = !TestActions(root, "email").empty();
  const std::vector<TTestAction> webhooks = TestActions(root, "webhook");
  const std::vector<TTestAction> netMessages = TestActions(root, "netmessage");
  const pugi::xml_node heartbeat = FindRuleChild(root, "", "HEARTBEAT");
  if (!emails && webhooks.empty() && netMessages.empty() && !heartbeat)
    throw Exception("No alarm channel in the configuration " + path);

  const std::string text = "Test alert from Duzezevovivo on " + LocalHostName();
  int status = 0;
  if (emails) status |= TestEmails(config, path);
  status |= TestWebhooks(webhooks, text);
  status |= TestNetMessages(netMessages, text);
  if (heartbeat) status |= TestHeartbeat(heartbeat);
  return status;
}

}  // namespace

int RunTestAlert(const sigset_t& stopSignals) {
  pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
  try {
    return SendTestAlerts();
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
}

}  // namespace duz
