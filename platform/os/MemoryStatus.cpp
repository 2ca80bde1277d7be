#include "platform/os/MemoryStatus.h"

#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace platform {

std::uint64_t FreePhysicalMemory() {
  // MemAvailable counts reclaimable page cache, which is what "available
  // physical memory" means to a program sizing its caches.
  if (std::FILE* f = std::fopen("/proc/meminfo", "re")) {
    char line[256];
    unsigned long long kib = 0;
    bool found = false;
    while (std::fgets(line, sizeof line, f)) {
      if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
        found = true;
        break;
      }
    }
    std::fclose(f);
    if (found) return static_cast<std::uint64_t>(kib) * 1024u;
  }
  struct sysinfo info {};
  if (sysinfo(&info) == 0)
    return static_cast<std::uint64_t>(info.freeram) * static_cast<std::uint64_t>(info.mem_unit);
  return 0;
}

}  // namespace platform
