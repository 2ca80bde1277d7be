// The repair of a database file rebuilds it table by table into a new file;
// that rebuild is not built yet. Until it is, a repair asked for while
// opening fails with a clear error, which Open reports as a failed
// conversion.
#include "dbengine/api/VEZDatabase.h"
#include "dbengine/foundation/VEZException.h"

namespace vez {

std::string TVEZDatabase::RepairDatabase() {
  throw EVEZException(20410, "Cannot repair database '%s': database repair is not available yet",
                      {FDatabaseFileName});
}

}  // namespace vez
