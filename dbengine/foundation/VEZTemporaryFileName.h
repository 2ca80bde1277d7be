// Names for the engine's temporary files.
//
// Thread safety: safe for concurrent use; each call reserves its own file.
#pragma once

#include <string>

namespace vez {

// A new unique temporary file name in the temporary folder, beginning with
// "VEZ". The file is reserved, not visible: create it with TVEZFileStream
// (mode 0xFF00, temporary), which takes the reserved file.
std::string GetTemporaryFileName();

}  // namespace vez
