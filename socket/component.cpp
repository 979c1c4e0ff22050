#include "socket/component.h"

#include <algorithm>

namespace dovrik {

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->Insert(this);
}

TComponent::~TComponent() {
  // Tell everyone linked to us, then unlink (a notified component may unlink itself).
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    auto& theirs = other->FFreeNotifies;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    other->Notification(this, opRemove);
  }
  // Free what we own, newest first, each knowing its owner is destroying it.
  FComponentState |= csDestroying;
  for (TComponent* c : FComponents) c->SetDestroying();
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    FComponents.pop_back();
    c->FOwner = nullptr;
    delete c;
  }
  if (FOwner != nullptr) FOwner->Remove(this);
}

void TComponent::SetDesigning(bool on) {
  if (on)
    FComponentState |= csDesigning;
  else
    FComponentState &= static_cast<std::uint8_t>(~csDesigning);
  for (TComponent* c : FComponents) c->SetDesigning(on);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  auto& theirs = AComponent->FFreeNotifies;
  if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  FFreeNotifies.erase(std::remove(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent),
                      FFreeNotifies.end());
  auto& theirs = AComponent->FFreeNotifies;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::Notification(TComponent* AComponent, TOperation operation) {
  // A removal that concerns our owner's family is passed on to what we own.
  if (operation == opRemove && AComponent != nullptr) {
    for (TComponent* c : FComponents)
      if (c != AComponent) c->Notification(AComponent, operation);
  }
}

void TComponent::Insert(TComponent* c) {
  FComponents.push_back(c);
  c->FOwner = this;
  if (Designing()) c->FComponentState |= csDesigning;
  for (TComponent* sibling : FComponents)
    if (sibling != c) sibling->Notification(c, opInsert);
}

void TComponent::Remove(TComponent* c) {
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), c), FComponents.end());
  c->FOwner = nullptr;
  if (!Destroying()) Notification(c, opRemove);
}

}  // namespace dovrik
