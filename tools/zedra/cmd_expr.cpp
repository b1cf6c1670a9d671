// zedra eval: compiles an expression, evaluates it on a table's record (or on no table),
// and prints its type, width, decimals and value; or prints CheckExpression's code (and,
// for a text that does not compile, the error).
#include <cstdio>
#include <ostream>

#include "base/dates.h"
#include "base/errors.h"
#include "cli.h"
#include "expr/day_numbers.h"
#include "expr/expr.h"
#include "table/code_pages.h"
#include "table/commands.h"

namespace zedra::cli {
namespace {

// The value as the tool prints it: C and M as they are (in UTF-8 through the table's
// code page when a table is open; memo texts are in its stored form), N with the
// expression's decimals in fixed notation, D as YYYYMMDD (8 blanks when blank), L as .T.
// or .F.
std::string ValueText(const CompiledExpr& e) {
  const DbfArea* area = CurrentArea();
  switch (e.type) {
    case 'C':
      return area ? TextToUtf8(*area, ResultText(e)) : std::string(ResultText(e));
    case 'M':
      return area ? StoredTextToUtf8(*area, ResultText(e)) : std::string(ResultText(e));
    case 'N': {
      double v = ResultNumber(e);
      int length = std::snprintf(nullptr, 0, "%.*f", int(e.decimals), v);
      std::string text(size_t(length > 0 ? length : 0), '\0');
      std::snprintf(text.data(), text.size() + 1, "%.*f", int(e.decimals), v);
      return text;
    }
    case 'D': return DayToDtos(ResultNumber(e));
    default: return ResultLogical(e) ? ".T." : ".F.";
  }
}

}  // namespace

int CmdEval(const Args& args, std::ostream& out, std::ostream& err) {
  const Command& command = *FindCommand("eval");
  if (args.positional.size() != 1)
    return UsageError(command, "one expression is needed (after \"--\" when it begins with \"-\")",
                      err);
  std::string text = args.positional[0];

  if (args.Has("--century")) Dates().CenturyOn = true;
  if (args.Has("--style")) {
    long long style;
    if (!ParseInt(args.Value("--style"), &style) || style < 0 || style > 8)
      return UsageError(command, "--style takes a number from 0 to 8", err);
    SetDateStyle(int(style));
  } else {
    SetDateStyle(Dates().DateStyle);
  }

  if (args.Has("--table")) {
    UseOptions read_only = OpenOptions();
    read_only.read_only = true;  // evaluating reads the table and its memos, nothing more
    if (!Use(args.Value("--table"), read_only)) {
      int status = ReportEngineFailure(err);
      return status ? status : 1;
    }
    if (args.Has("--record")) {
      long long n;
      if (!ParseInt(args.Value("--record"), &n) || n < 1 || n > 2147483647) {
        CloseAllAreas();
        return UsageError(command, "--record takes a record number from 1", err);
      }
      Goto(int32_t(n));
    } else {
      GoTop();
    }
    if (ErrorCode() != 0) {
      int status = ReportEngineFailure(err);
      CloseAllAreas();
      return status;
    }
    if (!TableTextOf(command, text, "the expression", &text, err)) {
      CloseAllAreas();
      return 1;
    }
  } else if (args.Has("--record")) {
    return UsageError(command, "--record needs --table", err);
  }

  // A check names the fields of the table as an evaluation does. A text that does not
  // compile is reported as an evaluation reports it, after its code.
  if (args.Has("--check")) {
    std::string t = text;
    const int code = CheckExpression(t, args.Has("--key"));
    out << code << "\n";
    int status = 0;
    if (code != 0 && (code < 359 || code > 362)) {
      out.flush();
      CompiledExpr* again = AssignExpr(t);
      ReleaseExpr(again);
      status = ReportEngineFailure(err);
    }
    CloseAllAreas();
    return status;
  }

  CompiledExpr* e = AssignExpr(text);
  if (!e) {
    int status = ReportEngineFailure(err);
    CloseAllAreas();
    return status ? status : 1;
  }
  if (!Evaluate(e)) {
    // A failed evaluation has no value to print.
    ReleaseExpr(e);
    int status = ReportEngineFailure(err);
    CloseAllAreas();
    return status ? status : 1;
  }
  out << e->type << '\t' << e->width << '\t' << int(e->decimals) << '\t' << ValueText(*e)
      << "\n";
  ReleaseExpr(e);
  // An error met while evaluating (a division by zero) is reported after the value.
  int status = ReportEngineFailure(err);
  CloseAllAreas();
  return status;
}

}  // namespace zedra::cli
