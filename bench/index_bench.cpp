// Speed of the index layer. The builder: MakeIndex of one tag on UPPER(NAME), on AMOUNT and on BORN
// over a 1,000,000-record table, each beside its baseline: the table file read, the same
// keys computed in C++ straight from the record bytes, std::sort of the (key, record)
// pairs, and as many 1024-byte nodes written as the build writes. Seeks: 100,000 random
// seeks on UPPER(NAME) beside std::lower_bound on a sorted array of the same keys; and a
// full walk in key order beside the walk in natural order.
//
// The table is made once in the temporary directory and removed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/errors.h"
#include "engine.h"
#include "expr/day_numbers.h"
#include "index/index.h"
#include "table/commands.h"

#include "big_table.h"

namespace zedra {
namespace {

void BuildTag(benchmark::State& state, const std::string& key) {
  EngineStartup();
  SetAutoReport(false);
  UseOptions exclusive;
  exclusive.exclusive = true;
  Use(Table(), exclusive);
  for (auto _ : state) {
    if (!MakeIndex({{"T", key, "", 0, 0}}, Dir() + "/BUILT.MDX")) state.SkipWithError("MakeIndex failed");
  }
  state.counters["records/s"] = benchmark::Counter(double(kRecords), benchmark::Counter::kIsIterationInvariantRate);
  CloseAllAreas();
  EngineShutdown();
}

void BM_MakeIndexUpperName(benchmark::State& state) { BuildTag(state, "UPPER(NAME)"); }
void BM_MakeIndexAmount(benchmark::State& state) { BuildTag(state, "AMOUNT"); }
void BM_MakeIndexBorn(benchmark::State& state) { BuildTag(state, "BORN"); }

// The baseline: key_of turns the record bytes into the key bytes of one item.
template <size_t KeyLength, typename KeyOf, typename Less>
void Baseline(benchmark::State& state, KeyOf key_of, Less less, int keys_per_node) {
  struct Item {
    std::array<uint8_t, KeyLength> key;
    uint32_t record;
  };
  for (auto _ : state) {
    int fd = open(Table().c_str(), O_RDONLY);
    std::vector<uint8_t> chunk(65536 / kRecordLength * kRecordLength);
    std::vector<Item> items;
    items.reserve(kRecords);
    off_t offset = kHeaderLength;
    uint32_t record = 1;
    while (record <= uint32_t(kRecords)) {
      ssize_t got = pread(fd, chunk.data(), chunk.size(), offset);
      if (got <= 0) break;
      offset += got;
      for (size_t at = 0; at + kRecordLength <= size_t(got) && record <= uint32_t(kRecords); at += kRecordLength) {
        Item it;
        key_of(chunk.data() + at, it.key.data());
        it.record = record++;
        items.push_back(it);
      }
    }
    close(fd);
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
      if (less(a.key.data(), b.key.data())) return true;
      if (less(b.key.data(), a.key.data())) return false;
      return a.record < b.record;
    });
    // As many nodes as the tree has: the leaves, then each level above.
    size_t nodes = 0;
    for (size_t level = (items.size() + keys_per_node - 1) / keys_per_node; ; level = (level + keys_per_node) / (keys_per_node + 1)) {
      nodes += level;
      if (level <= 1) break;
    }
    std::vector<uint8_t> node(1024);
    int out = open((Dir() + "/BASE.NDX").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<uint8_t> buffer;
    size_t at = 0;
    for (size_t n = 0; n < nodes; ++n) {
      const size_t take = std::min<size_t>(keys_per_node, items.size() - std::min(at, items.size()));
      std::memset(node.data(), 0, node.size());
      for (size_t i = 0; i < take; ++i, ++at) {
        PutLE32(node.data() + 8 + i * (KeyLength + 4), items[at].record);
        std::memcpy(node.data() + 12 + i * (KeyLength + 4), items[at].key.data(), KeyLength);
      }
      buffer.insert(buffer.end(), node.begin(), node.end());
      if (buffer.size() >= 65536) {
        (void)!write(out, buffer.data(), buffer.size());
        buffer.clear();
      }
    }
    (void)!write(out, buffer.data(), buffer.size());
    close(out);
    benchmark::DoNotOptimize(items.data());
  }
  state.counters["records/s"] = benchmark::Counter(double(kRecords), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_BaselineUpperName(benchmark::State& state) {
  Baseline<20>(state, [](const uint8_t* r, uint8_t* k) {
    for (int i = 0; i < 20; ++i) k[i] = uint8_t(std::toupper(r[1 + i]));
  }, [](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, 20) < 0; }, 42);
}

// Orders two 8-byte keys that hold doubles.
bool DoubleKeyLess(const uint8_t* a, const uint8_t* b) {
  double x, y;
  std::memcpy(&x, a, 8);
  std::memcpy(&y, b, 8);
  return x < y;
}

void BM_BaselineAmount(benchmark::State& state) {
  Baseline<8>(state, [](const uint8_t* r, uint8_t* k) {
    double v = std::strtod(std::string(reinterpret_cast<const char*>(r + 36), 10).c_str(), nullptr);
    std::memcpy(k, &v, 8);
  }, DoubleKeyLess, 63);
}

void BM_BaselineBorn(benchmark::State& state) {
  Baseline<8>(state, [](const uint8_t* r, uint8_t* k) {
    double v = DtosToDay(std::string_view(reinterpret_cast<const char*>(r + 46), 8));
    std::memcpy(k, &v, 8);
  }, DoubleKeyLess, 84);
}

// Seeks and walks: the table opened exclusively with a tag on UPPER(NAME) and the node
// cache on, as the tool uses it.
constexpr int kSeeks = 100000;
constexpr uint32_t kBenchCacheBytes = 4u << 20;

// The upper-cased names of the table (record n at n - 1), read once from the file.
const std::vector<std::array<char, 20>>& UpperNames() {
  static const std::vector<std::array<char, 20>> names = [] {
    std::vector<std::array<char, 20>> out(kRecords);
    FILE* f = std::fopen(Table().c_str(), "rb");
    std::vector<char> rec(kRecordLength);
    std::fseek(f, long(kHeaderLength), SEEK_SET);
    for (auto& n : out) {
      if (std::fread(rec.data(), 1, rec.size(), f) != rec.size()) break;
      for (int i = 0; i < 20; ++i) n[size_t(i)] = char(std::toupper(uint8_t(rec[size_t(1 + i)])));
    }
    std::fclose(f);
    return out;
  }();
  return names;
}

// The keys sought: those of 100,000 records picked at random.
const std::vector<std::string>& SoughtKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> out;
    uint32_t x = 777;
    for (int i = 0; i < kSeeks; ++i) {
      x = x * 1103515245u + 12345u;
      const auto& n = UpperNames()[(x >> 8) % uint32_t(kRecords)];
      out.emplace_back(n.data(), n.size());
    }
    return out;
  }();
  return keys;
}

