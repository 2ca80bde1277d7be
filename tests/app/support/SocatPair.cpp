#include "tests/app/support/SocatPair.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace rvx::test {

namespace {

std::optional<std::string> GetEnv(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value)
    setenv(name.c_str(), value->c_str(), 1);
  else
    unsetenv(name.c_str());
}

// Both ends of the link exist: the symlink and the pty it names.
bool LinkReady(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

SocatPair::SocatPair(std::string meter, std::string feed)
    : meter_(std::move(meter)), feed_(std::move(feed)) {
  const std::string a = "pty,raw,echo=0,link=" + meter_;
  const std::string b = "pty,raw,echo=0,link=" + feed_;
  std::vector<char*> argv{const_cast<char*>("socat"), const_cast<char*>(a.c_str()),
                          const_cast<char*>(b.c_str()), nullptr};
  const int rc = posix_spawnp(&pid_, "socat", nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error(std::string("cannot start socat: ") + std::strerror(rc));
  }
  // socat makes the ptys and their links at once; ten seconds is far more
  // than a loaded machine needs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!(LinkReady(meter_) && LinkReady(feed_))) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("socat ended before its ptys were ready");
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      throw std::runtime_error("socat made no ptys within 10 s");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

SocatPair::~SocatPair() {
  Stop();
}

void SocatPair::Stop() {
  if (feed_fd_ >= 0) close(feed_fd_);
  feed_fd_ = -1;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
}

void SocatPair::Write(std::string_view bytes) {
  if (feed_fd_ < 0) {
    feed_fd_ = open(feed_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (feed_fd_ < 0)
      throw std::runtime_error("cannot open " + feed_ + ": " + std::strerror(errno));
    // socat makes the link before it sets the pty raw; a write in between
    // would go through the line discipline (LF sent as CR LF). The pty has
    // one set of modes, so setting them raw here closes that window.
    termios tio{};
    if (tcgetattr(feed_fd_, &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(feed_fd_, TCSANOW, &tio);
    }
  }
  while (!bytes.empty()) {
    const ssize_t n = write(feed_fd_, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("cannot write to " + feed_ + ": " + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

FreshRunDirs::FreshRunDirs()
    : old_documents_(GetEnv("RVX_DOCUMENTS")), old_runtime_(GetEnv("XDG_RUNTIME_DIR")) {
  const std::optional<std::string> tmp = GetEnv("TMPDIR");
  std::string pattern = (tmp && !tmp->empty() ? *tmp : std::string("/tmp")) + "/rvx-test-XXXXXX";
  if (!mkdtemp(pattern.data()))
    throw std::runtime_error(std::string("cannot make a test directory: ") + std::strerror(errno));
  path_ = pattern;
  const std::string documents = path_ + "/documents";
  const std::string runtime = path_ + "/runtime";
  if (mkdir(documents.c_str(), 0700) != 0 || mkdir(runtime.c_str(), 0700) != 0)
    throw std::runtime_error(std::string("cannot make test directories: ") + std::strerror(errno));
  SetEnv("RVX_DOCUMENTS", documents);
  SetEnv("XDG_RUNTIME_DIR", runtime);
}

FreshRunDirs::~FreshRunDirs() {
  SetEnv("RVX_DOCUMENTS", old_documents_);
  SetEnv("XDG_RUNTIME_DIR", old_runtime_);
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)), old_(GetEnv(name_.c_str())) {
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() {
  SetEnv(name_, old_);
}

}  // namespace rvx::test
