#pragma once
// TPlatformView: something that runs beside a platform and only shows it to the outside (the MQTT
// publisher), reading the platform's snapshot from threads of its own. The entry point registers one
// factory per kind of view before any platform exists; every platform creates its views once its
// configuration is loaded and destroys them, the last first, before it stops ticking. This way a
// view in a folder above core runs in every mode that creates a platform.
#include <functional>
#include <memory>
#include <vector>

namespace duz {

class TKelvoPlatform;

class TPlatformView {
 public:
  virtual ~TPlatformView() = default;
};

// Owner thread of the platform. Returns nullptr when the configuration does not ask for the view;
// raises for a bad configuration (the platform reports the message and goes on without the view).
using TPlatformViewFactory = std::function<std::unique_ptr<TPlatformView>(TKelvoPlatform& platform)>;

// Before the first platform is created.
void RegisterPlatformView(TPlatformViewFactory factory);
std::vector<TPlatformViewFactory> PlatformViewFactories();

}  // namespace duz
