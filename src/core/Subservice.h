#pragma once
// TSubservice: what the platform needs of a thermometer subservice: it is owned by the platform and
// ticked about once per second on the tick thread. TKelvo is the one real kind.
#include "base/Component.h"

namespace duz {

class TSubservice : public TComponent {
 public:
  using TComponent::TComponent;
  virtual void Tick() = 0;
  // Any thread: whether the thermometer sends readings (the heartbeat asks); a subservice without
  // one is never lost.
  virtual bool IsConnected() const { return true; }
};

}  // namespace duz
