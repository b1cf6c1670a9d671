#include "support/programs.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace zedra::testing {
namespace {

constexpr const char* kProgramFlag = "--zedra-program";
#ifdef _WIN32
// The exit code of a program that ended abruptly.
constexpr UINT kAbruptExit = 0xDEAD;
#endif

std::map<std::string, ProgramEntry>& Registry() {
  static std::map<std::string, ProgramEntry> entries;
  return entries;
}

std::string OwnPath() {
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n < MAX_PATH ? n : 0);
#else
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).string();
#endif
}

#ifdef _WIN32
// One argument quoted as the C runtime splits a command line again.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}
#endif

}  // namespace

bool RegisterProgram(const char* name, ProgramEntry entry) {
  return Registry().emplace(name, entry).second;
}

bool RunRequestedProgram(int argc, char** argv, int* status) {
  if (argc < 3 || std::string(argv[1]) != kProgramFlag) return false;
  auto it = Registry().find(argv[2]);
  if (it == Registry().end()) {
    std::fprintf(stderr, "no program named %s\n", argv[2]);
    *status = 2;
    return true;
  }
  try {
    *status = it->second(std::vector<std::string>(argv + 3, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "program %s: exception %s\n", argv[2], e.what());
    *status = 1;
  }
  std::fflush(nullptr);
  return true;
}

#ifdef _WIN32
struct SeparateProgram::Process {
  PROCESS_INFORMATION info{};
  bool killed = false;
};

SeparateProgram::SeparateProgram(const std::string& name, const std::vector<std::string>& args)
    : process_(new Process) {
  std::string line = Quoted(OwnPath()) + " " + kProgramFlag + " " + Quoted(name);
  for (const std::string& a : args) line += " " + Quoted(a);
  std::fflush(nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process_->info)) {
    std::fprintf(stderr, "cannot start %s (error %lu)\n", name.c_str(), GetLastError());
    process_->info = {};
  }
}

bool SeparateProgram::Started() const { return process_->info.hProcess != nullptr; }

int SeparateProgram::Wait() {
  if (waited_) return status_;
  waited_ = true;
  if (!Started()) return status_ = -1;
  WaitForSingleObject(process_->info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process_->info.hProcess, &code);
  CloseHandle(process_->info.hProcess);
  CloseHandle(process_->info.hThread);
  status_ = process_->killed || code == kAbruptExit ? -1 : static_cast<int>(code);
  return status_;
}

void EndAbruptly() {
  TerminateProcess(GetCurrentProcess(), kAbruptExit);
  for (;;) Sleep(INFINITE);
}

void SeparateProgram::Kill() {
  if (waited_ || !Started()) return;
  process_->killed = true;
  TerminateProcess(process_->info.hProcess, 255);
  Wait();
}
#else
struct SeparateProgram::Process {
  pid_t pid = -1;
};

SeparateProgram::SeparateProgram(const std::string& name, const std::vector<std::string>& args)
    : process_(new Process) {
  std::vector<std::string> words = {OwnPath(), kProgramFlag, name};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::fflush(nullptr);
  if (posix_spawn(&process_->pid, words[0].c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", name.c_str());
    process_->pid = -1;
  }
}

bool SeparateProgram::Started() const { return process_->pid > 0; }

int SeparateProgram::Wait() {
  if (waited_) return status_;
  waited_ = true;
  int status = 0;
  if (!Started() || waitpid(process_->pid, &status, 0) != process_->pid) return status_ = -1;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return status_;
}

void SeparateProgram::Kill() {
  if (waited_ || !Started()) return;
  kill(process_->pid, SIGKILL);
  Wait();
}

void EndAbruptly() {
  raise(SIGKILL);
  for (;;) pause();
}
#endif

SeparateProgram::~SeparateProgram() {
  Kill();
  delete process_;
}

void FileGate::Post() const { std::ofstream(path_) << "posted\n"; }

bool FileGate::Posted() const { return std::filesystem::exists(path_); }

bool FileGate::Await(int limit_ms) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!Posted()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace zedra::testing
