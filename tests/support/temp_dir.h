// Test support: a fresh temporary directory per test, removed afterwards, and small file
// helpers.
#pragma once

#include <string>
#include <vector>

namespace zedra::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Runs a command line through the shell; returns its exit status and its standard output.
int RunCommand(const std::string& command, std::string* output);

// Points the system's temporary directory (TMPDIR; TMP on Windows) at path for this
// process and the programs it starts; an empty path returns to the default.
void SetSystemTempDirectory(const std::string& path);

// Whether the other programs the tests compare with (python3-dbf, python3-dbfread,
// XBase::Index) can be started: they are programs of the Linux machine, which a Windows
// build running under Wine cannot start.
constexpr bool PeerProgramsAvailable() {
#ifdef _WIN32
  return false;
#else
  return true;
#endif
}

}  // namespace zedra::testing
