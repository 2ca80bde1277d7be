#include "dbengine/storage/VEZSessionLayerServices.h"

#include <atomic>

#include "dbengine/foundation/VEZCompressedBLOBStream.h"
#include "dbengine/foundation/VEZException.h"

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

TVEZCompressedBLOBStream& CompressedStreamOf(TVEZStream& blob_stream, std::int32_t native_error) {
  auto* local = dynamic_cast<TVEZBaseBLOBStream*>(&blob_stream);
  auto* compressed = local != nullptr
                         ? dynamic_cast<TVEZCompressedBLOBStream*>(local->TemporaryStream())
                         : nullptr;
  if (compressed == nullptr) throw EVEZException(native_error, "Nil pointer occured");
  return *compressed;
}

}  // namespace vez
