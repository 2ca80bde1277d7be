// Component: the small component model the dataset layer needs: a name, a
// non-owning link to the owner, notification of interested components when
// one goes away, and a destroying flag. Ownership stays with whoever holds
// the std::unique_ptr; the model only tells others about it.
//
// A component registers with its owner, which sees Notification(opInsert)
// and, when the component goes away first, Notification(opRemove). An owner
// that goes away first clears its components' owner links. FreeNotification
// asks to hear of another component's removal (a data source of its dataset,
// a table of its database) and works both ways.
//
// Thread safety: none; components live on one thread.
#pragma once

#include <string>
#include <vector>

namespace platform {

enum class TOperation { opInsert, opRemove };

class Component {
 public:
  // The owner hears of the new component (opInsert) with its name set. That
  // happens in this constructor, before the derived parts exist: the owner
  // may keep the pointer but cannot ask its kind (a dynamic_cast gives null)
  // or call into it. A component that must act on its owner (take a
  // session's name) does so at the end of its own constructor.
  explicit Component(Component* owner = nullptr, std::string name = {});
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;
  virtual ~Component();

  std::string Name;
  Component* Owner() const { return owner_; }
  // True from the start of the destructor on.
  bool Destroying() const { return destroying_; }
  // The components registered with this one as owner, in order.
  const std::vector<Component*>& Components() const { return components_; }

  // `other` hears Notification(*this, opRemove) when this component goes
  // away, and this one hears of `other`'s removal.
  void FreeNotification(Component& other);
  void RemoveFreeNotification(Component& other);

 protected:
  // Called when a component this one follows is inserted or removed. Must
  // not throw.
  virtual void Notification(Component& /*component*/, TOperation /*operation*/) noexcept {}
  // Marks the component as going away; derived destructors call it first so
  // their own clean-up already sees Destroying().
  void SetDestroying() { destroying_ = true; }

 private:
  Component* owner_;
  std::vector<Component*> components_;
  std::vector<Component*> free_notifies_;
  bool destroying_ = false;
};

}  // namespace platform
