#include "core/NetMessage.h"

#include <cstdlib>

#include "base/EventLogger.h"
#include "base/ProcessStart.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "log/Logger.h"

namespace duz {

TNetMessage::TNetMessage(std::string address)
    : FAddress(std::move(address)), FFailing(std::make_shared<std::atomic<bool>>(false)) {}

std::vector<std::string> TNetMessage::Command(const std::string& address, const std::string& message) {
  if (const char* program = std::getenv("DUZEZEVOVIVO_NETMESSAGE_COMMAND"); program && *program)
    return {program, address, message};
  return {"net", "send", address, message};
}

std::string TNetMessage::Failure(const std::string& program, int status, bool started) {
  if (!started) return "\"" + program + "\" cannot be started";
  if (status < 0) return "\"" + program + "\" did not end by itself";
  return status == 0 ? "" : "\"" + program + "\" ended with status " + std::to_string(status);
}

void TNetMessage::Send(const std::string& caption, const std::string& message) {
  // Separate arguments, no shell: neither the address nor the message can run commands.
  const std::vector<std::string> command = Command(FAddress, message);
  auto report = [failing = FFailing, address = FAddress, caption, program = command[0]](int status,
                                                                                        bool started) {
    const std::string failure = Failure(program, status, started);
    if (failure.empty()) {
      *failing = false;
      return;
    }
    DebugLog(TKelvo::LogPrefixOf(caption), "> NETMESSAGE to ", address, " failed: ", failure);
    if (!failing->exchange(true))
      TEventLogger(TKelvoPlatform::EventSource)
          .LogEvent("Net message to " + address + " failed: " + failure, EVENTLOG_ERROR_TYPE, 0, 0);
  };
  if (StartProcess(command, [report](int status) { report(status, true); }) < 0) report(-1, false);
}

}  // namespace duz
