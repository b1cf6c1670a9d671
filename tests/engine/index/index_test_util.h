// Helpers of the index layer's tests: a clean engine per test, random tables written
// byte by byte, and an independent walk of a tag's tree straight from the file bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/files.h"
#include "engine.h"
#include "index/index.h"
#include "support/temp_dir.h"
#include "table/commands.h"
#include "table/work_area.h"
#include "../table/table_test_util.h"

namespace zedra::testing {

class IndexTest : public TableTest {
 protected:
  void TearDown() override {
    SetMemoryBudget(-1);
    TableTest::TearDown();
  }
};

// One entry of a leaf, as read from the file.
struct LeafEntry {
  uint32_t record;
  std::string key;
};

inline uint32_t LE32(const std::string& s, size_t at) {
  return GetLE32(reinterpret_cast<const uint8_t*>(s.data() + at));
}
inline uint16_t LE16(const std::string& s, size_t at) {
  return GetLE16(reinterpret_cast<const uint8_t*>(s.data() + at));
}

// The entries of tag `k` (1-based) in tree order; walks pointers by the layout only.
inline std::vector<LeafEntry> WalkTag(const std::string& file, int k) {
  std::vector<LeafEntry> out;
  const uint32_t anchor = LE32(file, 512 + 32 * size_t(k));
  const size_t a = size_t(anchor) * 512;
  const uint16_t key_length = LE16(file, a + 12);
  const uint16_t entry = LE16(file, a + 18);
  std::vector<std::pair<uint32_t, int>> stack{{LE32(file, a), 0}};
  std::function<void(uint32_t, int)> visit = [&](uint32_t block, int depth) {
    EXPECT_LT(depth, 20);
    const size_t node = size_t(block) * 512;
    const int n = int16_t(LE16(file, node));
    const uint32_t trailing = LE32(file, node + 8 + size_t(n) * entry);
    for (int i = 0; i < n; ++i) {
      const size_t e = node + 8 + size_t(i) * entry;
      if (trailing == 0)
        out.push_back({LE32(file, e), file.substr(e + 4, key_length)});
      else
        visit(LE32(file, e), depth + 1);
    }
    if (trailing != 0) visit(trailing, depth + 1);
  };
  visit(LE32(file, a), 0);
  return out;
}

inline std::vector<uint32_t> Records(const std::vector<LeafEntry>& entries) {
  std::vector<uint32_t> r;
  for (const LeafEntry& e : entries) r.push_back(e.record);
  return r;
}

// The record numbers of a tag in the order XBase::Index (another reader) walks it.
inline std::vector<uint32_t> XBaseOrder(const std::string& mdx, const std::string& tag) {
  std::string out;
  EXPECT_EQ(RunCommand("perl " ZEDRA_INDEX_TEST_DIR "/xbase_walk.pl '" + mdx + "' " + tag, &out), 0) << out;
  std::vector<uint32_t> records;
  std::istringstream in(out);
  for (uint32_t r; in >> r;) records.push_back(r);
  return records;
}

}  // namespace zedra::testing
