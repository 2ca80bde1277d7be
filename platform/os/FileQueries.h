// Questions about files and folders that change nothing: whether a file may be
// written (asked of the file system, never by writing a byte back), the
// canonical path that identifies a file whatever name it was reached by, and
// the folder sync that makes a create or rename durable, and the one change
// a replaced file needs: dropping its read-only attribute.
//
// Errors: raise EOSError with the system's errno where a contract says so.
//
// Thread safety: all functions may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class FileWritability : std::uint8_t {
  kWritable,
  // The file itself refuses writes to everyone: no write permission bit at
  // all, or the immutable attribute (the platform's read-only attribute).
  kReadOnlyAttribute,
  // This process may not write it (permissions, a read-only mount).
  kNotWritable,
  kMissing,
};

// Asks the file system whether the calling process could open path for
// writing. Opens nothing and writes nothing. Raises EOSError for failures
// other than those the answer names (a path that is a folder: EISDIR).
FileWritability QueryFileWritability(const std::string& path);

// The folder part of path ("." when it has none; "/" for a file in the root).
std::string DirectoryOf(const std::string& path);

// An absolute path without symbolic links, "." or ".." parts (realpath). The
// last part need not exist yet: then its folder is resolved and the name
// appended. Raises EOSError when the folder cannot be resolved.
std::string CanonicalPath(const std::string& path);

// Gives the owner write permission on a file that has none (the platform's
// "drop the read-only attribute" before replacing a file). Raises EOSError
// (EPERM for an immutable file).
void ClearReadOnlyAttribute(const std::string& path);

// Makes the entries of folder durable (a create, rename or unlink in it):
// fsync on the folder. Raises EOSError.
void SyncDirectory(const std::string& folder);

}  // namespace platform
