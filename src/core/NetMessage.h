#pragma once
// TNetMessage: the network message of a netmessage action, sent by a program that is started and
// never waited for: "net send ADDRESS MESSAGE", or the program that DUZEZEVOVIVO_NETMESSAGE_COMMAND
// names, with the address and the message as its two arguments. A program that cannot be started or
// ends with a non-zero status is an event-log error naming the address, once until a message to it
// gets through again, and in debug mode a line every time.
// Owned by its action item, which calls Send; the reports come from the thread that reaps the
// program, and may come after the item has gone.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace duz {

class TNetMessage {
 public:
  explicit TNetMessage(std::string address);

  void Send(const std::string& caption, const std::string& message);

  // The command line that sends message to address.
  static std::vector<std::string> Command(const std::string& address, const std::string& message);
  // Why the command whose program is program failed with that status: -1 when it could not be
  // started, or did not end by itself, else its exit status; "" for 0.
  static std::string Failure(const std::string& program, int status, bool started);

 private:
  std::string FAddress;
  std::shared_ptr<std::atomic<bool>> FFailing;  // the error is in the event log
};

}  // namespace duz
