// Keeping the open orders of a work area in step with its records: the keys of a new
// record added to every order (AppendNewKey, undone in the orders already done when one
// fails), the keys of a rewritten record moved (CompareKeys), the current keys refreshed
// after a move (RefreshKeys), and the index layer's entries for these.
#include <cstring>

#include "base/errors.h"
#include "expr/expr.h"
#include "index/index_internal.h"
#include "index/node_edit.h"
#include "table/hooks.h"

namespace zedra {
namespace {

using KeyBytes = std::array<uint8_t, mdx::kMaxKeyLength + 1>;

// The keys of a record as it stood before a rewrite, read from the file: the record
// number and, per order, the key and whether the record belonged to the order.
struct KeysBefore {
  uint8_t area = 0;
  int32_t record = 0;
  std::array<KeyBytes, mdx::kTagEntries> keys{};
  std::array<bool, mdx::kTagEntries> member{};
};
KeysBefore before;

// Clears the natural-order flag while the orders are changed; puts it back on every path.
class NaturalOrderOff {
 public:
  NaturalOrderOff() : flag_(CurrentAreaIndex().natural_order), saved_(flag_) { flag_ = false; }
  ~NaturalOrderOff() { CurrentAreaIndex().natural_order = saved_; }
  NaturalOrderOff(const NaturalOrderOff&) = delete;
  NaturalOrderOff& operator=(const NaturalOrderOff&) = delete;

