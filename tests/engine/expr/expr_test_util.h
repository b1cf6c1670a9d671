// Helpers of the expression layer's tests: a clean engine per test that leaves error
// handling to the test, small tables made through the table layer, and compiling and
// evaluating in one call.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/dates.h"
#include "base/errors.h"
#include "engine.h"
#include "expr/day_numbers.h"
#include "expr/expr.h"
#include "support/temp_dir.h"
#include "table/commands.h"
#include "table/work_area.h"

namespace zedra::testing {

class ExprTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    SetAutoReport(false);
    // Dates as the tests write them: MM/DD/YY, the years 1956 to 2055 for two digits.
    Dates().CenturyOn = false;
    Dates().CenturyBase = 1956;
    SetDateStyle(0);
  }
  void TearDown() override {
    {
      AutoReportScope quiet(false);
      CloseAllAreas();
    }
    EngineShutdown();
  }

  // The last error as "code: message", then cleared.
  std::string TakeError() {
    std::string text = std::to_string(ErrorCode()) + ": " + Errors().PendingMessage;
    Errors().ErrorCode = 0;
    Errors().PendingMessage.clear();
    return text;
  }

  // Creates a table with the given fields and records (each record a list of field
  // values in SetFieldText's forms; a leading "*" entry deletes the record), and opens it
  // exclusively in the current area under `alias` (default: the name).
  void MakeTable(const std::string& name, const std::vector<FieldSpec>& fields,
                 const std::vector<std::vector<std::string>>& records, uint8_t version = 0x03,
                 const std::string& alias = "") {
    std::string path = dir_.File(name + ".dbf");
    ASSERT_TRUE(CreateDbf(path, version, fields)) << TakeError();
    UseOptions options;
    options.alias = alias;
    options.exclusive = true;  // records are rewritten without locks
    ASSERT_TRUE(Use(path, options)) << TakeError();
    for (const auto& values : records) {
      ASSERT_TRUE(AppendBlank()) << TakeError();
      size_t first = 0;
      bool deleted = !values.empty() && values[0] == "*";
      if (deleted) first = 1;
      for (size_t i = first; i < values.size(); ++i)
        ASSERT_TRUE(SetFieldText(int(i - first) + 1, values[i])) << values[i] << " " << TakeError();
      ASSERT_TRUE(Replace()) << TakeError();
      if (deleted) {
        ASSERT_TRUE(DeleteRec()) << TakeError();
      }
    }
    GoTop();
  }

  // Compiles, evaluates and releases; the value as the tool prints it (N with the
  // expression's decimals, D as YYYYMMDD, L as .T./.F.), or "error <code>: <message>".
  std::string Eval(const std::string& text, char* type = nullptr) {
    CompiledExpr* e = AssignExpr(text);
    if (!e) return "error " + TakeError();
    Evaluate(e);
    std::string out;
    if (type) *type = e->type;
    switch (e->type) {
      case 'C':
      case 'M': out = std::string(ResultText(*e)); break;
      case 'N': {
        char buffer[400];
        std::snprintf(buffer, sizeof buffer, "%.*f", int(e->decimals), ResultNumber(*e));
        out = buffer;
        break;
      }
      case 'D': out = DayToDtos(ResultNumber(*e)); break;
      default: out = ResultLogical(*e) ? ".T." : ".F."; break;
    }
    ReleaseExpr(e);
    return out;
  }

  TempDir dir_;
};

}  // namespace zedra::testing
