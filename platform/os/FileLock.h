// Byte-range locks with the semantics the engine's multi-process protocol was
// built on: locks belong to a file handle and are exclusive; a second lock on a
// held byte fails even through the same handle or another handle of the same
// process; unlocking a range that is not held (exactly as locked) fails; a lock
// may lie beyond the end of the file; a handle's locks go when it is closed or
// its process dies.
//
// Built from open-file-description locks (F_OFD_SETLK / F_OFD_GETLK), which
// other processes see, plus an in-process registry keyed by (device, inode,
// offset) that is consulted first, since OFD locks let one description lock a
// byte twice and unlock what it never locked. A probe uses F_OFD_GETLK and the
// registry only: it never takes and drops a lock, and never reports a range as
// locked when it is not.
//
// Share modes have no POSIX meaning; exclusive opening is emulated with an OFD
// lock on one byte far past any data (kShareLockOffset): every opener holds it
// shared, an exclusive opener holds it exclusively.
//
// Handles that may only read: POSIX grants no exclusive (write) lock on a
// descriptor without write access, so such a handle takes shared (read) byte
// locks. Within this process the registry still refuses a second lock of a
// held byte, but two processes that both open the file read-only can each hold
// the same byte. The engine relies on no more than that: it opens a file it
// may not write single-user and never writes through such a handle.
//
// Handles that may only write (the file's permissions allow writing but not
// reading) can take no shared lock, so they cannot hold the share byte as
// every shared opener must: such an open is refused unless it is exclusive
// (see File.h); an exclusive one holds the share byte exclusively.
//
// The registry lives until the process ends, after every static object: a
// file held by a static object may still be closed by its destructor at exit.
//
// A process forked while a handle is open shares that handle's description,
// and with it the handle's locks, until it closes its copy (exec closes it).
//
// Thread safety: all functions may be called from any thread; the registry is
// guarded by one process-wide mutex.
#pragma once

#include <compare>
#include <cstdint>
#include <limits>

namespace platform {

// Identity of a file on the machine: what every handle to it shares.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// The byte that carries the share-mode emulation. Byte ranges locked through
// LockFileRange must end at or before it.
inline constexpr std::int64_t kShareLockOffset = std::numeric_limits<std::int64_t>::max() - 1;

// Describes one handle to the lock functions. owner is unique per handle for
// the life of the process; writable says whether fd may take write locks (a
// handle on a file it may only read takes read locks, which other processes'
// read locks do not exclude).
struct LockHandle {
  int fd = -1;
  FileIdentity id;
  std::uint64_t owner = 0;
  bool writable = true;
};

// A fresh owner number for a new handle.
std::uint64_t NewLockOwner();

// Locks [offset, offset + count). True when granted; false when any byte of
// the range is held through any handle (this one included) or by another
// process. Raises EOSError(EINVAL) for offset < 0, count < 1 or a range past
// kShareLockOffset, and EOSError for any other failure of the system call.
bool LockFileRange(const LockHandle& handle, std::int64_t offset, std::int64_t count);

// Unlocks a range this handle locked with exactly this offset and count. False
// when it holds no such lock (nothing changes). Raises EOSError on a failed
// system call.
bool UnlockFileRange(const LockHandle& handle, std::int64_t offset, std::int64_t count);

// True when any byte of the range is locked through any handle of this process
// (this one included) or by another process. Takes no lock. Raises EOSError
// when the state cannot be learnt.
bool IsFileRangeLocked(const LockHandle& handle, std::int64_t offset, std::int64_t count);

// Forgets the registry entries of a handle that is being closed (its OFD locks
// go with its descriptor).
void ForgetFileLocks(const LockHandle& handle);

// Takes the share byte: exclusively when exclusive, else shared. False when
// another handle holds it in a conflicting way. Raises EOSError on any other
// failure (an exclusive lock needs a writable descriptor).
bool AcquireShareLock(const LockHandle& handle, bool exclusive);

}  // namespace platform
