// Other programs for sharing tests, on every system: the test program started once more as
// a separate process that runs one registered entry point, and signals between processes
// through files.
//
//   ZEDRA_PROGRAM(appender) { ... return failures; }   // args: what the starter passed
//   SeparateProgram p("appender", {dir, "1"});
//   EXPECT_EQ(p.Wait(), 0);
//
// The process is a fresh start of the test program: it shares no open file, lock or engine
// state with its starter, so that every sharing rule is met as between two users' programs.
#pragma once

#include <string>
#include <vector>

namespace zedra::testing {

using ProgramEntry = int (*)(const std::vector<std::string>& args);

// Registers an entry point under its name; ZEDRA_PROGRAM does it at static initialisation.
bool RegisterProgram(const char* name, ProgramEntry entry);

#define ZEDRA_PROGRAM(name)                                                        \
  static int name(const std::vector<std::string>& args);                          \
  [[maybe_unused]] static const bool name##_registered =                          \
      ::zedra::testing::RegisterProgram(#name, name);                             \
  static int name(const std::vector<std::string>& args)

// When the command line asks for an entry point ("--zedra-program NAME ARGS..."), runs it
// and returns true with its result in *status (2 for a name nobody registered).
bool RunRequestedProgram(int argc, char** argv, int* status);

// Ends this program at once, as a crash or a kill does: nothing is closed, flushed or
// written; its starter's Wait gives -1.
[[noreturn]] void EndAbruptly();

class SeparateProgram {
 public:
  SeparateProgram(const std::string& name, const std::vector<std::string>& args);
  ~SeparateProgram();  // kills the program when nobody waited for it
  SeparateProgram(const SeparateProgram&) = delete;
  SeparateProgram& operator=(const SeparateProgram&) = delete;

  bool Started() const;
  // The entry point's result; -1 when the program did not end normally (killed, crashed or
  // never started).
  int Wait();
  void Kill();

 private:
  struct Process;
  Process* process_;
  bool waited_ = false;
  int status_ = -1;
};

// A one-shot signal through a file: Post creates it, Await waits for it to exist.
class FileGate {
 public:
  explicit FileGate(std::string path) : path_(std::move(path)) {}
  void Post() const;
  // False when the signal has not come within the limit (a hung program).
  bool Await(int limit_ms = 60000) const;
  bool Posted() const;

 private:
  std::string path_;
};

}  // namespace zedra::testing
