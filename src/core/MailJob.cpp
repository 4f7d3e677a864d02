#include "core/MailJob.h"

#include <fmt/format.h>

#include <atomic>
#include <optional>

#include "base/DebugMode.h"
#include "base/Exception.h"
#include "config/ConfigRules.h"
#include "config/XmlHelpers.h"
#include "core/Kelvo.h"
#include "log/Logger.h"

namespace duz {
namespace {

// Once per run: a warning on every e-mail would bury the event log without telling more.
void WarnOfPasswordInClear(const TSmtpSettings& settings, bool serverOnLoopback, const TEventLogger& events) {
  static std::atomic<bool> warned{false};
  if (settings.Tls != TSmtpTls::None || settings.Authentication != TSmtpAuthentication::Login ||
      serverOnLoopback || warned.exchange(true))
    return;
  events.LogEvent("SMTP password is sent without encryption", EVENTLOG_WARNING_TYPE, 0, 0);
}

}  // namespace

TSmtpSettings ReadSmtpSettings(pugi::xml_node smtp) {
  TSmtpSettings settings;
  settings.Host = GetAttrDef(smtp, "address", "").ToString();
  settings.Port = static_cast<int>(GetAttrDef(smtp, "port", 25).ToInt());
  settings.Password = GetAttrDef(smtp, "password", "").ToString();
  settings.UserName = GetAttrDef(smtp, "username", "").ToString();
  settings.Authentication = !settings.UserName.empty() && !settings.Password.empty()
                                ? TSmtpAuthentication::Login
                                : TSmtpAuthentication::None;
  // The TLS settings by the configuration's rules, which -check applies too.
  settings.Tls = ParseSmtpTls(ReadText(smtp, AttributeRule("SMTP", "tls"))).value();
  settings.TlsVerify = ReadBoolean(smtp, AttributeRule("SMTP", "tlsverify"));
  settings.CaFile = ReadText(smtp, AttributeRule("SMTP", "cafile"));
  return settings;
}

TMailMessage AlarmMessage(pugi::xml_node smtp, std::vector<TMailAddress> recipients, std::string subject,
                          std::string body) {
  TMailMessage message;
  message.From = GetAttrDef(smtp, "from", "").ToString();
  message.Recipients = std::move(recipients);
  message.Subject = std::move(subject);
  message.Body = {std::move(body)};
  message.Priority = 1;
  return message;
}

TMailOutcome SendLoggedMail(const TSmtpSettings& settings, const TMailMessage& message,
                            const std::string& caption, int retry, const TLogLineWriter& writeLine,
                            const TEventLogger& events) {
  const std::string prefix = TKelvo::LogPrefixOf(caption) + "> ";
  const auto debugLine = [&](const std::string& text) {
    if (DebugMode) writeLine(prefix + text);
  };
  debugLine("EMAIL <begin>");
  if (retry > 0) writeLine(prefix + fmt::format("EMAIL retry {} of {}", retry, TRetries::Max));
  debugLine("EMAIL: From:" + message.From);
  debugLine("EMAIL: To  :" + FormatAddressList(message.Recipients));
  debugLine("EMAIL: Subj:" + message.Subject);
  std::string body;
  for (const std::string& line : message.Body) body += line + "\n";
  debugLine("EMAIL: Body:" + body);
  writeLine(prefix + "SMTP: Host:" + settings.Host);
  writeLine(prefix + "SMTP: Port:" + std::to_string(settings.Port));
  writeLine(prefix + "SMTP: Username:" + settings.UserName);
  writeLine(prefix + "SMTP: Password: *****");  // never the password, in any mode
  if (!settings.TlsVerify) debugLine("SMTP: certificate not verified");
  TMailOutcome outcome{TMailResult::Sent, ""};
  try {
    TSmtpClient client(settings,
                       [&](const std::string& status) { writeLine(prefix + "SMTP status: " + status); });
    client.Connect();
    WarnOfPasswordInClear(settings, client.ConnectedToLoopback(), events);
    client.Send(message);
    client.Disconnect();
    debugLine("EMAIL <sended>");
  } catch (const ESmtpRefusal& error) {
    outcome = {TMailResult::Refused, error.what()};
  } catch (const std::exception& error) {
    outcome = {TMailResult::Failed, error.what()};
  }
  if (outcome.Result != TMailResult::Sent) debugLine("EMAIL exception: " + outcome.Reason);
  debugLine("EMAIL <end>");
  return outcome;
}

TMailJob::TMailJob(TSmtpSettings settings, TMailMessage message, std::string caption,
                   std::shared_ptr<TKelvoStatus> status)
    : FSettings(std::move(settings)),
      FMessage(std::move(message)),
      FCaption(std::move(caption)),
      FStatus(std::move(status)) {}

TMailJob::TMailJob(TSmtpSettings settings, TSavedMail saved, std::shared_ptr<TKelvoStatus> status)
    : TMailJob(std::move(settings), std::move(saved.Message), std::move(saved.Caption), std::move(status)) {
  FRetries = TRetries(saved.Retries);
}

std::optional<std::chrono::seconds> TMailJob::Attempt(const TEventLogger& events) {
  const TMailOutcome outcome =
      SendLoggedMail(FSettings, FMessage, FCaption, FRetries.Made(), WriteLog, events);
  if (outcome.Result == TMailResult::Failed)
    if (const auto pause = FRetries.Next()) return pause;
  if (FStatus) FStatus->CountEmail(outcome.Result == TMailResult::Sent);
  if (outcome.Result == TMailResult::Sent) return std::nullopt;
  events.LogEvent(FRetries.GivenUp("E-mail to " + FormatAddressList(FMessage.Recipients), outcome.Reason),
                  EVENTLOG_ERROR_TYPE, 0, 0);
  return std::nullopt;
}

std::string TMailJob::DroppedLine() const {
  return TKelvo::LogPrefixOf(FCaption) + "> EMAIL to " + FormatAddressList(FMessage.Recipients) +
         " dropped: the outbox is full";
}

}  // namespace duz
