#include "platform/dataset/Component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace platform {
namespace {

class Recorder : public Component {
 public:
  explicit Recorder(std::string name, Component* owner = nullptr)
      : Component(owner, std::move(name)) {}
  ~Recorder() override { SetDestroying(); }
  std::vector<std::string> log;

 protected:
  void Notification(Component& c, TOperation op) noexcept override {
    log.push_back((op == TOperation::opInsert ? "+" : "-") + c.Name);
  }
};

TEST(ComponentTest, OwnerHearsOfItsComponentsComingAndGoing) {
  Recorder owner("owner");
  auto a = std::make_unique<Recorder>("a", &owner);
  auto b = std::make_unique<Recorder>("b", &owner);
  EXPECT_EQ(owner.Components().size(), 2u);
  EXPECT_EQ(a->Owner(), &owner);
  a.reset();
  EXPECT_EQ(owner.log, (std::vector<std::string>{"+a", "+b", "-a"}));
  EXPECT_EQ(owner.Components(), (std::vector<Component*>{b.get()}));
}

TEST(ComponentTest, AnOwnerGoingFirstClearsTheLinks) {
  auto owner = std::make_unique<Recorder>("owner");
  Recorder child("child", owner.get());
  owner.reset();
  EXPECT_EQ(child.Owner(), nullptr);
}

TEST(ComponentTest, FreeNotificationWorksBothWaysAndCanBeRemoved) {
  Recorder watcher("watcher");
  {
    Recorder table("table");
    table.FreeNotification(watcher);
    Recorder other("other");
    other.FreeNotification(watcher);
    other.RemoveFreeNotification(watcher);
  }
  EXPECT_EQ(watcher.log, (std::vector<std::string>{"-table"}));
  auto source = std::make_unique<Recorder>("source");
  Recorder dataset("dataset");
  dataset.FreeNotification(*source);
  EXPECT_FALSE(source->Destroying());
  source.reset();
  EXPECT_EQ(dataset.log, (std::vector<std::string>{"-source"}));
}

}  // namespace
}  // namespace platform
