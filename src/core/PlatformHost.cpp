#include "core/PlatformHost.h"

#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "log/ThreadUtils.h"

namespace duz {

TPlatformHost::TPlatformHost(TPlatformViewFactories views, const TStopSignal* stop)
    : FViews(std::move(views)), FStop(stop) {}

TPlatformHost::~TPlatformHost() { Stop(); }

void TPlatformHost::Start(TCreatedHandler onCreated) {
  std::promise<void> loopReady;
  FThread = std::thread([this, onCreated = std::move(onCreated), &loopReady] { Run(onCreated, loopReady); });
  loopReady.get_future().wait();
}

void TPlatformHost::Run(TCreatedHandler onCreated, std::promise<void>& loopReady) {
  SetThreadName("Platform");
  TEventLoop loop;
  FLoop = &loop;
  loopReady.set_value();
  std::string error;
  try {
    FPlatform = std::make_unique<TKelvoPlatform>(nullptr, CreateKelvo, FViews, FStop);
  } catch (const std::exception& e) {
    error = e.what();
  }
  onCreated(error);
  loop.Run();
  FPlatform.reset();
}

void TPlatformHost::Stop() {
  if (!FThread.joinable()) return;
  FLoop->Stop();
  FThread.join();
}

}  // namespace duz
