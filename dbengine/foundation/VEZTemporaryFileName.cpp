#include "dbengine/foundation/VEZTemporaryFileName.h"

#include "platform/os/File.h"

namespace vez {

std::string GetTemporaryFileName() {
  return platform::DefaultFileSystem().ReserveTempFileName();
}

}  // namespace vez
