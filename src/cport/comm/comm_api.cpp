#include "cport/comm/comm_api.h"

#include <atomic>

namespace cport::comm {
namespace {
std::atomic<CommApi*> gOverride{nullptr};
}  // namespace

CommApi& Api() {
  CommApi* api = gOverride.load(std::memory_order_acquire);
  return api != nullptr ? *api : PlatformApi();
}

ScopedApi::ScopedApi(CommApi& api)
    : previous_(gOverride.exchange(&api, std::memory_order_acq_rel)) {}

ScopedApi::~ScopedApi() {
  gOverride.store(previous_, std::memory_order_release);
}

}  // namespace cport::comm