 private:
  bool& flag_;
  bool saved_;
};

// The current record's key for the order (zeros when the key cannot be made).
KeyBytes RecordKey(int order) {
  KeyBytes key{};
  TagControl& tag = *OrderAt(order);
  Indexes().key_order = order;
  if (const uint8_t* made = tag.key_maker ? tag.key_maker(tag) : nullptr)
    std::memcpy(key.data(), made, tag.KeyLength());
  return key;
}

// Order 1 is positioned on the current record (after an insertion it is on the new key).
bool OnCurrentRecord() {
  const TagControl* first = OrderAt(1);
  const DbfArea* area = CurrentArea();
  return first && area && !first->eof && first->current_node_number > 0 &&
         int32_t(GetLE32(first->current_entry)) == area->current_record;
}

void AfterChange() {
  FlushIndexHeader();
  if (!OnCurrentRecord() && IndexHookTable().SyncToRecord) IndexHookTable().SyncToRecord();
}

// Runs a change of the orders with failures recorded quietly, then records the first one
// again under the caller's reporting settings.
template <typename F>
void Reported(F change) {
  uint16_t code = 0;
  std::string message;
  {
    AutoReportScope quiet(false);
    Errors().ErrorCode = 0;
    try {
      change();
    } catch (const EZedraError& e) {
      index::KeepRaised(e);
    }
    code = ErrorCode();
    message = Errors().PendingMessage;
  }
  if (code != 0) SetError(code, message);
}

}  // namespace

void AppendNewKey() {
  DbfArea* area = CurrentArea();
  if (!area) return;
  {
    NaturalOrderOff natural;
    CheckIndexUpdates();
    int failed = 0;
    for (int k = 1; k <= mdx::kMaxTags && failed == 0; ++k) {
      if (!OrderAt(k)) continue;
      const KeyBytes key = RecordKey(k);
      if (AppendIndex(key.data(), k) == -1) failed = k;
    }
    if (failed != 0) {
      const uint16_t code = ErrorCode();
      const std::string message = Errors().PendingMessage;
      for (int k = failed - 1; k >= 1; --k) {
        if (!OrderAt(k)) continue;
        const KeyBytes key = RecordKey(k);
        if (DeleteKey(key.data(), k, area->record_count) == -1) {
          SetError(index::kErrInternal, "Index file corrupted. " + TagDescription(k) + " [AppendNewKey]");
          break;
        }
        Errors().ErrorCode = code;
        Errors().PendingMessage = message;
      }
    }
  }
  const uint16_t code = ErrorCode();
  const std::string message = Errors().PendingMessage;
  AfterChange();
  RefreshKeys(false, 1);
  if (code != 0) {
    Errors().ErrorCode = code;
    Errors().PendingMessage = message;
  }
}

void NoteKeysBeforeReplace() {
  before.record = 0;
  DbfArea* area = CurrentArea();
  if (!area || area->is_virtual) return;
  const int32_t n = area->current_record;
  if (n < 1 || n > area->record_count) return;
  std::vector<uint8_t> old(area->record_length);
  if (area->file.ReadAt(area->RecordOffset(n), old) != 0) return;
  TranslateRecord(*area, old, false);
  area->record.swap(old);
  for (int k = 1; k <= mdx::kMaxTags; ++k) {
    TagControl* tag = OrderAt(k);
    if (!tag) continue;
    before.member[size_t(k)] = index::SatisfiesFor(*tag);
    before.keys[size_t(k)] = RecordKey(k);
  }
  area->record.swap(old);
  Errors().ErrorCode = 0;
  before.area = CurrentAreaNumber();
  before.record = n;
}

void CompareKeys() {
  DbfArea* area = CurrentArea();
  if (!area) return;
  const int32_t r = area->current_record;
  const bool known = before.record == r && before.area == CurrentAreaNumber();
  before.record = 0;
  {
    NaturalOrderOff natural;
    IndexState& s = Indexes();
    for (int k = 1; k <= mdx::kMaxTags; ++k) {
      TagControl* tag = OrderAt(k);
      if (!tag) continue;
      const KeyBytes key = RecordKey(k);
      const bool member = index::SatisfiesFor(*tag);
      KeyBytes old{};
      bool old_member = true;
      if (known) {
        old = before.keys[size_t(k)];
        old_member = before.member[size_t(k)];
      } else {
        // Without the record as it stood, the order's current entry holds its old key.
        if (int32_t(GetLE32(tag->current_entry)) != r && !tag->Unique()) {
          SetError(index::kErrInternal, "Record number " + std::to_string(r) + " not found in index. " +
                                            TagDescription(k) + " [CompareKeys]");
          return;
        }
        std::memcpy(old.data(), tag->current_entry + 4, tag->KeyLength());
      }
      const bool moved = std::memcmp(old.data(), key.data(), tag->KeyLength()) != 0;
      if (known ? (old_member == member && (!member || !moved)) : (!moved && member && !tag->for_condition))
        continue;
      const int navigated = s.navigated_order;
      s.navigated_order = k;
      int result = 0;
      if (old_member) result = DeleteKey(old.data(), k, r);
      s.navigated_order = navigated;
      if (result == -1) {
        if (ErrorCode() == 0)
          SetError(index::kErrInternal, "Record number " + std::to_string(r) + " not found in index. " +
                                            TagDescription(k) + " [CompareKeys]");
        return;
      }
      if (member && AppendIndex(key.data(), k) == -1) return;
      tag->current_key = key;
    }
  }
  TagControl* first = OrderAt(1);
  FlushIndexHeader();
  if (first && first->for_condition && IndexHookTable().SyncToRecord) IndexHookTable().SyncToRecord();
  RefreshKeys(false, 1);
}

void RefreshKeys(bool position, int count) {
  DbfArea* area = CurrentArea();
  if (!area) return;
  AreaIndex& a = CurrentAreaIndex();
  const bool none = area->current_record == 0 || area->record_count == 0;
  for (int k = 1; k <= std::min(count, mdx::kMaxTags); ++k) {
    TagControl* tag = OrderAt(k);
    if (!tag) continue;
    KeyBytes key{};
    if (none) {
      if (tag->character_key) std::memset(key.data(), ' ', tag->KeyLength());
    } else {
      key = RecordKey(k);
    }
    tag->current_key = key;
    // Order 1 is positioned on the record's own entry by the caller; the other orders
    // keep the record's number and key in an entry of their own node buffer.
    if (!position || k == 1) continue;
    uint8_t* own = tag->node_buffer.data();
    if (tag->current_entry == a.no_position.data() || !tag->current_entry ||
        tag->current_entry < own + mdx::kNodeEntries || tag->current_entry >= own + mdx::kNodeSize - 4 - tag->KeyLength())
      tag->current_entry = own + mdx::kNodeEntries;
    PutLE32(tag->current_entry, uint32_t(none ? 0 : area->current_record));
    std::memcpy(tag->current_entry + 4, key.data(), tag->KeyLength());
  }
}

void InstallMaintenanceHooks(IndexHooks& hooks) {
  hooks.RecordAppended = [] { Reported([] { AppendNewKey(); }); };
  hooks.RecordToBeReplaced = [] { NoteKeysBeforeReplace(); };
  hooks.RecordReplaced = [] { Reported([] { CompareKeys(); }); };
  hooks.RefreshKeys = [] { RefreshKeys(false, 1); };
  std::function<void()> reached = hooks.RecordReached;
  hooks.RecordReached = [reached] {
    if (reached) reached();
    RefreshKeys(true, mdx::kMaxTags);
  };
}

}  // namespace zedra
