#pragma once
// Test helpers: an environment variable or the time zone set for one scope, and waiting for a
// condition.
#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace duz::test {

class TScopedEnv {
 public:
  TScopedEnv(const std::string& name, const std::string& value);
  ~TScopedEnv();

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

// The process time zone for one scope; the C library reads TZ again on entry and on exit.
class TScopedZone {
 public:
  explicit TScopedZone(const char* zone);
  ~TScopedZone();

 private:
  std::optional<TScopedEnv> FEnv;
};

// Polls done() every few milliseconds until it is true or the time-out passes; returns done().
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

}  // namespace duz::test
