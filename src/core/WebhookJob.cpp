#include "core/WebhookJob.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>

#include "base/DebugMode.h"
#include "base/Utf8.h"
#include "config/ConfigRules.h"
#include "config/ConfigValues.h"
#include "core/Kelvo.h"
#include "net/MailMessage.h"

namespace duz {
namespace {

constexpr const char* FormatNames[] = {"json", "ntfy", "slack", "gotify", "text"};
// By urgency.
constexpr const char* NtfyPriorities[] = {"default", "high", "urgent"};
constexpr int GotifyPriorities[] = {5, 8, 10};

// 2: off and error, which need someone at once; 1: min and max; 0: the rest.
int Urgency(const std::string& state) {
  if (state == "off" || state == "error") return 2;
  return state == "min" || state == "max" ? 1 : 0;
}

std::string JsonNumber(std::optional<float> value) {
  return value && std::isfinite(*value) ? fmt::format("{}", *value) : "null";
}

std::string IsoTimeWithOffset(TDateTime time) {
  const int offset = UtcOffsetMinutes(time);
  return fmt::format("{}{}{:02}:{:02}", IsoDateTime(time), offset < 0 ? '-' : '+', std::abs(offset) / 60,
                     std::abs(offset) % 60);
}

// A header value cannot hold a line break, which would start a header of the value's choosing.
std::string HeaderValue(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

}  // namespace

TWebhookTarget ReadWebhookTarget(pugi::xml_node element) {
  TWebhookTarget target;
  target.Http = HttpTarget(element, "webhook");
  const TAttributeRule& format = AttributeRule("webhook", "format");
  const std::string word = ReadText(element, format);
  for (size_t i = 0; i < format.Words.size(); ++i)
    if (format.Words[i] == word) target.Format = static_cast<TWebhookFormat>(i);
  target.Token = ReadText(element, AttributeRule("webhook", "token"));
  return target;
}

THttpRequest WebhookRequest(const TWebhookTarget& target, const TWebhookAlarm& alarm) {
  THttpRequest request = target.Http;
  const std::string title = alarm.Caption + " (" + alarm.State + ")";
  const int urgency = Urgency(alarm.State);
  std::string contentType = "application/json";
  switch (target.Format) {
    case TWebhookFormat::Json:
      request.Body = fmt::format(
          R"({{"caption":{},"state":{},"temperature":{},"limit":{},"message":{},"time":{},"host":{}}})",
          JsonString(alarm.Caption), JsonString(alarm.State), JsonNumber(alarm.Temperature),
          JsonNumber(alarm.Limit), JsonString(alarm.Message), JsonString(IsoTimeWithOffset(alarm.Time)),
          JsonString(alarm.Host));
      break;
    case TWebhookFormat::Ntfy:
      contentType = "text/plain; charset=utf-8";
      request.Body = alarm.Message;
      // Encoded words carry a caption that is not ASCII, as ntfy reads them.
      request.Headers.push_back("Title: " + EncodeHeaderText(title));
      request.Headers.push_back(std::string("Priority: ") + NtfyPriorities[urgency]);
      break;
    case TWebhookFormat::Slack:
      request.Body = fmt::format(R"({{"text":{}}})", JsonString(title + ": " + alarm.Message));
      break;
    case TWebhookFormat::Gotify:
      request.Body = fmt::format(R"({{"title":{},"message":{},"priority":{}}})", JsonString(title),
                                 JsonString(alarm.Message), GotifyPriorities[urgency]);
      break;
    case TWebhookFormat::Text:
      contentType = "text/plain; charset=utf-8";
      request.Body = title + ": " + alarm.Message;
      break;
  }
  request.Headers.push_back("Content-Type: " + contentType);
  if (!target.Token.empty()) request.Headers.push_back("Authorization: Bearer " + HeaderValue(target.Token));
  return request;
}

THttpReply SendLoggedWebhook(const TWebhookTarget& target, const TWebhookAlarm& alarm, int retry,
                             const TLogLineWriter& writeLine) {
  const std::string prefix = TKelvo::LogPrefixOf(alarm.Caption) + "> ";
  const auto debugLine = [&](const std::string& text) {
    if (DebugMode) writeLine(prefix + text);
  };
  const THttpRequest request = WebhookRequest(target, alarm);
  debugLine("WEBHOOK <begin>");
  if (retry > 0) writeLine(prefix + fmt::format("WEBHOOK retry {} of {}", retry, TRetries::Max));
  writeLine(prefix + "WEBHOOK: Url:" + UrlWithoutCredentials(request.Url));
  debugLine(std::string("WEBHOOK: Format:") + FormatNames[static_cast<int>(target.Format)]);
  debugLine("WEBHOOK: Body:" + request.Body.value_or(""));
  if (!request.TlsVerify) debugLine("WEBHOOK: certificate not verified");
  const THttpReply reply = SendHttpRequest(request);
  const std::string failure = HttpFailure(reply);
  writeLine(prefix + "WEBHOOK reply: " + (reply.Status ? "HTTP " + std::to_string(reply.Status) : failure));
  if (!failure.empty()) debugLine("WEBHOOK exception: " + failure);
  debugLine("WEBHOOK <end>");
  return reply;
}

TWebhookJob::TWebhookJob(TWebhookTarget target, TWebhookAlarm alarm)
    : FTarget(std::move(target)), FAlarm(std::move(alarm)) {}

TWebhookJob::TWebhookJob(TSavedWebhook saved)
    : FTarget(std::move(saved.Target)), FAlarm(std::move(saved.Alarm)), FRetries(saved.Retries) {}

std::optional<std::chrono::seconds> TWebhookJob::Attempt(const TEventLogger& events) {
  const THttpReply reply = SendLoggedWebhook(FTarget, FAlarm, FRetries.Made(), WriteLog);
  const std::string failure = HttpFailure(reply);
  if (failure.empty()) return std::nullopt;
  if (MayPass(reply))
    if (const auto pause = FRetries.Next()) return pause;
  events.LogEvent(FRetries.GivenUp("Webhook to " + UrlWithoutCredentials(FTarget.Http.Url), failure),
                  EVENTLOG_ERROR_TYPE, 0, 0);
  return std::nullopt;
}

std::string TWebhookJob::DroppedLine() const {
  return TKelvo::LogPrefixOf(FAlarm.Caption) + "> WEBHOOK to " + UrlWithoutCredentials(FTarget.Http.Url) +
         " dropped: the outbox is full";
}

}  // namespace duz
