#include "platform/os/TempFile.h"

#include <stdlib.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "platform/core/Exceptions.h"

namespace platform {

namespace {

struct Reservations {
  std::mutex mutex;
  std::map<std::string, int> descriptors;
};

// Never destroyed: a static object may reserve or claim a temporary file in
// its destructor at exit, after a function-local static made later is gone.
// The process's exit closes the descriptors still reserved.
Reservations& TheReservations() {
  static Reservations* const reservations = new Reservations;
  return *reservations;
}

}  // namespace

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string result = (dir && *dir) ? dir : "/tmp";
  while (result.size() > 1 && result.back() == '/')
    result.pop_back();
  return result;
}

int MakeUnlinkedTempFile(std::string* path) {
  std::string name = TempDirectory() + "/" + kTempFilePrefix + "XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd == -1)
    throw EOSError(errno, "Cannot create a temporary file in '" + TempDirectory() + "'");
  if (unlink(buffer.data()) == -1) {
    const int error = errno;
    close(fd);
    throw EOSError(error, std::string("Cannot unlink temporary file '") + buffer.data() + "'");
  }
  if (path) *path = buffer.data();
  return fd;
}

std::string ReserveTempFile() {
  Reservations& reservations = TheReservations();
  for (;;) {
    std::string name;
    const int fd = MakeUnlinkedTempFile(&name);
    std::lock_guard guard(reservations.mutex);
    // mkstemp may reuse a name that an unclaimed reservation had: draw again.
    if (reservations.descriptors.emplace(name, fd).second) return name;
    close(fd);
  }
}

int ClaimReservedTempFile(const std::string& path) {
  Reservations& reservations = TheReservations();
  std::lock_guard guard(reservations.mutex);
  auto it = reservations.descriptors.find(path);
  if (it == reservations.descriptors.end()) return -1;
  const int fd = it->second;
  reservations.descriptors.erase(it);
  return fd;
}

std::size_t PendingTempReservations() {
  Reservations& reservations = TheReservations();
  std::lock_guard guard(reservations.mutex);
  return reservations.descriptors.size();
}

}  // namespace platform
