#pragma once
// TPlatformView: something that runs beside a platform and only shows it to the outside (the metrics
// endpoint and status page, the MQTT publisher), reading its status board from threads of its own.
// Whoever creates a platform hands it the factories of its views; the platform creates its views
// once its configuration is loaded and destroys them, the last first, before it stops ticking. A
// view is made from the configuration, the status board and the event log, never from the platform
// itself, so that a view needs nothing of the watch.
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <vector>

namespace duz {

class TEventLogger;
class TStatusBoard;

class TPlatformView {
 public:
  virtual ~TPlatformView() = default;
};

// Owner thread of the platform. Returns nullptr when the configuration does not ask for the view;
// raises for a bad configuration (the platform reports the message and goes on without the view).
// The board and the event log outlive the view.
using TPlatformViewFactory = std::function<std::unique_ptr<TPlatformView>(
    const pugi::xml_document& config, TStatusBoard& board, const TEventLogger& events)>;
using TPlatformViewFactories = std::vector<TPlatformViewFactory>;

}  // namespace duz
