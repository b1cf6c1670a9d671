// Speed of appends to a table whose production index of three tags is open: 10,000
// records appended by one program with the table exclusive, by one program with the table
// shared (record lock, semaphore write bracket, header per record), and by two programs
// sharing it at once (5,000 each, timed until both are done).
//
// Every run starts from an empty table in the temporary directory, removed at the end.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/errors.h"
#include "engine.h"
#include "index/index.h"
#include "platform/platform.h"
#include "table/commands.h"

namespace zedra {
namespace {

constexpr int kAppends = 10000;

std::string Dir() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path() / ("zedra-sbench-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

std::string Table() { return Dir() + "/APPENDS.DBF"; }

// An empty table with its production index (NAME, NUM and DAY).
bool MakeTable() {
  std::filesystem::remove(Table());
  std::filesystem::remove(Dir() + "/APPENDS.MDX");
  if (!CreateDbf(Table(), 0x03, {{"NAME", 'C', 20, 0}, {"NUM", 'N', 10, 0}, {"DAY", 'D', 8, 0}})) return false;
  UseOptions alone;
  alone.exclusive = true;
  if (!Use(Table(), alone)) return false;
  const bool made = MakeIndex({{"NAME", "NAME", "", 0, 0}, {"NUM", "NUM", "", 0, 0}, {"DAY", "DAY", "", 0, 0}}, "");
  CloseAllAreas();
  return made;
}

// Appends `count` records numbered from `first`; false at the first failure.
bool Append(bool exclusive, int first, int count) {
  UseOptions options;
  options.exclusive = exclusive;
  if (!Use(Table(), options) || !SetIndexTo("")) return false;
  for (int i = first; i < first + count; ++i) {
    ClearRecord();
    SetFieldText(1, "name " + std::to_string((i * 7919) % 100003));
    SetFieldNum(2, double((i * 104729) % 1000003));
    SetFieldDate(3, "2026" + std::to_string(10 + i % 3) + std::to_string(10 + i % 19));
    if (!AppendRecord()) return false;
    if (!exclusive) UnlockRec(RecNo());
  }
  CloseAllAreas();
  return true;
}

void Run(benchmark::State& state, bool exclusive, int programs) {
  for (auto _ : state) {
    state.PauseTiming();
    if (!MakeTable()) {
      state.SkipWithError("the table cannot be made");
      break;
    }
    state.ResumeTiming();
    const int each = kAppends / programs;
    std::vector<pid_t> others;
    for (int p = 1; p < programs; ++p) {
      const pid_t pid = fork();
      if (pid == 0) _exit(Append(exclusive, p * each, each) ? 0 : 1);
      others.push_back(pid);
    }
    bool ok = Append(exclusive, 0, each);
    for (pid_t pid : others) {
      int status = 0;
      waitpid(pid, &status, 0);
      ok = ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!ok) {
      state.SkipWithError("an append failed");
      break;
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kAppends);
}

void BM_AppendsExclusive(benchmark::State& state) { Run(state, true, 1); }
void BM_AppendsSharedOneProgram(benchmark::State& state) { Run(state, false, 1); }
void BM_AppendsSharedTwoPrograms(benchmark::State& state) { Run(state, false, 2); }

BENCHMARK(BM_AppendsExclusive)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_AppendsSharedOneProgram)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_AppendsSharedTwoPrograms)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace zedra

int main(int argc, char** argv) {
  zedra::EngineStartup();
  zedra::SetAutoReport(false);
  // The table lock byte another program holds for its append is tried again every
  // millisecond.
  zedra::Tables().RetryCount = 255;
  zedra::Tables().RetryWait = 1;
  zedra::SetWaitPump([](uint32_t) {
    zedra::platform::SleepMs(1);
    return false;
  });
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove_all(zedra::Dir());
  return 0;
}
