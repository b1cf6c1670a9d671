// Speed of the expression layer: an index key and a filter condition evaluated on every
// record of a table of 1,000,000 records, beside the same walk without evaluation; and
// compiling.
//
// The table is written once in the temporary directory and removed at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/errors.h"
#include "base/files.h"
#include "engine.h"
#include "expr/expr.h"
#include "table/commands.h"
#include "table/work_area.h"

namespace zedra {
namespace {

constexpr int32_t kRecords = 1000000;

// The directory of the table, made on first use and removed with everything in it when
// the program ends.
struct BenchDir {
  std::string path;
  BenchDir()
      : path(std::filesystem::temp_directory_path() /
             ("zedra-expr-bench-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(path);
  }
  ~BenchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

const std::string& Dir() {
  static const BenchDir dir;
  return dir.path;
}

// NAME C 20, AMOUNT N 10.2, BORN D 8, ACTIVE L 1: written byte by byte, since only the
// evaluation is measured here.
const std::string& Table() {
  static const std::string path = [] {
    std::string p = Dir() + "/PEOPLE.DBF";
    struct F {
      const char* name;
      char type;
      uint8_t length, decimals;
    } fields[] = {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 10, 2}, {"BORN", 'D', 8, 0},
                  {"ACTIVE", 'L', 1, 0}};
    const uint16_t header_length = 32 + 32 * 4 + 1, record_length = 1 + 20 + 10 + 8 + 1;
    std::string h(header_length, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(h.data());
    h[0] = 0x03, h[1] = 124, h[2] = 1, h[3] = 1;
    PutLE32(bytes + 4, uint32_t(kRecords));
    PutLE16(bytes + 8, header_length);
    PutLE16(bytes + 10, record_length);
    for (int i = 0; i < 4; ++i) {
      size_t at = 32 + 32 * size_t(i);
      h.replace(at, std::strlen(fields[i].name), fields[i].name);
      h[at + 11] = fields[i].type;
      h[at + 16] = char(fields[i].length);
      h[at + 17] = char(fields[i].decimals);
    }
    h[header_length - 1] = 0x0D;
    std::ofstream out(p, std::ios::binary);
    out << h;
    char record[64];
    for (int32_t n = 1; n <= kRecords; ++n) {
      std::snprintf(record, sizeof record, " %-20.20s%10.2f%04d%02d%02d%c",
                    (std::string("name ") + std::to_string(n)).c_str(), (n % 1000) * 1.25,
                    1950 + n % 60, 1 + n % 12, 1 + n % 28, n % 3 ? 'T' : 'F');
      out.write(record, record_length);
    }
    out.put(0x1A);
    return p;
  }();
  return path;
}

void Open() {
  EngineStartup();
  SetAutoReport(false);
  UseOptions o;
  o.exclusive = true;
  if (!Use(Table(), o)) std::abort();
}

// Walks every record in natural order; evaluates `text` on each when given.
void Walk(benchmark::State& state, const char* text) {
  Open();
  CompiledExpr* e = text ? AssignExpr(text) : nullptr;
  if (text && !e) std::abort();
  int64_t hits = 0;
  for (auto _ : state) {
    for (int32_t n = 1; n <= kRecords; ++n) {
      Dbf4Go(n);
      if (e) {
        const void* r = Evaluate(e);
        if (e->type == 'L') hits += *static_cast<const int32_t*>(r) != 0;
        benchmark::DoNotOptimize(r);
      }
    }
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.counters["true"] = double(hits) / double(state.iterations());
  ReleaseExpr(e);
  CloseAllAreas();
  EngineShutdown();
}

void BM_WalkOnly(benchmark::State& state) { Walk(state, nullptr); }
void BM_KeyUpperNameDtosBorn(benchmark::State& state) { Walk(state, "UPPER(NAME)+DTOS(BORN)"); }
void BM_FilterAmountAndActive(benchmark::State& state) {
  Walk(state, "AMOUNT > 500 .AND. ACTIVE");
}

// Evaluation alone, on one record, without moving.
void EvaluateOnly(benchmark::State& state, const char* text) {
  Open();
  Dbf4Go(12345);
  CompiledExpr* e = AssignExpr(text);
  for (auto _ : state) benchmark::DoNotOptimize(Evaluate(e));
  state.SetItemsProcessed(state.iterations());
  ReleaseExpr(e);
  CloseAllAreas();
  EngineShutdown();
}
void BM_EvaluateKeyOnly(benchmark::State& state) {
  EvaluateOnly(state, "UPPER(NAME)+DTOS(BORN)");
}
void BM_EvaluateFilterOnly(benchmark::State& state) {
  EvaluateOnly(state, "AMOUNT > 500 .AND. ACTIVE");
}

void BM_Compile(benchmark::State& state) {
  Open();
  for (auto _ : state) {
    CompiledExpr* e = AssignExpr("UPPER(NAME)+DTOS(BORN)");
    ReleaseExpr(e);
  }
  state.SetItemsProcessed(state.iterations());
  CloseAllAreas();
  EngineShutdown();
}

BENCHMARK(BM_WalkOnly)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_KeyUpperNameDtosBorn)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FilterAmountAndActive)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_EvaluateKeyOnly);
BENCHMARK(BM_EvaluateFilterOnly);
BENCHMARK(BM_Compile);

}  // namespace
}  // namespace zedra

BENCHMARK_MAIN();
