#include "net/Retries.h"

#include <fmt/format.h>

namespace duz {

std::optional<std::chrono::seconds> TRetries::Next() {
  if (FMade == Max) return std::nullopt;
  return Pauses[FMade++];
}

std::string TRetries::GivenUp(std::string_view what, std::string_view reason) const {
  const int attempts = FMade + 1;
  return fmt::format("{} given up after {} attempt{}: {}", what, attempts, attempts == 1 ? "" : "s", reason);
}

}  // namespace duz
