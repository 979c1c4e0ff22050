// The minimal component base the socket layer relies on: an owner that frees what it owns,
// a component-state set (designing, destroying) and removal notifications.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dovrik {

class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject() = default;
};

enum TComponentStateFlag : std::uint8_t { csDesigning = 1, csDestroying = 2 };
enum TOperation { opInsert, opRemove };

// A component with an owner must live on the heap: the owner deletes it in its own destructor,
// after setting its destroying flag. A component deleted earlier leaves its owner's list.
// Components are single-threaded: create, use and destroy each one on one thread.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(const std::string& name) { FName = name; }
  std::uint8_t ComponentState() const { return FComponentState; }
  bool Designing() const { return (FComponentState & csDesigning) != 0; }
  bool Destroying() const { return (FComponentState & csDestroying) != 0; }
  // Marks the component (and its owned components) as sitting in a designer.
  void SetDesigning(bool on);
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Component(int index) const { return FComponents.at(static_cast<std::size_t>(index)); }

  // Asks to be told (through Notification with opRemove) when AComponent goes away, and tells
  // AComponent the same about this one.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

 protected:
  // Called when AComponent is inserted into or removed from the owner's list, or is destroyed
  // while it is linked through FreeNotification.
  virtual void Notification(TComponent* AComponent, TOperation operation);
  void SetDestroying() { FComponentState |= csDestroying; }

 private:
  void Insert(TComponent* c);
  void Remove(TComponent* c);

  TComponent* FOwner = nullptr;
  std::string FName;
  std::uint8_t FComponentState = 0;
  std::vector<TComponent*> FComponents;    // owned: deleted by ~TComponent
  std::vector<TComponent*> FFreeNotifies;  // not owned
};

}  // namespace dovrik
