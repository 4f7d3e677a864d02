#pragma once
// Shared ground of the mail client tests: settings for a server on 127.0.0.1 with short time-outs,
// an alarm message, and one whole e-mail sent with its failure as text.
#include <string>

#include "net/SmtpClient.h"

namespace duz {

inline TSmtpSettings LocalSettings(int port) {
  TSmtpSettings settings;
  settings.Host = "127.0.0.1";
  settings.Port = port;
  settings.GreetingName = "tester";
  settings.ConnectTimeout = std::chrono::seconds(5);
  settings.ReplyTimeout = std::chrono::seconds(5);
  return settings;
}

inline TMailMessage AlarmMessage() {
  TMailMessage message;
  message.From = "alarm@example.com";
  message.Recipients = {{"", "ops@example.com"}};
  message.Subject = "Kelvo_on_COM3";
  message.Body = {"Temperature 51.3"};
  return message;
}

// The message of the failure, or "" after a complete dialogue.
inline std::string SendOne(TSmtpClient& client, const TMailMessage& message) {
  try {
    client.Connect();
    client.Send(message);
    client.Disconnect();
    return "";
  } catch (const Exception& error) {
    return error.what();
  }
}

}  // namespace duz