// Opens the table with its seek index (built on first use) and the node cache.
bool OpenIndexed() {
  EngineStartup();
  SetAutoReport(false);
  UseOptions exclusive;
  exclusive.exclusive = true;
  if (!Use(Table(), exclusive)) return false;
  const std::string index = Dir() + "/SEEK.MDX";
  static bool built = false;
  if (!built && !MakeIndex({{"UNAME", "UPPER(NAME)", "", 0, 0}}, index)) return false;
  built = true;
  if (!SetIndexTo(index)) return false;
  SetIndexCache(kBenchCacheBytes);
  return true;
}

void BM_SeekUpperName(benchmark::State& state) {
  const std::vector<std::string>& keys = SoughtKeys();
  if (!OpenIndexed()) state.SkipWithError("the index did not open");
  for (auto _ : state) {
    int found = 0;
    for (const std::string& key : keys) found += Seek(key) ? 1 : 0;
    if (found != kSeeks) state.SkipWithError("a key was not found");
  }
  state.counters["seeks/s"] = benchmark::Counter(double(kSeeks), benchmark::Counter::kIsIterationInvariantRate);
  CloseAllAreas();
  EngineShutdown();
}

void BM_BaselineLowerBound(benchmark::State& state) {
  std::vector<std::array<char, 20>> sorted = UpperNames();
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::array<char, 20>> keys;
  for (const std::string& k : SoughtKeys()) {
    std::array<char, 20> a;
    std::memcpy(a.data(), k.data(), 20);
    keys.push_back(a);
  }
  for (auto _ : state) {
    int found = 0;
    for (const auto& key : keys) {
      auto it = std::lower_bound(sorted.begin(), sorted.end(), key);
      found += it != sorted.end() && *it == key;
    }
    benchmark::DoNotOptimize(found);
  }
  state.counters["seeks/s"] = benchmark::Counter(double(kSeeks), benchmark::Counter::kIsIterationInvariantRate);
}

// The whole table walked with Skip(1), in key order or in natural order.
void Walk(benchmark::State& state, bool key_order) {
  if (!OpenIndexed()) state.SkipWithError("the index did not open");
  if (!key_order) Set_Order_To(0);
  for (auto _ : state) {
    int32_t seen = 0;
    for (GoTop(); !Eof(); Skip(1)) ++seen;
    if (seen != kRecords) state.SkipWithError("the walk missed records");
  }
  state.counters["records/s"] = benchmark::Counter(double(kRecords), benchmark::Counter::kIsIterationInvariantRate);
  CloseAllAreas();
  EngineShutdown();
}

void BM_WalkKeyOrder(benchmark::State& state) { Walk(state, true); }
void BM_WalkNaturalOrder(benchmark::State& state) { Walk(state, false); }

BENCHMARK(BM_BaselineLowerBound)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SeekUpperName)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WalkNaturalOrder)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_WalkKeyOrder)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BaselineUpperName)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MakeIndexUpperName)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BaselineAmount)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MakeIndexAmount)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_BaselineBorn)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_MakeIndexBorn)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace zedra

int main(int argc, char** argv) { return zedra::RunAndRemoveTable(argc, argv); }
