#pragma once
// TSubservice: what the platform needs of a thermometer subservice: it is owned by the platform and
// ticked about once per second on the tick thread. TKelvo is the one real kind.
#include "base/Component.h"

namespace duz {

class TSubservice : public TComponent {
 public:
  using TComponent::TComponent;
  virtual void Tick() = 0;
};

}  // namespace duz
