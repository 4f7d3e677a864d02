#include "core/PlatformHost.h"

#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "log/ThreadUtils.h"

namespace duz {

TPlatformHost::TPlatformHost() = default;

TPlatformHost::~TPlatformHost() { Stop(); }

std::string TPlatformHost::Start() {
  std::promise<std::string> created;
  auto result = created.get_future();
  FThread = std::thread([this, &created] { Run(created); });
  return result.get();
}

void TPlatformHost::Run(std::promise<std::string>& created) {
  SetThreadName("Platform");
  TEventLoop loop;
  FLoop = &loop;
  std::string error;
  try {
    FPlatform = std::make_unique<TKelvoPlatform>(nullptr, CreateKelvo);
  } catch (const std::exception& e) {
    error = e.what();
  }
  created.set_value(error);
  loop.Run();
  FPlatform.reset();
}

void TPlatformHost::Stop() {
  if (!FThread.joinable()) return;
  FLoop->Stop();
  FThread.join();
}

}  // namespace duz
