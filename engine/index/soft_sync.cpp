// Finding the controlling order's place again after another program changed the index:
// the check at the start of every step and SoftSyncIndex itself.
#include <array>
#include <cstring>

#include "base/errors.h"
#include "expr/expr.h"
#include "index/index.h"
#include "index/semaphore.h"

namespace zedra {

void SoftSyncCheck() {
  const uint8_t n = CurrentAreaNumber();
  bool changed = CheckIndexUpdates();
  if (n < kWorkAreas && Semaphores().resync_pending[n]) {
    Semaphores().resync_pending[n] = false;
    changed = true;
  }
  DbfArea* area = CurrentArea();
  TagControl* tag = OrderAt(1);
  if (!changed || !area || !tag) return;
  // Records another program appended count from here on.
  RefreshRecCount(*area);
  const int32_t here = area->current_record;
  if (here >= 1 && here <= area->record_count) Dbf4RawGo(here);
  if (ErrorCode() != 0) return;
  if (here > area->record_count) {
    Bottom(1);
    Dbf4RawGo(area->record_count + 1);
    tag->eof = true;
    GetNode(-1, 1);
    return;
  }
  if (here >= 1 && !CurrentAreaIndex().natural_order) SoftSyncIndex();
}

void SoftSyncIndex() {
  TagControl* tag = OrderAt(1);
  const DbfArea* area = CurrentArea();
  if (!tag || !area) return;
  const int32_t here = area->current_record;
  const uint16_t length = tag->KeyLength();
  std::array<uint8_t, mdx::kMaxKeyLength + 1> key{};
  const uint8_t* built = BuildKey(1);
  if (!built) return;
  std::memcpy(key.data(), built, length);
  SeekKey(1, key.data());
  IndexState& s = Indexes();
  if (s.found) {
    if (tag->Unique()) return;
    for (;;) {
      if (int32_t(GetLE32(tag->current_entry)) == here) return;
      StepNext(1);
      if (tag->eof || tag->comparator(key.data(), tag->current_entry + 4, length) != 0) break;
    }
  }
  if (tag->for_condition) {
    const auto* admitted = static_cast<const int32_t*>(Evaluate(tag->for_condition));
    if (!admitted || *admitted == 0) return;
  }
  std::string text = KeyBytesText(key.data(), tag->KeyType(), length);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  SetError(212, "Record with key: \"" + text + "\" not in index: " + TagDescription(1) +
                    ". [SoftSyncIndex]");
}

}  // namespace zedra
