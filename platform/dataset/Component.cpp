#include "platform/dataset/Component.h"

#include <algorithm>

namespace platform {

Component::Component(Component* owner, std::string name) : Name(std::move(name)), owner_(owner) {
  if (owner_ != nullptr) {
    owner_->components_.push_back(this);
    owner_->Notification(*this, TOperation::opInsert);
  }
}

Component::~Component() {
  destroying_ = true;
  // Copies: a notified component may change the lists.
  const std::vector<Component*> followers = free_notifies_;
  for (Component* c : followers) {
    std::erase(c->free_notifies_, this);
    if (!c->destroying_) c->Notification(*this, TOperation::opRemove);
  }
  if (owner_ != nullptr) {
    std::erase(owner_->components_, this);
    // An owner that is going away is told nothing: its members may be gone.
    if (!owner_->destroying_) owner_->Notification(*this, TOperation::opRemove);
  }
  for (Component* c : components_)
    c->owner_ = nullptr;
}

void Component::FreeNotification(Component& other) {
  if (&other == this) return;
  if (std::find(free_notifies_.begin(), free_notifies_.end(), &other) == free_notifies_.end())
    free_notifies_.push_back(&other);
  if (std::find(other.free_notifies_.begin(), other.free_notifies_.end(), this) ==
      other.free_notifies_.end())
    other.free_notifies_.push_back(this);
}

void Component::RemoveFreeNotification(Component& other) {
  std::erase(free_notifies_, &other);
  std::erase(other.free_notifies_, this);
}

}  // namespace platform
