// Pack (dropping deleted records) and Zap (emptying a table).
#include "table/commands.h"

#include "base/errors.h"

#include "table/rewrite.h"
#include "table/table_internal.h"

namespace zedra {

namespace {

bool NeedExclusive(DbfArea& area, const char* op) {
  if (area.exclusive) return true;
  SetError(225, area.file_name + " [" + std::string(op) + "]");
  return false;
}

void AfterRewrite() {
  if (ErrorCode() == 0 && IndexActive() && IndexHookTable().Reindex) IndexHookTable().Reindex();
  if (ErrorCode() == 0) GoTop();
}

}  // namespace

bool Pack(bool force, int32_t* dropped_memos) {
  if (dropped_memos) *dropped_memos = 0;
  if (AreaNotInUse("Pack")) return false;
  Errors().ErrorCode = 0;
  DbfArea& area = *CurrentArea();
  if (!NeedExclusive(area, "Pack")) return false;
  if (!IndexKeptInStep(bool(IndexHookTable().Reindex), "Pack")) return false;
  DropPeekCache(area);
  RewriteOptions options;
  options.drop_deleted = true;
  options.pack_memos = area.has_memo;
  options.force = force;
  options.operation = "Pack";
  if (!RewriteTable(area, options, dropped_memos)) return false;
  AfterRewrite();
  return ErrorCode() == 0;
}

bool Zap() {
  if (AreaNotInUse("Zap")) return false;
  Errors().ErrorCode = 0;
  DbfArea& area = *CurrentArea();
  if (!NeedExclusive(area, "Zap")) return false;
  if (!IndexKeptInStep(bool(IndexHookTable().Reindex), "Zap")) return false;
  DropPeekCache(area);
  RewriteOptions options;
  options.drop_all = true;
  options.operation = "Zap";
  if (!RewriteTable(area, options)) return false;
  AfterRewrite();
  return ErrorCode() == 0;
}
}  // namespace zedra
