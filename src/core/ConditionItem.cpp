#include "core/ConditionItem.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "base/Clock.h"
#include "base/DebugMode.h"
#include "base/Exception.h"
#include "base/ProcessStart.h"
#include "base/UpperCase.h"
#include "core/Kelvo.h"
#include "log/Logger.h"
#include "net/MailMessage.h"
#include "net/SmtpClient.h"
#include "xml/XmlHelpers.h"

namespace duz {

namespace {

struct TStateWord {
  const char* Word;
  TConditionState State;
};
const TStateWord StateWords[] = {
    {"MIN", stMin}, {"NORMAL", stNormal}, {"MAX", stMax}, {"ERROR", stError}, {"OFF", stOff}};

}  // namespace

TConditionItem::TConditionItem(TCondition& condition, pugi::xml_node element)
    : TComponent(&condition), FCondition(condition), FElement(element) {
  const TVariant interval = GetAttrDef(element, "repeatinterval", 0);
  FRepeatInterval = interval.ToInt();
  if (FRepeatInterval < 0)
    throw ERangeError("repeatinterval " + interval.ToString() + " is not a number of minutes from 0 up");
  FStates = ParseStates(GetAttrDef(element, "message", "").ToString());
}

TConditionStates TConditionItem::ParseStates(std::string_view message) {
  TConditionStates states;
  if (message.empty()) return TConditionStates().set().reset(stNormal);
  const std::string upper = UpperCase(message);
  for (const TStateWord& word : StateWords)
    if (upper.find(word.Word) != std::string::npos) states.set(word.State);
  return states;
}

void TConditionItem::Fire() {
  FMessage = FCondition.ExpandMessage();
  if (!FStates.test(FCondition.State())) return;
  try {
    if (std::strcmp(FElement.name(), "netmessage") == 0)
      SendNetMessage();
    else if (std::strcmp(FElement.name(), "email") == 0)
      FCondition.Subservice().Status().CountEmail(SendEmail());
    FLastFired = Now();
  } catch (...) {
    // An action never disturbs its condition; the next repeat tries again.
  }
}

bool TConditionItem::CheckRepeat() {
  if (FRepeatInterval == 0) return false;
  // Whole milliseconds, so that a repeat exactly at the mark is not lost to rounding.
  const double elapsedMs = std::round((Now() - FLastFired) * MSecsPerDay);
  if (elapsedMs < static_cast<double>(FRepeatInterval) * 60000) return false;
  Fire();
  return true;
}

int TConditionItem::SendNetMessage() {
  const pugi::xml_attribute address = FElement.attribute("address");
  if (!address) return -1;
  // Separate arguments, no shell: neither the address nor the message can run commands.
  return StartProcess({"net", "send", address.value(), FMessage});
}

std::string TConditionItem::LogPrefix() const { return "[" + FCondition.Subservice().GetCaption() + "] > "; }

bool TConditionItem::SendEmail() {
  const std::string prefix = LogPrefix();
  bool sent = false;
  if (DebugMode) WriteLog(prefix + "EMAIL <begin>");
  try {
    const pugi::xml_node smtp = FCondition.ConfigRoot().child("SMTP");
    TMailMessage message;
    message.From = GetAttrDef(smtp, "from", "").ToString();
    message.Recipients = ParseAddressList(GetAttrDef(FElement, "address", "").ToString());
    message.Subject = FCondition.Subservice().GetCaption();
    message.Body = {FMessage};
    message.Priority = 1;
    if (DebugMode) {
      WriteLog(prefix + "EMAIL: From:" + message.From);
      WriteLog(prefix + "EMAIL: To  :" + FormatAddressList(message.Recipients));
      WriteLog(prefix + "EMAIL: Subj:" + message.Subject);
      WriteLog(prefix + "EMAIL: Body:" + FMessage + "\n");
    }
    TSmtpSettings settings;
    settings.Host = GetAttrDef(smtp, "address", "").ToString();
    settings.Port = static_cast<int>(GetAttrDef(smtp, "port", 25).ToInt());
    settings.Password = GetAttrDef(smtp, "password", "").ToString();
    settings.UserName = GetAttrDef(smtp, "username", "").ToString();
    settings.Authentication = !settings.UserName.empty() && !settings.Password.empty()
                                  ? TSmtpAuthentication::Login
                                  : TSmtpAuthentication::None;
    WriteLog(prefix + "SMTP: Host:" + settings.Host);
    WriteLog(prefix + "SMTP: Port:" + std::to_string(settings.Port));
    WriteLog(prefix + "SMTP: Username:" + settings.UserName);
    WriteLog(prefix + "SMTP: Password:" + (DebugMode ? settings.Password : std::string(" *****")));
    TSmtpClient client(settings, [this](const std::string& status) { SmtpStatus(status); });
    client.Connect();
    client.Send(message);
    client.Disconnect();
    if (DebugMode) WriteLog(prefix + "EMAIL <sended>");
    sent = true;
  } catch (const std::exception& error) {
    if (DebugMode) WriteLog(prefix + "EMAIL exception: " + error.what());
  }
  if (DebugMode) WriteLog(prefix + "EMAIL <end>");
  return sent;
}

void TConditionItem::SmtpStatus(const std::string& status) {
  WriteLog(LogPrefix() + "SMTP status: " + status);
}

}  // namespace duz
