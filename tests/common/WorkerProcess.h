// Test helper: a worker process driven through line commands, for tests of
// what two processes see of each other's locks.
//
// The worker is started with posix_spawn (a forked child would share this
// process's open file descriptions, and so their locks). Its standard input
// and output are two pipes: one command line in, one answer line out ("ok
// ..." or "err NATIVE text"); lines starting with "@" are events, such as a
// barrier reached. Every read waits at most the time-out and then raises, so
// a stuck worker fails the test instead of hanging it. The destructor ends
// only the worker it started: "exit", then SIGKILL to its own pid when it
// does not go in time.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace vez::test {

class WorkerProcess {
 public:
  // Starts program with args (argv[0] is program). Raises std::runtime_error
  // when it cannot be started.
  explicit WorkerProcess(const std::string& program, const std::vector<std::string>& args = {},
                         int timeout_ms = 20000);
  ~WorkerProcess();
  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // Later reads give up after timeout_ms; a test shortens it only around a
  // read it expects to time out, since a sanitizer build starts slowly.
  void SetTimeout(int timeout_ms) { timeout_ms_ = timeout_ms; }
  bool Running() const { return pid_ > 0; }

  // Writes one command line; answers are read separately (ReadLine), so a
  // command that blocks in the worker can be followed by others elsewhere.
  void Send(const std::string& line);
  // The next line the worker writes. Raises std::runtime_error after the
  // time-out or when the worker closed its output.
  std::string ReadLine();
  // Send, then the answer line.
  std::string Call(const std::string& line);
  // Call, and the text after "ok" (empty when none); raises
  // std::runtime_error with the answer when it is not "ok".
  std::string Ok(const std::string& line);
  // Call, and whether the answer is "ok 1" (true) or "ok 0" (false); raises
  // for anything else.
  bool Flag(const std::string& line);
  // Reads the next line and raises unless it is "@" + name.
  void AwaitEvent(const std::string& name);

  // SIGKILL to the worker and waits for it.
  void Kill();
  // "exit", then waits for the worker: its exit status, or -1 when it ended
  // by a signal or had to be killed. A sanitizer build's child that leaked
  // or erred ends with a non-zero status.
  int Exit();

 private:
  // The exit status as Exit gives it.
  int Reap(int wait_ms);

  pid_t pid_ = -1;
  int to_child_ = -1;
  int from_child_ = -1;
  int timeout_ms_;
  std::string buffer_;
};

}  // namespace vez::test
