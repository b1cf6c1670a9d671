// Attaching an index file to the table of the current area: SetIndexTo, the checks of
// the open, each tag made an order (OpenTag), the order slots with the controlling tag in
// slot 1, and closing orders again.
#include <cstring>

#include "base/errors.h"
#include "expr/expr.h"
#include "index/index.h"
#include "index/index_internal.h"
#include "index/semaphore.h"

namespace zedra {
namespace {

constexpr uint16_t kErrBadOrder = 220;

bool SharedArea() {
  const DbfArea* area = CurrentArea();
  return area && Tables().LockingOn && !area->exclusive;
}

std::string TableName() {
  const DbfArea* area = CurrentArea();
  return area ? area->file_name : std::string();
}

// Blanks and tabs removed and letters upper-cased outside quoted strings; both quote
// characters become ".
std::string NormalisedExpression(const uint8_t* text, size_t size) {
  std::string out;
  char quote = 0;
  for (size_t i = 0; i < size && text[i] != 0; ++i) {
    char c = char(text[i]);
    if (quote) {
      if (c == quote) {
        quote = 0;
        c = '"';
      }
      out += c;
      continue;
    }
    if (c == '\'' || c == '"') {
      quote = c;
      out += '"';
    } else if (c != ' ' && c != '\t') {
      out += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    }
  }
  return out;
}

// Closing goes on after a failed logout; its error stays the engine's last.
void LogOutOfSemaphore() {
  try {
    HandleSemafore(kLogout);
  } catch (const EZedraError& e) {
    KeepCaught(e);
  }
}

// The failure of OpenTag turned into the open's message.
[[noreturn]] void RaiseOpenFailure(uint16_t code, const std::string& name) {
  CurrentAreaIndex().file.file.Close();
  switch (code) {
    case index::kErrMemory: RaiseError(code, "Insufficient memory to open index: " + name); break;
    case index::kErrKeyLength: RaiseError(code, "Incorrect key length: Must be 1 to 100. " + name); break;
    default: RaiseError(index::kErrCorrupt, "Invalid dBASE key expression or corrupted index file " + name);
  }
  throw EZedraError(Errors().PendingMessage);
}

void OpenIndexFile(const std::string& name) {
  AreaIndex& a = CurrentAreaIndex();
  IndexFile& f = a.file;
  DbfArea& area = *CurrentArea();
  SettlePendingAppend(area);  // the index is to see every record in the file
  f.header.assign(mdx::kHeaderAreaSize, 0);
  f.header_changed = false;
  f.name = name;
  uint32_t mode = platform::kModeReadWrite;
  if (SharedArea()) mode = platform::kModeReadWriteShared;
  if (Indexes().file_share_mode != -1) mode = uint32_t(Indexes().file_share_mode);
  f.read_only = (area.file.mode() & 7) == 0;
  if (f.read_only) mode &= ~uint32_t(7);  // a read-only table
  if (uint32_t error = f.file.Open(name, mode); error != 0) {
    f.header.clear();
    RaiseError(uint16_t(error), "Unable to open index: " + name);
    throw EZedraError(Errors().PendingMessage);
  }
  uint32_t size_error = 0;
  const uint64_t size = f.file.Size(&size_error);
  if (size_error != 0 || size < mdx::kMinFileSize ||
      f.file.ReadAt(0, f.header) != 0 || f.header[mdx::kHdrTagCount] > mdx::kMaxTags) {
    f.header.clear();
    f.file.Close();
    RaiseError(index::kErrCorrupt, "Unable to open index: " + name);
    throw EZedraError(Errors().PendingMessage);
  }
  PutLE32(a.no_position.data(), 0xFFFFFFFFu);
  if (!a.cache.slots.empty()) {
    f.file.Close();
    RaiseError(index::kErrInternal, "Internal error: Cache already allocated ");
    throw EZedraError(Errors().PendingMessage);
  }
  IndexState& s = Indexes();
  if (s.path_users == 0 && !s.path_base) s.path_base = std::make_unique<PathChunk>();
  ++s.path_users;
  for (int k = 1; k <= f.TagCount(); ++k) {
    if (uint16_t code = OpenTag(k); code != 0) RaiseOpenFailure(code, name);
  }
}

void ReadCurrentRecord(DbfArea& area) {
  if (area.current_record >= 1 && area.current_record <= area.record_count)
    Dbf4RawGo(area.current_record);
}

// Compiles a stored key or FOR text in its normalised form; a text the normalised form
// spoils (the lexer reads ".NOT.X" only with the blank kept) is compiled as stored.
CompiledExpr* CompileStored(const uint8_t* text) {
  const std::string normalised = NormalisedExpression(text, mdx::kExprSize);
  if (normalised.empty()) return nullptr;
  if (CompiledExpr* expr = AssignExpr(normalised)) return expr;
  Errors().ErrorCode = 0;
  const char* stored = reinterpret_cast<const char*>(text);
  return AssignExpr(std::string(stored, strnlen(stored, mdx::kMaxExprChars)));
}

}  // namespace

uint16_t OpenTag(int k) {
  AreaIndex& a = CurrentAreaIndex();
  Errors().ErrorCode = 0;
  if (!ReadTagAnchor(k, k)) return index::kErrCorrupt;
  TagControl& tag = *a.orders[k];
  auto fail = [&](uint16_t code) {
    index::ReleaseTag(a.orders[k]);
    Errors().ErrorCode = 0;
    return code;
  };
  tag.key_expression = CompileStored(tag.anchor.data() + mdx::kAncKeyExpr);
  if (!tag.key_expression) return fail(index::kErrCorrupt);
  if (!NormalisedExpression(tag.anchor.data() + mdx::kAncForExpr, mdx::kExprSize).empty()) {
    tag.for_condition = CompileStored(tag.anchor.data() + mdx::kAncForExpr);
    if (!tag.for_condition) return fail(index::kErrCorrupt);
  }
  const char type = ExprType(tag.key_expression);
  tag.key_maker = KeyMakerFor(type);
  tag.anchor[mdx::kAncKeyType] = uint8_t(type);
  tag.descending = (tag.anchor[mdx::kAncFlags] & mdx::kFlagDescending) != 0;
  tag.comparator = ComparatorFor(type, tag.descending);
  if (!tag.comparator || !tag.key_maker) return fail(index::kErrCorrupt);
  const uint16_t length = tag.KeyLength();
  const uint16_t needed = type == 'C' ? 1 : type == 'D' ? mdx::kDateKeyLength : mdx::kNumericKeyLength;
  if (length < needed || length > mdx::kMaxKeyLength || tag.EntryLength() < length + 4 ||
      tag.EntryLength() > mdx::kNodeEntrySpace)
    return fail(type == 'C' ? index::kErrKeyLength : index::kErrCorrupt);
  tag.character_key = type == 'C';
  tag.current_node = tag.node_buffer.data();
  if (k == 1) {
    tag.path_base = tag.path_top = Indexes().path_base.get();
    ResetPath(1);
    SetIndexCache(0);
  }
  DbfArea& area = *CurrentArea();
  try {
    if (area.record_count > 0) {
      if (k == 1) {
        int32_t r = FindEdgeRec(1, false);
        if (r > 0 && r <= area.record_count) {
          Dbf4Go(r);
          while (!RecordVisible() && !tag.eof && ErrorCode() == 0) {
            r = StepNext(1);
            if (!tag.eof) Dbf4Go(r);
          }
        } else {
          FindEdgeRec(1, true);
          Dbf4Go(area.record_count + 1);
          tag.eof = true;
          GetNode(-1, 1);
        }
      }
      if (type == 'C') {
        const int32_t here = area.current_record;
        Dbf4Go(area.record_count + 1);
        const uint8_t* blank = tag.key_maker(tag);
        const bool fits = blank && strnlen(reinterpret_cast<const char*>(blank), kMaxText + 1) == length;
        Dbf4Go(here);
        if (!fits) return fail(index::kErrKeyLength);
      }
      if (const uint8_t* current = tag.key_maker(tag)) {
        tag.current_key.fill(0);
        std::memcpy(tag.current_key.data(), current, length);
      }
    } else {
      tag.bof = tag.eof = true;
      tag.current_key.fill(0);
      if (type == 'C') std::memset(tag.current_key.data(), ' ', length);
      tag.node_buffer.fill(0);
      tag.current_node = tag.node_buffer.data();
      tag.current_index = 0;
      tag.current_entry = tag.current_node + mdx::kNodeEntries;
      if (k == 1) {
        tag.current_node_number = tag.Root();
        add_path(tag.Root(), 1);
      }
    }
  } catch (const EZedraError&) {
    const uint16_t code = ErrorCode();
    return fail(code == index::kErrMemory ? code : index::kErrCorrupt);
  }
  if (ErrorCode() != 0) return fail(ErrorCode() == index::kErrMemory ? index::kErrMemory : index::kErrCorrupt);
  return 0;
}

bool SetIndexTo(const std::string& name) {
  if (AreaNotInUse("SetIndexTo")) return false;
  // Found without regard to case, as the table is.
  const std::string full = platform::ResolveCase(IndexFileName(name));
  CloseIndexes();
  if (!FilePresent(full)) {
    SetError(index::kErrFileNotFound, "SetIndexTo(" + full + ")");
    return false;
  }
  IndexState& s = Indexes();
  if (SharedArea()) s.cache_off = true;
  if (s.file_share_mode == -1 || (s.file_share_mode & 0x40) != 0) {
    try {
      HandleSemafore(kLogin);
    } catch (const EZedraError& e) {
      KeepCaught(e);
    }
    if (ErrorCode() != 0) return false;
  }
  uint16_t code = 0;
  std::string message;
  {
    AutoReportScope quiet(false);
    message.clear();
    try {
      IndexReadBracket bracket;
      OpenIndexFile(full);
    } catch (const EZedraError& e) {
      KeepCaught(e);
    }
    code = ErrorCode();
    message = Errors().PendingMessage;
    if (code != 0) CloseIndexes();
  }
  if (code != 0) {
    SetError(code, message);
    return false;
  }
  return true;
}

int CurrentOrder() {
  if (AreaNotInUse("CurrentOrder")) return 0;
  AreaIndex& a = CurrentAreaIndex();
  if (a.natural_order || !a.orders[1]) return 0;
  return a.orders[1]->tag_number;
}

namespace {

void MakeControlling(int n) {
  AreaIndex& a = CurrentAreaIndex();
  DbfArea& area = *CurrentArea();
  a.natural_order = false;
  if (area.record_count > 0) ReadCurrentRecord(area);
  const int present = CurrentOrder();
  if (n == present) return;
  const int incoming_slot = n == 1 ? present : n;
  if (incoming_slot < 1 || !a.orders[size_t(incoming_slot)]) {
    RaiseError(index::kErrIndexNotOpen, "Index not open.. (DBF=" + area.file_name +
                                            ") [Set_Order_To(" + std::to_string(n) + ")]");
    return;
  }
  const bool outgoing_eof = a.orders[1]->eof;
  PathChunk* base = a.orders[1]->path_base;
  PathChunk* top = a.orders[1]->path_top;
  if (present != 1) std::swap(a.orders[1], a.orders[size_t(present)]);
  if (n != 1) std::swap(a.orders[1], a.orders[size_t(n)]);
  TagControl& incoming = *a.orders[1];
  incoming.path_base = base;
  incoming.path_top = top;
  if (base) base->owner = 0;
  if (!SharedArea()) {
    if (incoming.current_node && incoming.current_node != incoming.node_buffer.data())
      std::memcpy(incoming.node_buffer.data(), incoming.current_node, mdx::kNodeSize);
    incoming.current_node = incoming.node_buffer.data();
    if (incoming.current_entry != a.no_position.data())
      incoming.current_entry = incoming.current_node + mdx::kNodeEntries +
                               size_t(incoming.current_index) * incoming.EntryLength();
    a.cache.Empty();
  }
  IndexState& s = Indexes();
  s.navigated_order = s.key_order = 1;
  if (area.record_count > 0) {
    if (outgoing_eof) {
      FindEdgeRec(1, true);
      Dbf4Go(area.record_count + 1);
      incoming.eof = true;
      GetNode(-1, 1);
    }
  }
}

}  // namespace

void SetIndexShareMode(int mode) { Indexes().file_share_mode = mode; }

void Set_Order_To(int n) {
  if (AreaNotInUse("Set_Order_To")) return;
  AreaIndex& a = CurrentAreaIndex();
  const std::string call = "Set_Order_To(" + std::to_string(n) + ")";
  if (!a.file.file.IsOpen()) {
    SetError(index::kErrIndexNotOpen, "Index not open. (DBF=" + TableName() + ") [" + call + "]");
    return;
  }
  Errors().ErrorCode = 0;
  AutoReportScope quiet(false);
  try {
    if (n < 0 || n > a.file.TagCount()) {
      RaiseError(kErrBadOrder, "Invalid Index Order Specified: SET_ORDER_TO. [" + call +
                                   "] (DBF=" + TableName() + ")");
      return;
    }
    if (n == 0) {
      a.natural_order = true;
      return;
    }
    const bool found = Indexes().found;
    IndexReadBracket bracket;
    MakeControlling(n);
    if (CurrentArea()->record_count > 0 && !OrderAt(1)->eof) SyncIndex(true);
    Indexes().found = found;
  } catch (const EZedraError& e) {
    KeepCaught(e);
  }
}

bool SetOrderToTag(const std::string& name) {
  if (AreaNotInUse("SetOrderToTag")) return false;
  std::string n = name.substr(0, mdx::kTagNameChars);
  while (!n.empty() && uint8_t(n.back()) <= ' ') n.pop_back();
  while (!n.empty() && uint8_t(n.front()) <= ' ') n.erase(n.begin());
  AreaIndex& a = CurrentAreaIndex();
  const std::string call = "SetOrderToTag(" + n + ")";
  if (!a.file.file.IsOpen()) {
    SetError(index::kErrIndexNotOpen, "Index not open. (DBF=" + TableName() + ") [" + call + "]");
    return false;
  }
  if (n.empty()) {
    Set_Order_To(0);
    return true;
  }
  const std::string upper = UpperText(n);
  for (int k = 1; k <= a.file.TagCount(); ++k) {
    const char* tag_name = reinterpret_cast<const char*>(a.file.Entry(k) + mdx::kTagName);
    if (strnlen(tag_name, mdx::kTagNameChars) >= upper.size() &&
        std::memcmp(tag_name, upper.data(), upper.size()) == 0) {
      Set_Order_To(k);
      return ErrorCode() == 0;
    }
  }
  AutoReportScope quiet(false);
  try {
    RaiseError(kErrBadOrder, "Invalid Index Order Specified: SET_ORDER_TO. [" + call +
                                 "] (DBF=" + TableName() + ")");
  } catch (const EZedraError& e) {
    KeepCaught(e);
  }
  return false;
}

void CloseOrder(int slot) {
  AreaIndex& a = CurrentAreaIndex();
  if (slot < 1 || slot > mdx::kMaxTags || !a.orders[size_t(slot)]) return;
  TagControl& tag = *a.orders[size_t(slot)];
  const DbfArea* area = CurrentArea();
  if (tag.anchor_changed && area && !a.file.read_only) {
    const bool exclusive = !area || area->exclusive;
    if (!exclusive) {
      if (uint32_t error = LockRange(false, a.file.file, 0, 1); error != 0) {
        SetError(uint16_t(error), "Could not lock index for writing anchor node " + TagDescription(slot));
        return;
      }
    }
    try {
      WriteAnchor(slot);
    } catch (const EZedraError&) {
    }
    if (!exclusive) {
      if (uint32_t error = LockRange(true, a.file.file, 0, 1); error != 0) {
        SetError(uint16_t(error), "Could not unlock index after writing anchor node " + TagDescription(slot));
        return;
      }
    }
  }
  if (slot == 1) SetIndexCache(0);
  bool others = false;
  for (int k = 1; k <= mdx::kMaxTags; ++k) others = others || (k != slot && a.orders[size_t(k)]);
  const std::string description = TagDescription(slot);
  bool closed = false;
  if (!others) {
    FlushIndexHeader();
    if (uint32_t error = a.file.file.Close(); error != 0)
      SetError(uint16_t(error), "Error closing index file:  " + description);
    closed = true;
  }
  index::ReleaseTag(a.orders[size_t(slot)]);
  IndexState& s = Indexes();
  if (slot == 1 && s.path_users > 0 && --s.path_users == 0) s.path_base.reset();
  if (closed) LogOutOfSemaphore();
}

void CloseIndexes() {
  AreaIndex& a = CurrentAreaIndex();
  a.natural_order = false;
  AutoReportScope quiet(false);
  for (int order = 1; order <= mdx::kMaxTags; ++order) {
    Errors().ErrorCode = 0;
    CloseOrder(order);
  }
  FlushIndexHeader();
  CloseIndexFile();
  LogOutOfSemaphore();
}

}  // namespace zedra
