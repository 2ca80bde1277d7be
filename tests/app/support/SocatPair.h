// Test and benchmark helpers for meter links on real pseudo-terminals.
//
// SocatPair starts `socat pty,raw,echo=0,link=<meter> pty,raw,echo=0,link=<feed>`
// and waits for both links: a link opens <meter> as its serial port, the test
// writes the meter's bytes to <feed>. The destructor ends that socat process
// (by its id) and waits for it. Open the link before writing: bytes written
// earlier can linger in a reused pty.
//
// FreshRunDirs gives each test a new directory with its own RVX_DOCUMENTS and
// XDG_RUNTIME_DIR, restores the previous values and removes the directory
// afterwards.
//
// Errors: a failure to start socat or to make the directories throws
// std::runtime_error with the reason.
//
// Thread safety: one thread; environment changes affect the whole process.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace rvx::test {

class SocatPair {
 public:
  SocatPair(std::string meter, std::string feed);
  ~SocatPair();
  SocatPair(const SocatPair&) = delete;
  SocatPair& operator=(const SocatPair&) = delete;

  const std::string& Meter() const { return meter_; }
  const std::string& Feed() const { return feed_; }
  // Writes every byte to the feed side (opened on first use, kept open).
  void Write(std::string_view bytes);
  // Ends socat now (the ptys go away); the destructor then has nothing to do.
  void Stop();

 private:
  std::string meter_;
  std::string feed_;
  pid_t pid_ = -1;
  int feed_fd_ = -1;
};

class FreshRunDirs {
 public:
  FreshRunDirs();
  ~FreshRunDirs();
  FreshRunDirs(const FreshRunDirs&) = delete;
  FreshRunDirs& operator=(const FreshRunDirs&) = delete;

  // The directory; meters and feeds go in it.
  const std::string& Path() const { return path_; }
  std::string File(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
  std::optional<std::string> old_documents_;
  std::optional<std::string> old_runtime_;
};

// Sets (value) or unsets (nullopt) an environment variable for the life of
// the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace rvx::test
