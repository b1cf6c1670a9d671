// The 1,000,000-record table the benchmarks share, written byte by byte in the temporary
// directory on first use: NAME C 20, CITY C 15, AMOUNT N 10.2, BORN D, ACTIVE L (55-byte
// records) with random-looking values. The directory is the caller's to remove.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/files.h"

namespace zedra {

constexpr int32_t kRecords = 1000000;
constexpr size_t kRecordLength = 1 + 20 + 15 + 10 + 8 + 1;
constexpr size_t kHeaderLength = 32 + 5 * 32 + 1;

inline std::string Dir() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path() / ("zedra-ibench-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

// The table written byte by byte: random-looking names, cities, amounts and dates.
inline const std::string& Table() {
  static const std::string path = [] {
    std::string p = Dir() + "/PEOPLE.DBF";
    std::string h(kHeaderLength, '\0');
    auto* b = reinterpret_cast<uint8_t*>(h.data());
    b[0] = 0x03;
    b[1] = 126;
    b[2] = 12;
    b[3] = 9;
    PutLE32(b + 4, kRecords);
    PutLE16(b + 8, kHeaderLength);
    PutLE16(b + 10, kRecordLength);
    const char* names[] = {"NAME", "CITY", "AMOUNT", "BORN", "ACTIVE"};
    const char types[] = {'C', 'C', 'N', 'D', 'L'};
    const uint8_t lengths[] = {20, 15, 10, 8, 1};
    for (int f = 0; f < 5; ++f) {
      std::memcpy(b + 32 + 32 * f, names[f], std::strlen(names[f]));
      b[32 + 32 * f + 11] = uint8_t(types[f]);
      b[32 + 32 * f + 16] = lengths[f];
      b[32 + 32 * f + 17] = f == 2 ? 2 : 0;
    }
    b[kHeaderLength - 1] = 0x0D;
    std::string data = h;
    data.reserve(kHeaderLength + size_t(kRecords) * kRecordLength + 1);
    uint32_t x = 12345;
    auto next = [&] { return x = x * 1103515245u + 12345u; };
    char rec[kRecordLength + 1];
    for (int32_t i = 0; i < kRecords; ++i) {
      char name[21], city[16];
      std::snprintf(name, sizeof name, "%c%c%c%c name %u", 'a' + next() % 26, 'A' + next() % 26,
                    'a' + next() % 26, 'a' + next() % 26, next() % 100000);
      std::snprintf(city, sizeof city, "City %u", next() % 500);
      std::snprintf(rec, sizeof rec, " %-20s%-15s%10.2f%04u%02u%02u%c", name, city,
                    (int32_t(next() % 2000000) - 1000000) / 100.0, 1900 + next() % 120,
                    1 + next() % 12, 1 + next() % 28, next() % 2 ? 'T' : 'F');
      data.append(rec, kRecordLength);
    }
    data += '\x1A';
    FILE* f = std::fopen(p.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    return p;
  }();
  return path;
}

// The benchmark program's main: runs the benchmarks asked for, then removes the directory.
inline int RunAndRemoveTable(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  std::filesystem::remove_all(Dir());
  return 0;
}

}  // namespace zedra
