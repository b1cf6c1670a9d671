// Helpers of the memo layer's tests: a clean engine per test and tables with a memo
// field made through the engine.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/files.h"
#include "engine.h"
#include "engine/table/table_test_util.h"
#include "memo/memo.h"
#include "support/temp_dir.h"
#include "table/commands.h"
#include "table/work_area.h"

namespace zedra::testing {

// The block number field 2 of the current record holds.
inline int32_t MemoRefOfField(int k = 2) {
  std::string raw = FieldRaw(k);
  return int32_t(std::strtol(raw.c_str(), nullptr, 10));
}

class MemoTest : public TableTest {
 protected:
  // Creates NAME C(10), NOTES M and opens it in the current area.
  bool MakeTable(const std::string& name, uint8_t version, bool exclusive = true) {
    if (!CreateDbf(File(name), version, {{"NAME", 'C', 10, 0}, {"NOTES", 'M', 10, 0}}))
      return false;
    UseOptions o;
    o.exclusive = exclusive;
    return Use(File(name), o);
  }
  // Appends a record whose memo holds text; its block number.
  int32_t AddRecord(const std::string& text) {
    EXPECT_TRUE(AppendBlank());
    EXPECT_TRUE(ReplaceMemo(2, text)) << TakeError();
    EXPECT_TRUE(Replace());
    return MemoRefOfField();
  }
  std::string MemoPath(const std::string& table, const std::string& ext) {
    return ForceExtension(File(table), ext);
  }
};

}  // namespace zedra::testing

