// Notifications are method pointers: an object and one of its functions,
// possibly unassigned. A std::function holds both; call it only when it is
// assigned (Fire does that).
#pragma once

#include <functional>
#include <utility>

#include "cport/fw/object.h"

namespace cport::fw {

template <class... Args>
using TMethod = std::function<void(TObject* Sender, Args...)>;

using TNotifyEvent = TMethod<>;

/// Calls `handler` when it is assigned. A copy runs: the handler may assign
/// another one in its place, or destroy the object that holds it.
template <class Handler, class... Args>
void Fire(const Handler& handler, Args&&... args) {
  if (!handler) return;
  const Handler call = handler;
  call(std::forward<Args>(args)...);
}

}  // namespace cport::fw
