// Temporary files of the engine: "VEZ" + six unique characters in the
// temporary folder ($TMPDIR, default /tmp), made by mkstemp and unlinked at
// once, so none is left behind even when the process dies. A name is never
// re-created: a reserved name hands out the very descriptor mkstemp opened.
// These are the POSIX building blocks of FileSystem (File.h); engine code goes
// through FileSystem.
//
// Thread safety: all functions may be called from any thread.
#pragma once

#include <string>

namespace platform {

inline constexpr const char* kTempFilePrefix = "VEZ";

// $TMPDIR when set and not empty, else "/tmp"; without a trailing '/'.
std::string TempDirectory();

// Makes a new temporary file, unlinks it and returns its descriptor (read and
// write, close-on-exec); its former name goes to *path when given. Raises
// EOSError.
int MakeUnlinkedTempFile(std::string* path);

// MakeUnlinkedTempFile, keeping the descriptor in a process-wide table under
// the returned name until claimed.
std::string ReserveTempFile();

// The descriptor reserved under path, now owned by the caller; -1 when path
// holds no reservation.
int ClaimReservedTempFile(const std::string& path);

// Number of reservations not claimed yet.
std::size_t PendingTempReservations();

}  // namespace platform
