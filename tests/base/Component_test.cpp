#include "base/Component.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace duz {
namespace {

class TRecorder : public TComponent {
 public:
  TRecorder(TComponent* owner, std::string name, std::vector<std::string>& log)
      : TComponent(owner), FLabel(std::move(name)), FLog(log) {}
  ~TRecorder() override { FLog.push_back(FLabel); }

 private:
  std::string FLabel;
  std::vector<std::string>& FLog;
};

TEST(ComponentTest, OwnedComponentsAreDestroyedLastCreatedFirst) {
  std::vector<std::string> log;
  auto* root = new TRecorder(nullptr, "root", log);
  new TRecorder(root, "a", log);
  auto* b = new TRecorder(root, "b", log);
  new TRecorder(b, "b1", log);
  new TRecorder(root, "c", log);
  EXPECT_EQ(root->ComponentCount(), 3);
  delete root;
  EXPECT_EQ(log, (std::vector<std::string>{"root", "c", "b", "b1", "a"}));
}

TEST(ComponentTest, ComponentFreedOnItsOwnLeavesItsOwnersList) {
  std::vector<std::string> log;
  TRecorder root(nullptr, "root", log);
  auto* a = new TRecorder(&root, "a", log);
  auto* b = new TRecorder(&root, "b", log);
  delete a;
  ASSERT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(root.Component(0), b);
}

}  // namespace
}  // namespace duz
