#include "cport/fw/component.h"

#include <algorithm>

namespace cport::fw {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
  // Each owned component removes itself from components_ as it goes.
  while (!components_.empty()) delete components_.back();
  if (owner_ != nullptr) {
    auto& siblings = owner_->components_;
    siblings.erase(std::find(siblings.begin(), siblings.end(), this));
  }
}

void TComponent::BeginLoading() {
  state_.Include(csLoading);
  for (TComponent* owned : components_) owned->BeginLoading();
}

void TComponent::EndLoading() {
  // The owner's Loaded runs before its components', each after its own
  // csLoading has been cleared; a component that was not loading is left
  // alone.
  if (!state_.Contains(csLoading)) return;
  state_.Exclude(csLoading);
  Loaded();
  for (TComponent* owned : components_) owned->EndLoading();
}

void TComponent::SetDesigning(bool designing) {
  if (designing) {
    state_.Include(csDesigning);
  } else {
    state_.Exclude(csDesigning);
  }
  for (TComponent* owned : components_) owned->SetDesigning(designing);
}

void TComponent::Loaded() {}

}  // namespace cport::fw
