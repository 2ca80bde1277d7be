#include "platform/os/FileQueries.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/core/Exceptions.h"

namespace platform {

FileWritability QueryFileWritability(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == -1) {
    if (errno == ENOENT || errno == ENOTDIR) return FileWritability::kMissing;
    throw EOSError(errno, "Cannot examine '" + path + "'");
  }
  if (S_ISDIR(st.st_mode)) throw EOSError(EISDIR, "Cannot use '" + path + "' as a file");
  // No write bit for anyone is the attribute, even for a process that could
  // write anyway (root).
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FileWritability::kReadOnlyAttribute;
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0) return FileWritability::kWritable;
  switch (errno) {
    case EPERM:  // immutable
      return FileWritability::kReadOnlyAttribute;
    case EACCES:
    case EROFS:
    case ETXTBSY:
      return FileWritability::kNotWritable;
    case ENOENT:
      return FileWritability::kMissing;
    default:
      throw EOSError(errno, "Cannot examine '" + path + "'");
  }
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string CanonicalPath(const std::string& path) {
  if (path.empty()) throw EOSError(ENOENT, "Cannot resolve an empty path");
  std::unique_ptr<char, decltype(&free)> full(realpath(path.c_str(), nullptr), &free);
  if (full) return full.get();
  if (errno != ENOENT) throw EOSError(errno, "Cannot resolve '" + path + "'");
  const std::size_t slash = path.find_last_of('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == "..")
    throw EOSError(ENOENT, "Cannot resolve '" + path + "'");
  const std::string folder = DirectoryOf(path);
  std::unique_ptr<char, decltype(&free)> dir(realpath(folder.c_str(), nullptr), &free);
  if (!dir) throw EOSError(errno, "Cannot resolve '" + folder + "'");
  const std::string d = dir.get();
  return d == "/" ? d + name : d + "/" + name;
}

void ClearReadOnlyAttribute(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) == -1) throw EOSError(errno, "Cannot examine '" + path + "'");
  if (chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == -1)
    throw EOSError(errno, "Cannot make '" + path + "' writable");
}

void SyncDirectory(const std::string& folder) {
  int fd;
  do {
    fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd == -1 && errno == EINTR);
  if (fd == -1) throw EOSError(errno, "Cannot open folder '" + folder + "'");
  int r;
  do {
    r = fsync(fd);
  } while (r == -1 && errno == EINTR);
  const int error = errno;
  close(fd);
  // Some file systems cannot sync a folder; their entries are as durable as
  // they get.
  if (r == -1 && error != EINVAL && error != ENOTSUP)
    throw EOSError(error, "Cannot flush folder '" + folder + "'");
}

}  // namespace platform
