// Putting orders back on the table's current record: SyncIndex after a move by record
// number, and SoftSyncIndex after another program changed the index.
#include <cstring>

#include "base/errors.h"
#include "expr/expr.h"
#include "index/index.h"
#include "index/index_internal.h"
#include "index/semaphore.h"

namespace zedra {
namespace {

constexpr uint16_t kErrNotInIndex = 212;

using KeyCopy = std::array<uint8_t, mdx::kMaxKeyLength + 1>;

int32_t EntryRecord(const TagControl& tag) { return int32_t(GetLE32(tag.current_entry)); }

// The current record's key of the order, copied out of the key maker's buffer.
KeyCopy RecordKey(int order) {
  KeyCopy key{};
  if (const uint8_t* k = BuildKey(order))
    std::memcpy(key.data(), k, std::min<size_t>(OrderAt(order)->KeyLength(), mdx::kMaxKeyLength));
  return key;
}

std::string KeyForMessage(const TagControl& tag, const KeyCopy& key, bool trimmed) {
  std::string text = KeyBytesText(key.data(), tag.KeyType(), tag.KeyLength());
  if (trimmed)
    while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

bool SameKey(const TagControl& tag, const KeyCopy& key) {
  return tag.comparator(key.data(), tag.current_entry + 4, tag.KeyLength()) == 0;
}

// Steps forward over the entries equal to the key until one is the record's; false when
// the key changes or the order ends first.
bool StepToRecord(TagControl& tag, int order, const KeyCopy& key, int32_t record) {
  while (EntryRecord(tag) != record) {
    StepNext(order);
    if (tag.eof || !SameKey(tag, key)) return false;
  }
  return true;
}

// Natural order is off and the navigated order is set while the orders are searched; both
// come back however the work ends.
class NavigationScope {
 public:
  NavigationScope() : natural_(CurrentAreaIndex().natural_order), navigated_(Indexes().navigated_order) {
    CurrentAreaIndex().natural_order = false;
  }
  ~NavigationScope() {
    CurrentAreaIndex().natural_order = natural_;
    Indexes().navigated_order = navigated_;
  }
  NavigationScope(const NavigationScope&) = delete;
  NavigationScope& operator=(const NavigationScope&) = delete;
  bool natural() const { return natural_; }

 private:
  bool natural_;
  int navigated_;
};

}  // namespace

bool SatisfiesFor(TagControl& tag) {
  if (!tag.for_condition) return true;
  const auto* ok = static_cast<const int32_t*>(Evaluate(tag.for_condition));
  return ok && *ok != 0;
}

void SyncIndex(bool all) {
  DbfArea* area = CurrentArea();
  if (!area) return;
  int32_t r = area->current_record;
  CheckIndexUpdates();
  NavigationScope scope;
  IndexState& s = Indexes();
  for (int order = 1; order <= (all ? mdx::kMaxTags : 1); ++order) {
    TagControl* tag = OrderAt(order);
    if (!tag) continue;
    s.navigated_order = order;
    if (r < 1 || r > area->record_count || !SatisfiesFor(*tag)) {
      FindEdgeRec(order, true);
      if (order == 1 && !scope.natural()) {
        Dbf4Go(area->record_count + 1);
        if ((area = CurrentArea()) == nullptr) return;
        tag->eof = true;
        GetNode(-1, 1);
        r = area->current_record;
      }
      continue;
    }
    const KeyCopy key = RecordKey(order);
    CheckIndexUpdates();
    SeekKey(order, key.data());
    if (!s.found) {
      SetError(kErrNotInIndex, "Key: \"" + KeyForMessage(*tag, key, true) + "\" not in index: " +
                                   TagDescription(order) + ". [SyncIndex-1] Record: " + std::to_string(r));
      return;
    }
    if (!tag->Unique() && !StepToRecord(*tag, order, key, r)) {
      SetError(kErrNotInIndex, "Record with key: \"" + KeyForMessage(*tag, key, false) +
                                   "\" not in index: " + TagDescription(order) + ". [SyncIndex-2]");
      return;
    }
    tag->current_key = key;
  }
}

void SoftSyncIndex() {
  TagControl* tag = OrderAt(1);
  DbfArea* area = CurrentArea();
  if (!tag || !area) return;
  const int32_t r = area->current_record;
  const KeyCopy key = RecordKey(1);
  SeekKey(1, key.data());
  if (Indexes().found && (tag->Unique() || StepToRecord(*tag, 1, key, r))) return;
  if (!SatisfiesFor(*tag)) return;
  SetError(kErrNotInIndex, "Record with key: \"" + KeyForMessage(*tag, key, true) + "\" not in index: " +
                               TagDescription(1) + ". [SoftSyncIndex]");
}

void SoftSyncCheck() {
  const bool changed = CheckIndexUpdates();
  if (!TakePendingResync() && !changed) return;
  DbfArea* area = CurrentArea();
  if (!area) return;
  // Records another program appended count from here on.
  RefreshRecCount(*area);
  Dbf4RawGo(area->current_record);
  if ((area = CurrentArea()) == nullptr) return;
  if (area->current_record > area->record_count) {
    FindEdgeRec(1, true);
    Dbf4Go(area->record_count + 1);
    if (TagControl* tag = OrderAt(1)) {
      tag->eof = true;
      GetNode(-1, 1);
    }
    return;
  }
  if (!CurrentAreaIndex().natural_order) SoftSyncIndex();
}

}  // namespace zedra
