// Version bytes and field names of the DBF format.
#include "table/dbf_format.h"

#include "table/work_area.h"

namespace zedra {

bool IsDbfVersion(uint8_t v) {
  switch (v) {
    case kVersionDbase2:
    case kVersionDbase3:
    case kVersionPlain4:
    case kVersionDbase3Memo:
    case kVersionDbase4Memo:
    case kVersionDbase4Memo2:
    case kVersionFptMemo:
      return true;
    default:
      break;
  }
  const TableState& t = Tables();
  return (t.ExtraVersion1 != 0 && v == t.ExtraVersion1) ||
         (t.ExtraVersion2 != 0 && v == t.ExtraVersion2);
}

bool IsMemoKind(uint8_t v) {
  return v == kVersionDbase3Memo || v == kVersionDbase4Memo || v == kVersionDbase4Memo2 ||
         v == kVersionFptMemo;
}

uint8_t MemoKindOf(uint8_t v) { return IsMemoKind(v) ? v : Tables().DefaultMemoKind; }

std::string MemoFileExt(uint8_t v) {
  auto fpt = [](uint8_t k) { return k == kVersionFptMemo || k == kVersionFoxBase; };
  // 0x30 is not a version the engine opens, but its memo file is an FPT file all the same.
  if (fpt(v)) return "FPT";
  if (IsDbfVersion(v)) return "DBT";
  return fpt(Tables().DefaultMemoKind) ? "FPT" : "DBT";
}

bool IsDbase2Kind(uint8_t v) {
  return v == kVersionDbase2 && Tables().ExtraVersion1 == 0 && Tables().ExtraVersion2 == 0;
}

std::string FieldDesc::Name() const {
  std::string n;
  for (char c : name) {
    if (c == '\0') break;
    n.push_back(c);
  }
  return n;
}

}  // namespace zedra
