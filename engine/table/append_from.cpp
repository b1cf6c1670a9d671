// AppendFrom: the records of a table open in another work area appended to the current
// one, memo texts included (copied through the memo hook).
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/errors.h"
#include "base/files.h"
#include "table/commands.h"
#include "table/table_internal.h"
#include "table/work_area.h"

namespace zedra {
namespace {

struct FieldPair {
  const FieldDesc* from;
  const FieldDesc* to;
};

// Copies one field's stored bytes into another of the same type: characters cut or
// padded with blanks, numbers right-aligned (blank when they do not fit), every other
// type only at its own length.
void CopyField(const uint8_t* from_rec, const FieldDesc& from, uint8_t* to_rec,
               const FieldDesc& to) {
  std::string_view value(reinterpret_cast<const char*>(from_rec) + from.offset, from.length);
  std::string out(to.length, ' ');
  if (from.type == 'C') {
    out.replace(0, std::min<size_t>(to.length, value.size()), value.substr(0, to.length));
  } else if (from.type == 'N' || from.type == 'F') {
    std::string t = AllTrim(value);
    if (from.length == to.length && from.decimals == to.decimals)
      out.assign(value);
    else if (t.size() <= to.length && from.decimals == to.decimals)
      out.replace(to.length - t.size(), t.size(), t);
  } else if (from.length == to.length) {
    out.assign(value);
  }
  std::memcpy(to_rec + to.offset, out.data(), to.length);
}

}  // namespace

bool AppendFrom(uint8_t source_number) {
  if (AreaNotInUse("AppendFrom")) return false;
  Errors().ErrorCode = 0;
  const uint8_t target_number = CurrentAreaNumber();
  DbfArea* target = CurrentArea();
  DbfArea* source = AreaAt(source_number);
  if (!source || source == target) {
    SetError(215, "No database in use [AppendFrom]  WorkArea = " + std::to_string(source_number));
    return false;
  }
  // Fields are matched by name; a memo field takes its memo along only when the hook is set.
  std::vector<FieldPair> pairs;
  for (const FieldDesc& to : target->fields) {
    for (const FieldDesc& from : source->fields) {
      if (from.Name() == to.Name() && from.type == to.type) {
        pairs.push_back({&from, &to});
        break;
      }
    }
  }
  SetCurrentArea(source_number);
  const int32_t count = RecCount();
  SetCurrentArea(target_number);
  bool ok = true;
  for (int32_t n = 1; n <= count && ok; ++n) {
    GetDbfRecord(*source, n);
    if (ErrorCode() != 0) break;
    if (source->HideDeleted && source->record[0] == kRecordDeleted) continue;
    std::fill(target->record.begin(), target->record.end(), kRecordActive);
    target->record[0] = source->record[0];
    for (const FieldPair& p : pairs) {
      if (p.to->type != 'M') {
        CopyField(source->record.data(), *p.from, target->record.data(), *p.to);
        continue;
      }
      int32_t block = MemoBlockOf(std::string_view(
          reinterpret_cast<const char*>(source->record.data()) + p.from->offset, p.from->length));
      int32_t copied = 0;
      if (block != 0 && source->memo && target->memo && MemoHookTable().CopyMemo)
        copied = MemoHookTable().CopyMemo(source_number, block);
      if (ErrorCode() != 0) {
        ok = false;
        break;
      }
      std::string text = copied == 0 ? std::string() : std::to_string(copied);
      if (text.size() > p.to->length) text.clear();
      text.insert(0, p.to->length - text.size(), ' ');
      std::memcpy(target->record.data() + p.to->offset, text.data(), text.size());
    }
    if (ok) ok = AppendRecord();
  }
  SetCurrentArea(target_number);
  return ok && ErrorCode() == 0;
}

}  // namespace zedra
