#include "core/PlatformHost.h"

#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "log/ThreadUtils.h"

namespace duz {

TPlatformHost::TPlatformHost(TPlatformViewFactories views, const TStopSignal* stop, std::string stateFile)
    : FViews(std::move(views)), FStop(stop), FStateFile(std::move(stateFile)) {}

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
    FPlatform = std::make_unique<TKelvoPlatform>(nullptr, CreateKelvo, FViews, FStop, FStateFile);
  } catch (const std::exception& e) {
    error = e.what();
  }
  onCreated(error);
  loop.Run();
  FPlatform.reset();
  FLoop = nullptr;
}

void TPlatformHost::Stop() {
  if (!FThread.joinable()) return;
  FLoop.load()->Stop();
  FThread.join();
}

// Posted: the loop runs only after the creation, and the platform is the owner thread's.
void TPlatformHost::Reload() {
  if (TEventLoop* loop = FLoop)
    loop->Post([this] {
      if (FPlatform) FPlatform->Reload();
    });
}

}  // namespace duz
