// The component base: an owner that destroys what it owns, a name, and the
// states csLoading (stored settings being read) and csDesigning.
#pragma once

#include <string>
#include <vector>

#include "cport/fw/persistent.h"
#include "cport/fw/set.h"

namespace cport::fw {

enum class TComponentStateItem : unsigned { csLoading, csDesigning };
inline constexpr TComponentStateItem csLoading = TComponentStateItem::csLoading;
inline constexpr TComponentStateItem csDesigning =
    TComponentStateItem::csDesigning;
using TComponentState = TSet<TComponentStateItem, std::uint8_t>;

/// Base of components: an owner that destroys what it owns, a name, and the
/// loading and designing states.
class TComponent : public TPersistent {
 public:
  /// The owner, when given, destroys this component in its own destructor.
  explicit TComponent(TComponent* owner);
  /// Destroys the owned components (last inserted first) and leaves the owner.
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  std::u16string ClassName() const override { return u"TComponent"; }

  /// The owner given at construction, or null.
  TComponent* Owner() const { return owner_; }
  /// The components this one owns, in the order they were made.
  const std::vector<TComponent*>& Components() const { return components_; }
  /// The component's name (empty by default).
  ///@{
  const std::u16string& Name() const { return name_; }
  void SetName(std::u16string name) { name_ = std::move(name); }
  ///@}

  /// Whether it is loading stored settings or in design mode.
  TComponentState ComponentState() const { return state_; }
  /// Reading stored settings: sets csLoading here and on the owned
  /// components. EndLoading clears it and calls Loaded, here first and then on
  /// each owned component that is still loading, as a form does after reading
  /// its description.
  ///@{
  void BeginLoading();
  void EndLoading();
  ///@}
  /// Design mode, for programs that edit components rather than run them;
  /// applies to the owned components too.
  void SetDesigning(bool designing);

 protected:
  /// Called once the stored settings have been read.
  virtual void Loaded();

 private:
  TComponent* owner_;
  std::vector<TComponent*> components_;
  std::u16string name_;
  TComponentState state_;
};

}  // namespace cport::fw
