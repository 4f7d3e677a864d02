#include "service/TestMail.h"

#include <algorithm>
#include <iostream>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/EventLogger.h"
#include "base/Exception.h"
#include "config/ConfigFile.h"
#include "config/ConfigRules.h"
#include "config/XmlHelpers.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "core/MailJob.h"
#include "net/HostAddress.h"

namespace duz {
namespace {

struct TTestRecipient {
  TMailAddress Address;
  std::string Caption;  // of the thermometer whose action named the address first
};

// Every distinct address of every email action, in document order.
std::vector<TTestRecipient> EmailRecipients(pugi::xml_node root) {
  std::vector<TTestRecipient> recipients;
  for (const TTestAction& email : TestActions(root, "email")) {
    for (TMailAddress& address : ParseAddressList(GetAttrDef(email.Element, "address", "").ToString())) {
      const bool known = std::any_of(recipients.begin(), recipients.end(), [&](const TTestRecipient& r) {
        return r.Address.Address == address.Address;
      });
      if (!known) recipients.push_back({std::move(address), email.Caption});
    }
  }
  return recipients;
}

}  // namespace

std::string LoadTestConfiguration(pugi::xml_document& config) {
  const std::string path = ConfigFilePath();
  if (!LoadConfigFile(config, path)) throw Exception("Config file not found! (" + path + ")");
  return path;
}

std::vector<TTestAction> TestActions(pugi::xml_node root, const char* name) {
  std::vector<TTestAction> actions;
  for (pugi::xml_node kelvo : root.children()) {
    if (ElementRuleName(kelvo, "") != "KELVO") continue;
    for (pugi::xml_node condition : kelvo.children()) {
      if (ElementRuleName(condition, "KELVO") != "CONDITION") continue;
      for (pugi::xml_node action : condition.children(name))
        actions.push_back({TKelvo::CaptionOf(kelvo, ComPortNumber(kelvo)), action});
    }
  }
  return actions;
}

int SendTestMails(const pugi::xml_document& config, const std::string& path, const std::string& success) {
  const pugi::xml_node smtp = config.document_element().child("SMTP");
  if (!smtp) throw Exception("No SMTP element in the configuration " + path);
  const std::vector<TTestRecipient> recipients = EmailRecipients(config.document_element());
  if (recipients.empty()) throw Exception("No email action in the configuration " + path);
  TSmtpSettings settings;
  try {
    settings = ReadSmtpSettings(smtp);
  } catch (const std::exception& error) {
    throw Exception(std::string("SMTP settings: ") + error.what());
  }

  const TEventLogger events(TKelvoPlatform::EventSource);
  const std::string body = "Test e-mail from Duzezevovivo on " + LocalHostName();
  const auto print = [](const std::string& line) { std::cout << line << '\n'; };
  int status = 0;
  for (const TTestRecipient& recipient : recipients) {
    const TMailOutcome outcome =
        SendLoggedMail(settings, AlarmMessage(smtp, {recipient.Address}, recipient.Caption + " test", body),
                       recipient.Caption, 0, print, events);
    if (outcome.Result == TMailResult::Sent) {
      print(recipient.Address.Address + ": " + success);
    } else {
      print(recipient.Address.Address + ": failed - " + outcome.Reason);
      status = 1;
    }
  }
  return status;
}

int RunTestMail(const sigset_t& stopSignals) {
  pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);
  try {
    pugi::xml_document config;
    const std::string path = LoadTestConfiguration(config);
    return SendTestMails(config, path, "sent");
  } catch (const std::exception& error) {
    std::cerr << error.what() << '\n';
    return 1;
  }
}

}  // namespace duz
