#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace zedra::testing {

TempDir::TempDir() {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "zedra-test-%012llx",
                  static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
    std::error_code ec;
    if (std::filesystem::create_directory(base / name, ec)) {
      // Forward slashes on every system: the tests build their paths with "/".
      path_ = (base / name).generic_string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory in " + base.string());
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  // A write refused (a file another opener denies writing, on Windows) fails the test
  // here rather than letting it go on with the old bytes.
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

void SetSystemTempDirectory(const std::string& path) {
#ifdef _WIN32
  _putenv_s("TMP", path.c_str());  // an empty value removes the variable
#else
  if (path.empty()) unsetenv("TMPDIR");
  else setenv("TMPDIR", path.c_str(), 1);
#endif
}

int RunCommand(const std::string& command, std::string* output) {
#ifdef _WIN32
  FILE* pipe = _popen(command.c_str(), "rb");
#else
  FILE* pipe = popen(command.c_str(), "r");
#endif
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  if (output) *output = text;
#ifdef _WIN32
  return _pclose(pipe);
#else
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace zedra::testing
