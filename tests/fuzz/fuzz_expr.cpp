// Expression texts of any bytes compiled and evaluated against a small table with every
// field type (a memo included), in every date style. The first byte chooses the style,
// the century setting, the current record and whether the text is only checked.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/dates.h"
#include "base/errors.h"
#include "engine.h"
#include "expr/expr.h"
#include "table/commands.h"
#include "table/hooks.h"

namespace {

std::string table_dir;

bool Setup() {
  zedra::EngineStartup();
  zedra::SetAutoReport(false);
  char pattern[] = "/tmp/fuzz_expr_XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (!dir) std::abort();
  table_dir = dir;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(table_dir, ignored);
  });
  std::string path = std::string(dir) + "/t.dbf";
  if (!zedra::CreateDbf(path, 0x8B,
                        {{"NAME", 'C', 12, 0},
                         {"AMOUNT", 'N', 9, 2},
                         {"BORN", 'D', 8, 0},
                         {"ACTIVE", 'L', 1, 0},
                         {"NOTES", 'M', 10, 0},
                         {"RATE", 'F', 6, 3}}) ||
      !zedra::Use(path, {.exclusive = true}))
    std::abort();
  const char* rows[][4] = {{"Smith", "750.5", "19991231", "T"},
                           {"", "-3", "", "F"},
                           {"M\xfcller x", "1E3", "20240229", "Y"}};
  for (auto& row : rows) {
    zedra::AppendBlank();
    for (int k = 0; k < 4; ++k) zedra::SetFieldText(k + 1, row[k]);
    int32_t block = zedra::MemoHookTable().AddMemo(std::string("line one\r\n") + row[0]);
    char ref[16];
    std::snprintf(ref, sizeof ref, "%10d", block);
    zedra::SetFieldRaw(5, ref);
    zedra::Replace();
  }
  zedra::DeleteRec();
  zedra::Errors().ErrorCode = 0;
  // The table stays open for the whole run in area 1, under its alias T.
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = Setup();
  (void)ready;
  if (size == 0) return 0;
  const uint8_t control = data[0];
  zedra::Dates().CenturyOn = (control & 0x08) != 0;
  zedra::SetDateStyle(control & 0x07 ? (control & 0x07) + (control >> 7) : 0);
  zedra::Goto(1 + ((control >> 4) & 0x03));
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (control & 0x40) {
    (void)zedra::CheckExpression(text, (control & 0x80) != 0);
  } else {
    zedra::CompiledExpr* e = zedra::AssignExpr(text);
    if (e) {
      zedra::Evaluate(e);
      zedra::Evaluate(e);
      (void)zedra::ExprText(e);
      zedra::ReleaseExpr(e);
    }
  }
  zedra::Errors().ErrorCode = 0;
  zedra::Errors().PendingMessage.clear();
  return 0;
}
