// Other programs for sharing tests: forked children that run a piece of the engine on
// their own, and one-shot signals between the processes.
//
// Fork children before the parent opens any table, index or semaphore file: an open file
// inherited by a child keeps its locks and sharing for as long as the child lives.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "../table/table_test_util.h"
#include "base/errors.h"
#include "table/work_area.h"

namespace zedra::testing {

// A one-shot signal from one process to another (a pipe). Create it before forking.
class Gate {
 public:
  Gate() {
    if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~Gate() {
    for (int fd : fds_)
      if (fd >= 0) close(fd);
  }
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;

  void Post() {
    const char c = 1;
    if (write(fds_[1], &c, 1) != 1) perror("Gate::Post");
  }
  // Waits for the signal; false when it has not come within the limit (a hung program).
  bool Await(int limit_ms = 60000) {
    pollfd p{fds_[0], POLLIN, 0};
    if (poll(&p, 1, limit_ms) != 1) return false;
    char c = 0;
    return read(fds_[0], &c, 1) == 1;
  }
  // Whether the signal has come, without waiting.
  bool Posted() {
    pollfd p{fds_[0], POLLIN, 0};
    return poll(&p, 1, 0) == 1;
  }

 private:
  int fds_[2];
};

// A separate program: the body runs in a forked child, whose exit status is the body's
// result (0: everything it checked held). Failures are told on standard error.
class Program {
 public:
  explicit Program(const std::function<int()>& body) {
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      int status = 1;
      try {
        status = body();
      } catch (const std::exception& e) {
        fprintf(stderr, "program %d: exception %s\n", int(getpid()), e.what());
      }
      {
        AutoReportScope quiet(false);
        CloseAllAreas();
      }
      fflush(nullptr);
      _exit(status);
    }
  }
  ~Program() {
    if (pid_ > 0 && !waited_) Kill();
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The body's result; -1 when the program did not end normally.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  void Kill() {
    kill(pid_, SIGKILL);
    Wait();
  }

 private:
  pid_t pid_ = -1;
  bool waited_ = false;
};

}  // namespace zedra::testing
