#include "core/PlatformView.h"

#include <mutex>

namespace duz {
namespace {

std::mutex FactoriesLock;
std::vector<TPlatformViewFactory> Factories;  // guarded by FactoriesLock

}  // namespace

void RegisterPlatformView(TPlatformViewFactory factory) {
  std::lock_guard lock(FactoriesLock);
  Factories.push_back(std::move(factory));
}

std::vector<TPlatformViewFactory> PlatformViewFactories() {
  std::lock_guard lock(FactoriesLock);
  return Factories;
}

}  // namespace duz
