#pragma once
// TRetries: when a network job that failed for a reason that may pass (e-mail, webhook) tries
// again: after 1, 5 and 15 minutes, then it gives up. One per job, used by the outbox worker that
// runs it.
#include <chrono>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace duz {

class TRetries {
 public:
  static constexpr std::chrono::seconds Pauses[] = {std::chrono::minutes(1), std::chrono::minutes(5),
                                                    std::chrono::minutes(15)};
  static constexpr int Max = static_cast<int>(std::size(Pauses));

  // made: the retries an earlier run of the program had made already (0 to Max).
  explicit TRetries(int made = 0) : FMade(made) {}

  // The pause before the next attempt, or nothing when every retry has been made.
  std::optional<std::chrono::seconds> Next();
  // Attempts made after the first one.
  int Made() const { return FMade; }
  // The event-log text of a job given up: "<what> given up after N attempts: <reason>".
  std::string GivenUp(std::string_view what, std::string_view reason) const;

 private:
  int FMade;
};

}  // namespace duz
