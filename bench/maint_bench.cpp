// Speed of keeping indexes in step: 10,000 appends to the 1,000,000-record table with no
// index, with one tag (each of UPPER(NAME), AMOUNT and BORN on its own) and with all three
// open, in an exclusive and in a shared area; and 10,000 replacements that change every
// key of random records, without an index and with the three tags.
//
// Each benchmark works on a fresh copy of the table and its index file, made before the
// timing starts; the copies and the table are removed at the end.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "base/errors.h"
#include "engine.h"
#include "index/index.h"
#include "table/commands.h"

#include "big_table.h"

namespace zedra {
namespace {

constexpr int kChanges = 10000;

const std::map<std::string, std::string>& TagKeys() {
  static const std::map<std::string, std::string> keys{
      {"NAME", "UPPER(NAME)"}, {"AMOUNT", "AMOUNT"}, {"BORN", "BORN"}};
  return keys;
}

// The index file with the named tags (empty: none), built once; its path.
std::string IndexWith(const std::string& tags) {
  static std::map<std::string, std::string> built;
  if (tags.empty()) return "";
  if (auto it = built.find(tags); it != built.end()) return it->second;
  std::vector<TagInfo> infos;
  for (const auto& [name, key] : TagKeys())
    if (tags == "ALL" || tags == name) infos.push_back({name, key, "", 0, 0});
  const std::string path = Dir() + "/" + tags + ".MDX";
  EngineStartup();
  SetAutoReport(false);
  UseOptions exclusive;
  exclusive.exclusive = true;
  Use(Table(), exclusive);
  MakeIndex(infos, path);
  CloseAllAreas();
  EngineShutdown();
  return built[tags] = path;
}

// A fresh copy of the table (and the index file) opened; false when anything failed.
bool OpenCopy(const std::string& tags, bool exclusive) {
  const std::string index = IndexWith(tags);
  const std::string table = Dir() + "/WORK.DBF";
  std::filesystem::copy_file(Table(), table, std::filesystem::copy_options::overwrite_existing);
  if (!index.empty())
    std::filesystem::copy_file(index, Dir() + "/WORK.MDX", std::filesystem::copy_options::overwrite_existing);
  EngineStartup();
  SetAutoReport(false);
  UseOptions options;
  options.exclusive = exclusive;
  if (!Use(table, options)) return false;
  if (index.empty()) return true;
  if (!SetIndexTo(Dir() + "/WORK.MDX")) return false;
  SetIndexCache(4u << 20);  // as the zedra tool does (exclusive tables only)
  return true;
}

// The values of change i: every key differs from its neighbours'.
void PutValues(uint32_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "%c%c%c new %u", 'a' + i % 26, 'a' + i * 7 % 26, 'a' + i * 13 % 26, i);
  SetFieldText(1, name);
  SetFieldNum(3, (double(i * 7919u % 2000000u) - 1000000) / 100);
  char born[16];
  std::snprintf(born, sizeof born, "%04u%02u%02u", 1900 + i % 120, 1 + i % 12, 1 + i % 28);
  SetFieldDate(4, born);
}

void Close(benchmark::State& state) {
  if (ErrorCode() != 0) state.SkipWithError(Errors().PendingMessage.c_str());
  CloseAllAreas();
  EngineShutdown();
}

void Appends(benchmark::State& state, const std::string& tags, bool exclusive) {
  for (auto _ : state) {
    state.PauseTiming();
    if (!OpenCopy(tags, exclusive)) state.SkipWithError("the copy cannot be opened");
    state.ResumeTiming();
    for (uint32_t i = 0; i < uint32_t(kChanges) && ErrorCode() == 0; ++i) {
      ClearRecord();
      PutValues(i);
      AppendRecord();
    }
    state.PauseTiming();
    Close(state);
    state.ResumeTiming();
  }
  state.counters["appends/s"] = benchmark::Counter(kChanges, benchmark::Counter::kIsIterationInvariantRate);
}

void Replacements(benchmark::State& state, const std::string& tags) {
  for (auto _ : state) {
    state.PauseTiming();
    if (!OpenCopy(tags, true)) state.SkipWithError("the copy cannot be opened");
    state.ResumeTiming();
    uint32_t x = 4242;
    for (uint32_t i = 0; i < uint32_t(kChanges) && ErrorCode() == 0; ++i) {
      x = x * 1103515245u + 12345u;
      Goto(int32_t(x % uint32_t(kRecords)) + 1);
      PutValues(i);
      Replace();
    }
    state.PauseTiming();
    Close(state);
    state.ResumeTiming();
  }
  state.counters["replacements/s"] = benchmark::Counter(kChanges, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Append(benchmark::State& state, std::string tags, bool exclusive) { Appends(state, tags, exclusive); }
void BM_Replace(benchmark::State& state, std::string tags) { Replacements(state, tags); }

BENCHMARK_CAPTURE(BM_Append, none_exclusive, "", true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Append, NAME_exclusive, "NAME", true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Append, AMOUNT_exclusive, "AMOUNT", true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Append, BORN_exclusive, "BORN", true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Append, all_exclusive, "ALL", true)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Append, none_shared, "", false)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Append, NAME_shared, "NAME", false)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Append, all_shared, "ALL", false)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Replace, none, "")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_Replace, all, "ALL")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace zedra

int main(int argc, char** argv) { return zedra::RunAndRemoveTable(argc, argv); }
