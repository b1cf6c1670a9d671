// Helpers of the table layer's tests: a clean engine per test, DBF images built byte by
// byte, and a child process that works on the same table.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/files.h"
#include "engine.h"
#include "support/temp_dir.h"
#include "table/commands.h"
#include "table/work_area.h"

namespace zedra::testing {

// Starts every test from a freshly started engine that leaves error handling to the test.
class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    SetAutoReport(false);
  }
  void TearDown() override {
    {
      AutoReportScope quiet(false);
      CloseAllAreas();
    }
    EngineShutdown();
  }
  std::string File(const std::string& name) const { return dir_.File(name); }
  // The last error as "code: message", then cleared.
  std::string TakeError() {
    std::string text = std::to_string(ErrorCode()) + ": " + Errors().PendingMessage;
    Errors().ErrorCode = 0;
    GetErrorText();
    return text;
  }

  TempDir dir_;
};

inline UseOptions Exclusive() {
  UseOptions o;
  o.exclusive = true;
  return o;
}

struct RawField {
  std::string name;
  char type;
  uint8_t length;
  uint8_t decimals = 0;
};

// A table file image in the dBASE III PLUS layout.
inline std::string MakeDbf(uint8_t version, const std::vector<RawField>& fields,
                           const std::vector<std::string>& records, bool eof_marker = true) {
  uint16_t record_length = 1;
  for (const RawField& f : fields) record_length += f.length;
  const uint16_t header_length = uint16_t(32 + 32 * fields.size() + 1);
  std::string h(header_length, '\0');
  auto* p = reinterpret_cast<uint8_t*>(h.data());
  p[0] = version;
  p[1] = 124;
  p[2] = 5;
  p[3] = 17;
  PutLE32(p + 4, uint32_t(records.size()));
  PutLE16(p + 8, header_length);
  PutLE16(p + 10, record_length);
  size_t pos = 32;
  for (const RawField& f : fields) {
    h.replace(pos, f.name.size(), f.name);
    p[pos + 11] = uint8_t(f.type);
    p[pos + 16] = f.length;
    p[pos + 17] = f.decimals;
    pos += 32;
  }
  p[pos] = 0x0D;
  std::string out = h;
  for (const std::string& r : records) {
    std::string rec = r;
    rec.resize(record_length, ' ');
    out += rec;
  }
  if (eof_marker) out += '\x1A';
  return out;
}

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
