// Speed of the table layer: reading records in natural order through Dbf4Go, appending,
// and Peek with and without its cache, beside plain reads of the same file.
//
// The tables are made once in the temporary directory and removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/errors.h"
#include "engine.h"
#include "table/commands.h"
#include "table/work_area.h"

namespace zedra {
namespace {

constexpr int32_t kBigRecords = 1000000;

const std::vector<FieldSpec> kFields = {{"NAME", 'C', 20, 0}, {"CITY", 'C', 15, 0},
                                        {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8, 0},
                                        {"ACTIVE", 'L', 1, 0}};

std::string Dir() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path() / ("zedra-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

void StartEngine() {
  EngineStartup();
  SetAutoReport(false);
}

// Fills the current (exclusive) area with n records.
void Fill(int32_t n) {
  for (int32_t i = 1; i <= n; ++i) {
    AppendBlank();
    SetFieldText(1, "Name " + std::to_string(i));
    SetFieldText(2, "City");
    SetFieldNum(3, i * 0.25);
    SetFieldDate(4, "20240229");
    SetFieldLogical(5, i % 2 == 0);
    Replace();
  }
}

// The million-record table, made on first use.
const std::string& BigTable() {
  static const std::string path = [] {
    std::string p = Dir() + "/BIG.DBF";
    StartEngine();
    CreateDbf(p, 0x03, kFields);
    UseOptions o;
    o.exclusive = true;
    Use(p, o);
    Fill(kBigRecords);
    CloseAllAreas();
    EngineShutdown();
    return p;
  }();
  return path;
}

void OpenBig() {
  const std::string& path = BigTable();
  StartEngine();
  UseOptions o;
  o.exclusive = true;
  Use(path, o);
}

void BM_Dbf4GoSequential(benchmark::State& state) {
  OpenBig();
  int32_t n = 1;
  for (auto _ : state) {
    Dbf4Go(n);
    benchmark::DoNotOptimize(CurrentArea()->record.data());
    n = n == kBigRecords ? 1 : n + 1;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * RecSize());
  EngineShutdown();
}
BENCHMARK(BM_Dbf4GoSequential);

// The same records with plain pread, one record a call: the floor for a record-at-a-time
// reader.
void BM_PlainReadPerRecord(benchmark::State& state) {
  OpenBig();
  const uint64_t header = uint16_t(CurrentArea()->header_length);
  const size_t rl = RecSize();
  EngineShutdown();
  int fd = open(BigTable().c_str(), O_RDONLY);
  std::vector<char> buffer(rl);
  int64_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pread(fd, buffer.data(), rl, off_t(header + n * rl)));
    n = n + 1 == kBigRecords ? 0 : n + 1;
  }
  close(fd);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * rl);
}
BENCHMARK(BM_PlainReadPerRecord);

// The whole file with plain read in 64 KiB pieces: what the disk cache gives at best.
void BM_PlainReadWholeFile(benchmark::State& state) {
  BigTable();
  std::vector<char> buffer(65536);
  int64_t bytes = 0;
  for (auto _ : state) {
    int fd = open(BigTable().c_str(), O_RDONLY);
    ssize_t got;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0) bytes += got;
    close(fd);
  }
  state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_PlainReadWholeFile)->Unit(benchmark::kMillisecond);

void BM_Append100k(benchmark::State& state) {
  const std::string path = Dir() + "/APPEND.DBF";
  for (auto _ : state) {
    StartEngine();
    CreateDbf(path, 0x03, kFields);
    UseOptions o;
    o.exclusive = state.range(0) != 0;
    Use(path, o);
    Fill(100000);
    CloseAllAreas();
    EngineShutdown();
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_Append100k)->Arg(1)->Arg(0)->ArgName("exclusive")->Unit(benchmark::kMillisecond);

void BM_Peek(benchmark::State& state) {
  OpenBig();
  Tables().PeekCacheSize = uint32_t(state.range(0));
  int32_t n = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Peek(3, n));
    n = n == kBigRecords ? 1 : n + 1;
  }
  state.SetItemsProcessed(state.iterations());
  EngineShutdown();
}
BENCHMARK(BM_Peek)->Arg(0)->Arg(65520)->ArgName("cache");

}  // namespace
}  // namespace zedra

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(zedra::Dir(), ec);
  return 0;
}
