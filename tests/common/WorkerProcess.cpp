#include "tests/common/WorkerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vez::test {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("worker: " + what);
}

// Moves fd above the standard descriptors (a test run without standard input
// may get 0 from pipe2), keeping close-on-exec.
int AboveStandard(int fd) {
  if (fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  close(fd);
  if (moved < 0) Fail(std::string("fcntl: ") + std::strerror(saved));
  return moved;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

}  // namespace

WorkerProcess::WorkerProcess(const std::string& program, const std::vector<std::string>& args,
                             int timeout_ms)
    : timeout_ms_(timeout_ms) {
  // A worker that died must show as a failed write, not end the test run.
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) Fail(std::string("pipe2: ") + std::strerror(errno));
  if (pipe2(out, O_CLOEXEC) != 0) {
    const int saved = errno;
    close(in[0]);
    close(in[1]);
    Fail(std::string("pipe2: ") + std::strerror(saved));
  }
  for (int* fd : {&in[0], &in[1], &out[0], &out[1]})
    *fd = AboveStandard(*fd);

  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argv_text)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    Fail("posix_spawn " + program + ": " + std::strerror(rc));
  }
  pid_ = pid;
  to_child_ = in[1];
  from_child_ = out[0];
}

WorkerProcess::~WorkerProcess() {
  if (pid_ > 0 && to_child_ >= 0) {
    const char bye[] = "exit\n";
    [[maybe_unused]] const ssize_t n = write(to_child_, bye, sizeof bye - 1);
  }
  CloseFd(to_child_);
  if (pid_ > 0) Reap(5000);
  CloseFd(from_child_);
}

int WorkerProcess::Reap(int wait_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (pid_ > 0) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) {
      const int result = r == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      pid_ = -1;
      return result;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      // Only the worker this object started.
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return -1;
}

int WorkerProcess::Exit() {
  if (pid_ <= 0) return -1;
  if (to_child_ >= 0) {
    const char bye[] = "exit\n";
    [[maybe_unused]] const ssize_t n = write(to_child_, bye, sizeof bye - 1);
  }
  CloseFd(to_child_);
  return Reap(timeout_ms_);
}

void WorkerProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  Reap(5000);
  CloseFd(to_child_);
}

void WorkerProcess::Send(const std::string& line) {
  if (to_child_ < 0) Fail("not running");
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(to_child_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("write '" + line + "': " + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

std::string WorkerProcess::ReadLine() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms_);
  for (;;) {
    const std::size_t eol = buffer_.find('\n');
    if (eol != std::string::npos) {
      std::string line = buffer_.substr(0, eol);
      buffer_.erase(0, eol + 1);
      return line;
    }
    if (from_child_ < 0) Fail("not running");
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) Fail("no answer within " + std::to_string(timeout_ms_) + " ms");
    pollfd p{from_child_, POLLIN, 0};
    const int r = poll(&p, 1, static_cast<int>(left));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) Fail(std::string("poll: ") + std::strerror(errno));
    if (r == 0) continue;
    char chunk[512];
    const ssize_t n = read(from_child_, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("output closed");
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

std::string WorkerProcess::Call(const std::string& line) {
  Send(line);
  return ReadLine();
}

std::string WorkerProcess::Ok(const std::string& line) {
  const std::string answer = Call(line);
  if (answer == "ok") return {};
  if (answer.rfind("ok ", 0) == 0) return answer.substr(3);
  Fail("'" + line + "' answered '" + answer + "'");
}

bool WorkerProcess::Flag(const std::string& line) {
  const std::string value = Ok(line);
  if (value == "1") return true;
  if (value == "0") return false;
  Fail("'" + line + "' answered 'ok " + value + "'");
}

void WorkerProcess::AwaitEvent(const std::string& name) {
  const std::string line = ReadLine();
  if (line != "@" + name) Fail("expected @" + name + ", got '" + line + "'");
}

}  // namespace vez::test
