#pragma once
// TComponent: the ownership base of every object of the platform tree. A component owns the
// components created with it as owner, in creation order, and destroys them, the last created first,
// when it is destroyed itself. A component destroyed on its own leaves its owner's list.
// Not thread-safe: a tree is built and torn down by one thread at a time.
#include <string>
#include <vector>

namespace duz {

class TComponent {
 public:
  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return FOwner; }
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Component(int index) const { return FComponents.at(index); }

  const std::string& Name() const { return FName; }
  void SetName(const std::string& name) { FName = name; }

 private:
  void Insert(TComponent* component);
  void Remove(TComponent* component);

  TComponent* FOwner;
  std::vector<TComponent*> FComponents;
  std::string FName;
};

}  // namespace duz
