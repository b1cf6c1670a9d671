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

}  // namespace zedra::testing
