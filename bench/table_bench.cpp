// Speed of the table layer: reading records in natural order through Dbf4Go, scans through
// a filter, appending, and Peek with and without its cache, beside plain reads of the same
// file (a block reader that tests the filter's fields on the bytes, and `cat`).
//
// The tables are made once in the temporary directory and removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "engine.h"
#include "expr/expr.h"
#include "table/commands.h"
#include "table/work_area.h"

namespace zedra {
namespace {

constexpr int32_t kBigRecords = 1000000;

const std::vector<FieldSpec> kFields = {{"NAME", 'C', 20, 0}, {"CITY", 'C', 15, 0},
                                        {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8, 0},
                                        {"ACTIVE", 'L', 1, 0}};

// ZEDRA_BENCH_DIR names a directory that keeps the big table from one run to the next.
const char* KeptDir() { return std::getenv("ZEDRA_BENCH_DIR"); }

std::string Dir() {
  static const std::string dir = [] {
    std::string d = KeptDir() ? std::string(KeptDir())
                              : (std::filesystem::temp_directory_path() /
                                 ("zedra-bench-" + std::to_string(getpid()))).string();
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
    if (KeptDir() && std::filesystem::exists(p)) return p;
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

void OpenBig(bool exclusive = true) {
  const std::string& path = BigTable();
  StartEngine();
  UseOptions o;
  o.exclusive = exclusive;
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

// AMOUNT > 500 straight from the field's 10 bytes ("   1234.50"): the whole part's digits,
// then any non-zero decimal when it is exactly 500.
bool AmountAbove500(const char* p) {
  const char* end = p + 10;
  while (p < end && *p == ' ') ++p;
  if (p < end && *p == '-') return false;
  int64_t whole = 0;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) whole = whole * 10 + (*p - '0');
  if (whole != 500) return whole > 500;
  for (++p; p < end; ++p)
    if (*p > '0' && *p <= '9') return true;
  return false;
}

// The baseline of the scans: the file read with pread in 64 KiB blocks, counting the
// records whose AMOUNT (bytes 36..45) is above 500 and whose ACTIVE (byte 54) is T.
void BM_BaselineBlockScan(benchmark::State& state) {
  OpenBig();
  const uint64_t header = uint16_t(CurrentArea()->header_length);
  const size_t rl = RecSize();
  EngineShutdown();
  int fd = open(BigTable().c_str(), O_RDONLY);
  std::vector<char> block((65536 / rl) * rl);
  int64_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    uint64_t offset = header;
    for (int64_t left = kBigRecords; left > 0;) {
      ssize_t got = pread(fd, block.data(), block.size(), off_t(offset));
      if (got <= 0) break;
      int64_t records = std::min<int64_t>(got / int64_t(rl), left);
      for (int64_t r = 0; r < records; ++r) {
        const char* rec = block.data() + r * rl;
        if (rec[54] != 'T' && rec[54] != 't' && rec[54] != 'Y' && rec[54] != 'y') continue;
        hits += AmountAbove500(rec + 36);
      }
      left -= records;
      offset += uint64_t(records) * rl;
    }
    benchmark::DoNotOptimize(hits);
  }
  close(fd);
  state.counters["hits"] = double(hits);
  state.SetItemsProcessed(state.iterations() * kBigRecords);
}
BENCHMARK(BM_BaselineBlockScan)->Unit(benchmark::kMillisecond);

// `cat` of the file into /dev/null (the process start included; the time is the wall
// time, as the work is done in the child).
void BM_Cat(benchmark::State& state) {
  const std::string command = "cat '" + BigTable() + "' > /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("cat failed");
}
BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond);

// Every record in natural order through Dbf4Go, the value of each of its fields taken
// as a program takes it (the evaluator's field read; area 33 means the current one).
void BM_ScanEveryField(benchmark::State& state) {
  OpenBig(state.range(0) != 0);
  std::vector<char> buffer(512);
  const int fields = FieldCount();
  for (auto _ : state) {
    for (int32_t n = 1; n <= kBigRecords; ++n) {
      Dbf4Go(n);
      for (int k = 1; k <= fields; ++k)
        benchmark::DoNotOptimize(GetFieldValue(k, buffer.data(), 33));
    }
  }
  state.SetItemsProcessed(state.iterations() * kBigRecords);
  EngineShutdown();
}
BENCHMARK(BM_ScanEveryField)->Arg(1)->Arg(0)->ArgName("exclusive")->Unit(benchmark::kMillisecond);

// The filtered scan: GoTop and Skip through the filter AMOUNT > 500 .AND. ACTIVE.
void BM_FilteredScan(benchmark::State& state) {
  OpenBig(state.range(0) != 0);
  SetFilter("AMOUNT > 500 .AND. ACTIVE");
  int64_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (GoTop(); !Eof(); Skip(1)) ++hits;
  }
  state.counters["hits"] = double(hits);
  state.SetItemsProcessed(state.iterations() * kBigRecords);
  EngineShutdown();
}
BENCHMARK(BM_FilteredScan)->Arg(1)->Arg(0)->ArgName("exclusive")->Unit(benchmark::kMillisecond);

// Appends into a new table: 1,000,000 exclusive, 10,000 shared.
void BM_Appends(benchmark::State& state) {
  const std::string path = Dir() + "/APPENDS.DBF";
  const bool exclusive = state.range(0) != 0;
  const int32_t count = exclusive ? 1000000 : 10000;
  for (auto _ : state) {
    StartEngine();
    CreateDbf(path, 0x03, kFields);
    UseOptions o;
    o.exclusive = exclusive;
    Use(path, o);
    Fill(count);
    CloseAllAreas();
    EngineShutdown();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Appends)->Arg(1)->Arg(0)->ArgName("exclusive")->Unit(benchmark::kMillisecond);

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
  if (!zedra::KeptDir()) std::filesystem::remove_all(zedra::Dir(), ec);
  return 0;
}
