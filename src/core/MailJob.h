#pragma once
// The alarm e-mail on its way. TMailJob holds the message and the mail server settings as they were
// when the alarm fired, and the caption of its log lines; it runs on the e-mail outbox's worker.
// An attempt that fails for a reason that may pass (no connection, a time-out, a broken connection,
// a 4xx reply) is made again as TRetries says; a refusal of the message itself (a 5xx reply
// to MAIL, RCPT or DATA) is final at once. Giving up is an event-log error naming the recipients
// and the last reason. The thermometer's status counts the e-mail once, sent or given up.
#include <chrono>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "log/Logger.h"
#include "net/MailMessage.h"
#include "net/Outbox.h"
#include "net/Retries.h"
#include "net/SmtpClient.h"
#include "status/KelvoStatus.h"

namespace duz {

// The mail server settings of the configuration's SMTP element; a missing element gives every
// default. Raises EConvertError for a port or a tlsverify that does not convert, and ERangeError for
// a tls that names no mode: an e-mail meant for TLS is never sent in clear.
TSmtpSettings ReadSmtpSettings(pugi::xml_node smtp);

// An alarm's message from the SMTP element's sender (from), with the highest priority.
TMailMessage AlarmMessage(pugi::xml_node smtp, std::vector<TMailAddress> recipients, std::string subject,
                          std::string body);

enum class TMailResult { Sent, Failed, Refused };

// An alarm e-mail not yet sent, as a later run of the program takes it up again: the caption of its
// log lines, the message and the retries made. The mail server settings are not kept (nor their
// password written to disk): the later run sends with those of its own configuration.
struct TSavedMail {
  std::string Caption;
  TMailMessage Message;
  int Retries = 0;
};

struct TMailOutcome {
  TMailResult Result;
  std::string Reason;  // the failure's message; empty when sent
};

// Sends one e-mail and writes its log block through writeLine, every line starting with
// "[" + caption + "] > ": in debug mode "EMAIL <begin>", the message's lines, the server lines, the
// status lines, "EMAIL <sended>" or "EMAIL exception: ..." and "EMAIL <end>"; in every mode the
// server lines (password masked) and the status lines. A retry (1 up) adds "EMAIL retry N of 3".
// The first password of the run that goes in clear to a server off this computer is an event-log
// warning.
TMailOutcome SendLoggedMail(const TSmtpSettings& settings, const TMailMessage& message,
                            const std::string& caption, int retry, const TLogLineWriter& writeLine,
                            const TEventLogger& events);

class TMailJob : public TOutboxJob {
 public:
  // status may be empty (nothing is counted).
  TMailJob(TSmtpSettings settings, TMailMessage message, std::string caption,
           std::shared_ptr<TKelvoStatus> status);
  // One of an earlier run, whose retries go on where they were.
  TMailJob(TSmtpSettings settings, TSavedMail saved, std::shared_ptr<TKelvoStatus> status);

  std::optional<std::chrono::seconds> Attempt(const TEventLogger& events) override;
  std::string DroppedLine() const override;
  std::unique_ptr<TOutboxJob> Copy() const override { return std::make_unique<TMailJob>(*this); }
  TSavedMail Saved() const { return {FCaption, FMessage, FRetries.Made()}; }

 private:
  TSmtpSettings FSettings;
  TMailMessage FMessage;
  std::string FCaption;
  std::shared_ptr<TKelvoStatus> FStatus;
  TRetries FRetries;
};

}  // namespace duz
