// The engines' side of the process-wide database list: the memory and the
// temporary engines hand it their one database each. The list calls this at
// its first use, so it needs to name neither engine.
#include "dbengine/storage/VEZDatabaseDataList.h"
#include "dbengine/storage/VEZMemoryTableData.h"
#include "dbengine/storage/VEZTemporaryTableData.h"

namespace vez {

void ListProcessDatabases(TVEZDatabaseDataList& list) {
  list.Add(&MemoryDatabaseData());
  list.Add(&TemporaryDatabaseData());
}

}  // namespace vez
