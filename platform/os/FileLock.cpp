#include "platform/os/FileLock.h"

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <string>

#include "platform/core/Exceptions.h"

namespace platform {

namespace {

struct HeldRange {
  std::int64_t count;
  std::uint64_t owner;
};

// Locked ranges of each file in this process; ranges never overlap.
using RangeMap = std::map<std::int64_t, HeldRange>;

struct Registry {
  std::mutex mutex;
  std::map<FileIdentity, RangeMap> files;
};

// Never destroyed: files held by static objects close in their destructors at
// exit, after any function-local static made later would be gone.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

void CheckRange(std::int64_t offset, std::int64_t count, const char* what) {
  if (offset < 0 || count < 1 || count > kShareLockOffset - offset)
    throw EOSError(EINVAL, std::string(what) + " of " + std::to_string(count) + " bytes at " +
                               std::to_string(offset));
}

bool Overlaps(const RangeMap& ranges, std::int64_t offset, std::int64_t count) {
  auto it = ranges.lower_bound(offset);
  if (it != ranges.end() && it->first - offset < count) return true;
  if (it != ranges.begin()) {
    --it;
    if (offset - it->first < it->second.count) return true;
  }
  return false;
}

struct flock MakeLock(short type, std::int64_t offset, std::int64_t count) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = count;
  fl.l_pid = 0;  // required by OFD locks
  return fl;
}

int Fcntl(int fd, int cmd, struct flock* fl) {
  int r;
  do {
    r = fcntl(fd, cmd, fl);
  } while (r == -1 && errno == EINTR);
  return r;
}

short WriteType(const LockHandle& handle) {
  return handle.writable ? F_WRLCK : F_RDLCK;
}

}  // namespace

std::uint64_t NewLockOwner() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1);
}

bool LockFileRange(const LockHandle& handle, std::int64_t offset, std::int64_t count) {
  CheckRange(offset, count, "lock");
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  RangeMap& ranges = registry.files[handle.id];
  if (Overlaps(ranges, offset, count)) return false;
  struct flock fl = MakeLock(WriteType(handle), offset, count);
  if (Fcntl(handle.fd, F_OFD_SETLK, &fl) == -1) {
    const int error = errno;
    if (ranges.empty()) registry.files.erase(handle.id);
    if (error == EAGAIN || error == EACCES) return false;
    throw EOSError(error,
                   "lock of " + std::to_string(count) + " bytes at " + std::to_string(offset));
  }
  ranges.emplace(offset, HeldRange{count, handle.owner});
  return true;
}

bool UnlockFileRange(const LockHandle& handle, std::int64_t offset, std::int64_t count) {
  if (offset < 0 || count < 1) return false;
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  auto file = registry.files.find(handle.id);
  if (file == registry.files.end()) return false;
  auto it = file->second.find(offset);
  if (it == file->second.end() || it->second.count != count || it->second.owner != handle.owner)
    return false;
  struct flock fl = MakeLock(F_UNLCK, offset, count);
  if (Fcntl(handle.fd, F_OFD_SETLK, &fl) == -1)
    throw EOSError(errno,
                   "unlock of " + std::to_string(count) + " bytes at " + std::to_string(offset));
  file->second.erase(it);
  if (file->second.empty()) registry.files.erase(file);
  return true;
}

bool IsFileRangeLocked(const LockHandle& handle, std::int64_t offset, std::int64_t count) {
  CheckRange(offset, count, "lock probe");
  Registry& registry = TheRegistry();
  {
    std::lock_guard guard(registry.mutex);
    auto file = registry.files.find(handle.id);
    if (file != registry.files.end() && Overlaps(file->second, offset, count)) return true;
  }
  // Asking for a write lock reports every lock of another description.
  struct flock fl = MakeLock(F_WRLCK, offset, count);
  if (Fcntl(handle.fd, F_OFD_GETLK, &fl) == -1)
    throw EOSError(
        errno, "lock probe of " + std::to_string(count) + " bytes at " + std::to_string(offset));
  return fl.l_type != F_UNLCK;
}

void ForgetFileLocks(const LockHandle& handle) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.mutex);
  auto file = registry.files.find(handle.id);
  if (file == registry.files.end()) return;
  for (auto it = file->second.begin(); it != file->second.end();) {
    if (it->second.owner == handle.owner)
      it = file->second.erase(it);
    else
      ++it;
  }
  if (file->second.empty()) registry.files.erase(file);
}

bool AcquireShareLock(const LockHandle& handle, bool exclusive) {
  struct flock fl = MakeLock(exclusive ? F_WRLCK : F_RDLCK, kShareLockOffset, 1);
  if (Fcntl(handle.fd, F_OFD_SETLK, &fl) == -1) {
    const int error = errno;
    if (error == EAGAIN || error == EACCES) return false;
    throw EOSError(error, "share lock");
  }
  return true;
}

}  // namespace platform
