#include "support/Env.h"

#include <cstdlib>
#include <ctime>
#include <thread>

namespace duz::test {

TScopedEnv::TScopedEnv(const std::string& name, const std::string& value) : FName(name) {
  if (const char* old = std::getenv(name.c_str())) FOld = old;
  setenv(name.c_str(), value.c_str(), 1);
}

TScopedEnv::~TScopedEnv() {
  if (FOld)
    setenv(FName.c_str(), FOld->c_str(), 1);
  else
    unsetenv(FName.c_str());
}

TScopedZone::TScopedZone(const char* zone) : FEnv(std::in_place, "TZ", zone) { tzset(); }

TScopedZone::~TScopedZone() {
  FEnv.reset();
  tzset();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return done();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace duz::test
