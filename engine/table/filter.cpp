// The table filter (SET FILTER) and SET DELETED.
#include "table/commands.h"

#include "base/errors.h"

#include "table/table_internal.h"

namespace zedra {

bool SetFilter(const std::string& text) {
  if (AreaNotInUse("SetFilter")) return false;
  DbfArea& area = *CurrentArea();
  ExprHooks& ex = ExprHookTable();
  if (area.FilterExpression && ex.ReleaseExpr) ex.ReleaseExpr(area.FilterExpression);
  area.FilterExpression = nullptr;
  if (AllTrim(text).empty()) return true;
  if (!ex.ExpressionsAvailable || !ex.AssignExpr || !ex.Evaluate) {
    SetError(220, "Expressions are not available, so the filter cannot be set: " + text + " [SetFilter]");
    return false;
  }
  Errors().ErrorCode = 0;
  CompiledExpr* expr = ex.AssignExpr(text);
  if (!expr) {
    if (ErrorCode() == 0) SetError(220, "Filter does not compile: " + text + " [SetFilter]");
    return false;
  }
  if (ex.ExprType && ex.ExprType(expr) != 'L') {
    if (ex.ReleaseExpr) ex.ReleaseExpr(expr);
    SetError(220, "Filter is not a logical expression: " + text + " [SetFilter]");
    return false;
  }
  CurrentArea()->FilterExpression = expr;
  return true;
}

void SetDeleted(bool on) {
  if (AreaNotInUse("SetDeleted")) return;
  CurrentArea()->HideDeleted = on;
}
}  // namespace zedra
