// What the storage engine needs of the session and dataset layer beyond the
// abstract cursor and session: a new local cursor opened on a table data (an
// index build reads the table through one), and the BLOB stream a cursor gets
// for one BLOB field. The session layer registers its implementation at
// start-up; the storage engine never includes that layer.
//
// Thread safety: registration is meant for start-up; SessionLayerServices
// may be called from any thread. The objects made belong to the caller.
#pragma once

#include <cstdint>
#include <memory>

#include "dbengine/foundation/VEZStream.h"
#include "dbengine/foundation/VEZTypes.h"

namespace vez {

class TVEZCompressedBLOBStream;
class TVEZCursor;
class TVEZTableData;

// The stream a cursor gets for one BLOB field: it owns the table data's
// compressed stream (TemporaryStream) and that stream's underlying stream,
// and passes reads, writes, seeks and size changes to TemporaryStream; on a
// stream opened bomRead, writes raise 10115 and size changes 10116. Modified
// (TVEZStream) is set once something was written through it. When the cursor
// closes it, the table data reads Modified, the size and TemporaryStream.
class TVEZBaseBLOBStream : public TVEZStream {
 public:
  virtual TVEZStream* TemporaryStream() = 0;
  virtual TVEZCursor* Cursor() const = 0;
  virtual TVEZBLOBOpenMode OpenMode() const = 0;
  // Physical field number.
  virtual std::int32_t FieldNo() const = 0;
};

// The table data's compressed stream inside a BLOB stream the session layer
// made over it (CreateLocalBLOBStream). Raises native_error when blob_stream
// is no such stream, or holds no compressed stream.
TVEZCompressedBLOBStream& CompressedStreamOf(TVEZStream& blob_stream, std::int32_t native_error);

class TVEZSessionLayerServices {
 public:
  virtual ~TVEZSessionLayerServices() = default;

  // A local cursor that is not open: no table data, no record buffer,
  // IndexID -1, no filters, DistinctFieldCount 0, no record bitmap, its own
  // index position cache. The caller sets Session and TableName, then opens
  // it with OpenLocalCursor.
  virtual std::unique_ptr<TVEZCursor> CreateLocalCursor() = 0;

  // Opens cursor (made by CreateLocalCursor) on table_data: copies the
  // cursor's IsRepairing into the table data, opens the table for the cursor
  // under the database data's lock, then stands before the first record
  // (FirstPosition true), copies the index defs and field layout, makes a
  // record bitmap and sets IsOpen. Raises what the table data's open raises.
  virtual void OpenLocalCursor(TVEZCursor& cursor, TVEZTableData& table_data) = 0;

  // The BLOB stream for field_no of cursor's current record, at position 0,
  // owning temporary_stream (the compressed stream) and underlying_stream.
  virtual std::unique_ptr<TVEZBaseBLOBStream> CreateLocalBLOBStream(
      std::unique_ptr<TVEZStream> temporary_stream, std::unique_ptr<TVEZStream> underlying_stream,
      TVEZCursor* cursor, TVEZBLOBOpenMode open_mode, std::int32_t field_no) = 0;
};

// Registers the session layer's services (nullptr unregisters). They must
// outlive every later call of SessionLayerServices.
void RegisterSessionLayerServices(TVEZSessionLayerServices* services);
// The registered services, or null when no session layer is linked in.
TVEZSessionLayerServices* SessionLayerServices();

}  // namespace vez
