#include "base/Component.h"

#include <algorithm>

namespace duz {

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
  if (FOwner) FOwner->Insert(this);
}

TComponent::~TComponent() {
  // Each owned component removes itself from FComponents in its own destructor.
  while (!FComponents.empty()) delete FComponents.back();
  if (FOwner) FOwner->Remove(this);
}

void TComponent::Insert(TComponent* component) { FComponents.push_back(component); }

void TComponent::Remove(TComponent* component) {
  auto it = std::find(FComponents.begin(), FComponents.end(), component);
  if (it != FComponents.end()) FComponents.erase(it);
}

}  // namespace duz
