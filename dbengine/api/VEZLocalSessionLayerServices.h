// The session layer's services to the storage engine (VEZSessionLayerServices.h):
// its local cursor, opened on a table data for an index build, and its local
// BLOB stream. InitializeSessionLayer registers them, so every index built
// over existing rows once the layer is up reads them through the shipped
// cursor.
//
// Thread safety: stateless; the one instance lives as long as the process.
#pragma once

#include <memory>

#include "dbengine/storage/VEZSessionLayerServices.h"

namespace vez {

class TVEZLocalSessionLayerServices : public TVEZSessionLayerServices {
 public:
  // A TVEZLocalCursor.
  std::unique_ptr<TVEZCursor> CreateLocalCursor() override;
  // REQUIRES: cursor came from CreateLocalCursor. Copies its IsRepairing into
  // the table data, then TVEZLocalCursor::OpenTable.
  void OpenLocalCursor(TVEZCursor& cursor, TVEZTableData& table_data) override;
  // A TVEZLocalBLOBStream.
  std::unique_ptr<TVEZBaseBLOBStream> CreateLocalBLOBStream(
      std::unique_ptr<TVEZStream> temporary_stream, std::unique_ptr<TVEZStream> underlying_stream,
      TVEZCursor* cursor, TVEZBLOBOpenMode open_mode, std::int32_t field_no) override;
};

// The process's instance, never destroyed (the storage engine may call it
// late at exit).
TVEZLocalSessionLayerServices& LocalSessionLayerServices();

// Registers LocalSessionLayerServices() with the storage engine.
void RegisterLocalSessionLayerServices();

}  // namespace vez
