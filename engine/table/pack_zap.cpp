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

// A production index that the header names but that is not open would be left naming
// records that moved or vanished: it is opened first, so that the rewrite rebuilds it.
bool ProductionIndexOpen(DbfArea& area, const char* op) {
  if (IndexActive() || area.header[kHdrProductionIndex] == 0) return true;
  const std::string index = ForceExtension(area.file_name, "MDX");
  if (!FilePresent(index)) return true;
  const IndexHooks& ix = IndexHookTable();
  if (ix.OpenProductionIndex && ix.OpenProductionIndex() && IndexActive()) return true;
  SetError(ErrorCode() != 0 ? ErrorCode() : 254,
           "The production index " + index + " cannot be opened to be rebuilt; nothing was changed [" + op + "]");
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
  if (!NeedExclusive(area, "Pack") || !ProductionIndexOpen(area, "Pack")) return false;
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
  if (!NeedExclusive(area, "Zap") || !ProductionIndexOpen(area, "Zap")) return false;
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
