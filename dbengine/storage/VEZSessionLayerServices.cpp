#include "dbengine/storage/VEZSessionLayerServices.h"

#include <atomic>

namespace vez {

namespace {
std::atomic<TVEZSessionLayerServices*> g_session_layer_services{nullptr};
}  // namespace

void RegisterSessionLayerServices(TVEZSessionLayerServices* services) {
  g_session_layer_services.store(services, std::memory_order_release);
}

TVEZSessionLayerServices* SessionLayerServices() {
  return g_session_layer_services.load(std::memory_order_acquire);
}

}  // namespace vez
