#pragma once
// The alarm posted to a webhook: a chat, a push service or any receiver of JSON. TWebhookJob holds
// the target and the alarm as they were when it fired and runs on the webhook outbox's worker. An
// attempt that finds no server, times out, or gets a 5xx or 429 reply is made again as TRetries
// says; any other reply but a 2xx is final. Giving up is an event-log error naming the URL (without
// its credentials) and the last reason.
#include <optional>
#include <pugixml.hpp>
#include <string>

#include "base/DateTime.h"
#include "log/Logger.h"
#include "net/HttpRequest.h"
#include "net/Outbox.h"
#include "net/Retries.h"

namespace duz {

// The order is that of the words of the format attribute.
enum class TWebhookFormat { Json, Ntfy, Slack, Gotify, Text };

struct TWebhookTarget {
  THttpRequest Http;  // the URL and its TLS settings
  TWebhookFormat Format = TWebhookFormat::Json;
  std::string Token;  // sent as "Authorization: Bearer ..."; empty for none
};

struct TWebhookAlarm {
  std::string Caption;
  std::string State;                 // "min", "normal", "max", "error", "off"; "test" from -testalert
  std::optional<float> Temperature;  // none while the thermometer is lost
  std::optional<float> Limit;        // the state's limit; none for normal and error
  std::string Message;               // the state's message, expanded
  TDateTime Time;                    // local
  std::string Host;                  // this computer's name
};

// A webhook alarm not yet posted, as a later run of the program takes it up again: the target (its
// token too), the alarm and the retries made.
struct TSavedWebhook {
  TWebhookTarget Target;
  TWebhookAlarm Alarm;
  int Retries = 0;
};

// The settings of a webhook element. Raises for a url that is missing or not http/https, a format
// that names none, a tlsverify that is not true or false.
TWebhookTarget ReadWebhookTarget(pugi::xml_node element);

// The POST that carries the alarm in the target's format:
// json: {"caption", "state", "temperature", "limit", "message", "time" (ISO 8601 with the offset),
//   "host"}, absent values null;
// ntfy: the message as text, "Title: caption (state)" and "Priority: urgent" (off, error), "high"
//   (min, max) or "default";
// slack: {"text": "caption (state): message"};
// gotify: {"title": "caption (state)", "message", "priority": 10, 8 or 5 as ntfy's};
// text: "caption (state): message" as text/plain.
// Pure.
THttpRequest WebhookRequest(const TWebhookTarget& target, const TWebhookAlarm& alarm);

// Posts the alarm once and writes its log block through writeLine, every line starting with
// "[" + caption + "] > ": in debug mode "WEBHOOK <begin>", the format and the body, "WEBHOOK
// exception: ..." for a failure and "WEBHOOK <end>"; in every mode the URL and the reply. A retry
// (1 up) adds "WEBHOOK retry N of 3".
THttpReply SendLoggedWebhook(const TWebhookTarget& target, const TWebhookAlarm& alarm, int retry,
                             const TLogLineWriter& writeLine);

class TWebhookJob : public TOutboxJob {
 public:
  TWebhookJob(TWebhookTarget target, TWebhookAlarm alarm);
  // One of an earlier run, whose retries go on where they were.
  explicit TWebhookJob(TSavedWebhook saved);

  std::optional<std::chrono::seconds> Attempt(const TEventLogger& events) override;
  std::string DroppedLine() const override;
  std::unique_ptr<TOutboxJob> Copy() const override { return std::make_unique<TWebhookJob>(*this); }
  TSavedWebhook Saved() const { return {FTarget, FAlarm, FRetries.Made()}; }

 private:
  TWebhookTarget FTarget;
  TWebhookAlarm FAlarm;
  TRetries FRetries;
};

}  // namespace duz
