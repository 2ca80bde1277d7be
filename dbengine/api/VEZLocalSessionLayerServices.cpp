#include "dbengine/api/VEZLocalSessionLayerServices.h"

#include <utility>

#include "dbengine/api/VEZLocalBLOBStream.h"
#include "dbengine/api/VEZLocalCursor.h"
#include "dbengine/storage/VEZTableData.h"

namespace vez {

std::unique_ptr<TVEZCursor> TVEZLocalSessionLayerServices::CreateLocalCursor() {
  return std::make_unique<TVEZLocalCursor>();
}

void TVEZLocalSessionLayerServices::OpenLocalCursor(TVEZCursor& cursor, TVEZTableData& table_data) {
  auto& local = dynamic_cast<TVEZLocalCursor&>(cursor);
  table_data.SetIsRepairing(local.IsRepairing);
  local.OpenTable(table_data);
}

std::unique_ptr<TVEZBaseBLOBStream> TVEZLocalSessionLayerServices::CreateLocalBLOBStream(
    std::unique_ptr<TVEZStream> temporary_stream, std::unique_ptr<TVEZStream> underlying_stream,
    TVEZCursor* cursor, TVEZBLOBOpenMode open_mode, std::int32_t field_no) {
  return std::make_unique<TVEZLocalBLOBStream>(
      std::move(temporary_stream), std::move(underlying_stream), cursor, open_mode, field_no);
}

TVEZLocalSessionLayerServices& LocalSessionLayerServices() {
  // Never destroyed: an index build at exit may still reach it.
  static auto* const services = new TVEZLocalSessionLayerServices();
  return *services;
}

void RegisterLocalSessionLayerServices() {
  RegisterSessionLayerServices(&LocalSessionLayerServices());
}

}  // namespace vez
