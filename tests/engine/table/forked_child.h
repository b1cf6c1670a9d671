// A forked child process that works on the same table as its parent: a second program as
// far as sharing and locks go, running a piece of the parent's test. POSIX only (fork and
// pipes); support/programs.h starts separate programs on every system.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

namespace zedra::testing {

// Runs body in a child process, a second program as far as sharing and locks go; the
// child's exit status is body's result. The child shares the open files of the parent's
// work areas (and so their locks): body must open its own in another area and never
// touch the parent's, and it ends with _exit so that nothing is closed or written.
inline pid_t StartChild(const std::function<int()>& body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int status = 1;
    try {
      status = body();
    } catch (...) {
      status = 99;
    }
    _exit(status);
  }
  return pid;
}

inline int WaitChild(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A one-byte pipe for "ready" and "go" signals between the two processes.
struct Signal {
  int fd[2] = {-1, -1};
  Signal() {
    if (pipe(fd) != 0) fd[0] = fd[1] = -1;
  }
  ~Signal() {
    if (fd[0] >= 0) close(fd[0]);
    if (fd[1] >= 0) close(fd[1]);
  }
  void Send() { (void)!write(fd[1], "x", 1); }
  bool Wait() {
    char c;
    return read(fd[0], &c, 1) == 1;
  }
};

}  // namespace zedra::testing
