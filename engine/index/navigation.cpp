// Moving an order through its B-tree: the search in one node, the descent, SeekKey, the
// first and last keys, and the steps to the next and the previous key with the climb
// through the node path.
#include <cstdio>
#include <cstring>

#include "base/errors.h"
#include "expr/expr.h"
#include "index/index.h"
#include "index/index_internal.h"
#include "index/semaphore.h"
#include "table/code_pages.h"

namespace zedra {
namespace {

// More levels than any tree of 1024-byte nodes can have: a deeper walk is a loop.
constexpr int kMaxDepth = 64;

int KeyCount(const TagControl& tag) { return int16_t(GetLE16(tag.current_node + mdx::kNodeCount)); }

uint8_t* EntryAt(TagControl& tag, int i) {
  return tag.current_node + mdx::kNodeEntries + size_t(i) * tag.EntryLength();
}

int32_t Pointer(const uint8_t* entry) { return int32_t(GetLE32(entry)); }

// The current node's key count, checked against the node's space; -1 after raising 222.
int CheckedCount(TagControl& tag, int order) {
  const int n = KeyCount(tag);
  const uint32_t e = tag.EntryLength();
  if (n < 0 || e < 8 || mdx::kNodeEntries + uint32_t(n) * e + 4 > mdx::kNodeSize) {
    RaiseError(index::kErrCorrupt, "Node " + std::to_string(tag.current_node_number) +
                                       " holds an impossible key count: " + TagDescription(order) +
                                       " [GetNode]");
    return -1;
  }
  return n;
}

bool IsLeaf(TagControl& tag, int n) { return Pointer(EntryAt(tag, n)) == 0; }

// GetNode and add_path; raises the failure recorded.
void Enter(int32_t node, int order) {
  GetNode(node, order);
  if (ErrorCode() == 0) add_path(node, order);
  if (ErrorCode() != 0) RaiseError(ErrorCode(), Errors().PendingMessage);
}

void SetCurrent(TagControl& tag, int i) {
  tag.current_index = i;
  tag.current_entry = EntryAt(tag, i);
}

void CopyCurrentKey(TagControl& tag) {
  tag.current_key.fill(0);
  std::memcpy(tag.current_key.data(), tag.current_entry + 4,
              std::min<size_t>(tag.KeyLength(), mdx::kMaxKeyLength));
}

// Follows entry 0 (or the trailing pointer with last) from the current node to a leaf,
// pushing each node; the leaf's first (last) entry becomes current.
void DescendToEdge(TagControl& tag, int order, bool last) {
  for (int depth = 0;; ++depth) {
    const int n = CheckedCount(tag, order);
    if (IsLeaf(tag, n)) break;
    if (depth > kMaxDepth) {
      RaiseError(index::kErrCorrupt, "The tree loops: " + TagDescription(order) + " [GetNode]");
    }
    Enter(Pointer(EntryAt(tag, last ? n : 0)), order);
  }
  const int n = CheckedCount(tag, order);
  SetCurrent(tag, last ? std::max(n - 1, 0) : 0);
}

bool EmptyForOrder(const TagControl& tag) {
  return tag.for_condition && tag.anchor[mdx::kAncForHasKeys] == 0;
}

int32_t RecordCount() {
  const DbfArea* area = CurrentArea();
  return area ? area->record_count : 0;
}

}  // namespace

int FindKeyInNode(int order, const uint8_t* key) {
  TagControl& tag = *OrderAt(order);
  const int n = CheckedCount(tag, order);
  const size_t length = tag.KeyLength();
  int status;
  if (n == 0) {
    status = -1;
  } else if (int c = tag.comparator(key, EntryAt(tag, 0) + 4, length); c <= 0) {
    status = c < 0 ? -1 : 0;
  } else if (tag.comparator(key, EntryAt(tag, n - 1) + 4, length) > 0) {
    status = -2;
  } else {
    int low = 1, high = n - 1;
    while (low < high) {
      const int mid = (low + high) / 2;
      if (tag.comparator(key, EntryAt(tag, mid) + 4, length) > 0) low = mid + 1;
      else high = mid;
    }
    status = low;
  }
  SetCurrent(tag, status == -2 ? n : status < 0 ? 0 : status);
  Indexes().search_status = status;
  return status;
}

void SeekKey(int order, const uint8_t* key) {
  Errors().ErrorCode = 0;
  TagControl& tag = *OrderAt(order);
  IndexState& s = Indexes();
  if (RecordCount() == 0 || EmptyForOrder(tag)) {
    FindEdgeRec(order, false);
    return;
  }
  tag.bof = tag.eof = false;
  ResetPath(order);
  Enter(tag.Root(), order);
  int status;
  for (int depth = 0;; ++depth) {
    status = FindKeyInNode(order, key);
    const int n = KeyCount(tag);
    if (IsLeaf(tag, n)) break;
    const int32_t child = Pointer(tag.current_entry);
    if (child == 0) break;
    if (depth > kMaxDepth)
      RaiseError(index::kErrCorrupt, "The tree loops: " + TagDescription(order) + " [SeekKey]");
    Enter(child, order);
  }
  const int n = KeyCount(tag);
  if (status == -1) {
    SetCurrent(tag, 0);
    s.found = false;
    return;
  }
  if (status == -2) {
    if (s.insert_mode) {
      SetCurrent(tag, n);
      s.found = false;
      return;
    }
    SetCurrent(tag, std::max(n - 1, 0));
    StepNext(order);
    if (tag.eof) {
      SetCurrent(tag, KeyCount(tag));
      s.found = false;
      return;
    }
  }
  const uint8_t* stored = tag.current_entry + 4;
  switch (tag.KeyType()) {
    case 'N':
    case 'F':
      s.found = CompareNumericKeys(key, stored, tag.KeyLength()) == 0;
      break;
    case 'D': s.found = CompareDateKeys(key, stored, tag.KeyLength()) == 0; break;
    default: s.found = std::memcmp(key, stored, tag.KeyLength()) == 0;
  }
  if (s.found) CopyCurrentKey(tag);
}

int32_t FindEdgeRec(int order, bool last) {
  IndexState& s = Indexes();
  s.found = false;
  TagControl* tag = OrderAt(order);
  const DbfArea* area = CurrentArea();
  if (!tag || !area) {
    RaiseError(index::kErrIndexNotOpen,
               "Index not open. (DBF=" + (area ? area->file_name : std::string()) +
                   ") [_FindFirst/LastRec]");
    return 0;
  }
  CheckIndexUpdates();
  ResetPath(order);
  Enter(tag->Root(), order);
  if (CheckedCount(*tag, order) == 0) {
    tag->bof = tag->eof = true;
    SetCurrent(*tag, 0);
    return area->record_count + 1;
  }
  DescendToEdge(*tag, order, last);
  tag->bof = tag->eof = false;
  s.found = true;
  CopyCurrentKey(*tag);
  return Pointer(tag->current_entry);
}

int32_t Top(int order) {
  if (CurrentAreaIndex().natural_order) {
    Indexes().found = RecordCount() != 0;
    return 1;
  }
  return FindEdgeRec(order, false);
}

int32_t Bottom(int order) {
  if (CurrentAreaIndex().natural_order) {
    Indexes().found = RecordCount() != 0;
    return std::max(RecordCount(), 1);
  }
  return FindEdgeRec(order, true);
}

bool CheckIndexUpdates() {
  // Another program's change, published through the semaphore file: the anchors it may
  // have moved are read again.
  if (!TakeSemaphoreUpdate()) return false;
  ReadAnchorNodes();
  return true;
}

namespace {

// The climb of a step: from the leaf on the path top to the next (previous) leaf. False
// when the root is passed.
bool Climb(TagControl& tag, int order, bool forward) {
  int32_t child = tag.current_node_number;
  for (int depth = 0;; ++depth) {
    const int32_t parent = PopPath(order);
    if (parent == 0) return false;
    if (depth > kMaxDepth) RaiseError(index::kErrCorrupt, "The tree loops: " + TagDescription(order));
    GetNode(parent, order);
    if (ErrorCode() != 0) RaiseError(ErrorCode(), Errors().PendingMessage);
    const int n = CheckedCount(tag, order);
    int at = -1;
    for (int i = 0; i <= n; ++i)
      if (Pointer(EntryAt(tag, i)) == child) { at = i; break; }
    if (at < 0) {
      RaiseError(index::kErrCorrupt, "Node " + std::to_string(child) + " is not a child of node " +
                                         std::to_string(parent) + ": " + TagDescription(order));
    }
    if (forward ? at < n : at > 0) {
      Enter(Pointer(EntryAt(tag, forward ? at + 1 : at - 1)), order);
      DescendToEdge(tag, order, !forward);
      return true;
    }
    child = parent;
  }
}

// Re-finds the order's current entry after another order used the shared path.
void Reseek(TagControl& tag, int order, int32_t b, bool forward) {
  std::array<uint8_t, mdx::kMaxKeyLength + 1> key = tag.current_key;
  SeekKey(order, key.data());
  if (tag.eof) {
    FindEdgeRec(order, true);
    return;
  }
  while (Pointer(tag.current_entry) != b && !tag.eof) StepNext(order);
  if (tag.eof) {
    SetError(index::kErrInternal, forward ? " [_FindNextRec]" : " [_FindPriorRec]");
    key = tag.current_key;
    SeekKey(order, key.data());
  }
}

}  // namespace

int32_t StepNext(int order) {
  IndexState& s = Indexes();
  TagControl& tag = *OrderAt(order);
  s.found = false;
  if (RecordCount() == 0 || EmptyForOrder(tag)) {
    tag.bof = tag.eof = true;
    return RecordCount() + 1;
  }
  tag.bof = false;
  if (tag.eof) {
    const int32_t r = FindEdgeRec(order, true);
    GetNode(-1, order);
    tag.eof = true;
    s.found = false;
    return r;
  }
  const int32_t b = Pointer(tag.current_entry);
  if (tag.path_base && tag.path_base->owner != PathOwner(order)) Reseek(tag, order, b, true);
  if (tag.current_index + 1 < CheckedCount(tag, order)) {
    SetCurrent(tag, tag.current_index + 1);
  } else if (!Climb(tag, order, true)) {
    if (b == 0) {
      tag.eof = true;
    } else {
      const int32_t r = FindEdgeRec(order, true);
      if (r == b) tag.eof = true;
    }
    return Pointer(tag.current_entry);
  }
  s.found = !tag.eof;
  CopyCurrentKey(tag);
  return Pointer(tag.current_entry);
}

int32_t StepPrior(int order) {
  IndexState& s = Indexes();
  TagControl& tag = *OrderAt(order);
  s.found = false;
  if (RecordCount() == 0 || EmptyForOrder(tag)) {
    tag.bof = tag.eof = true;
    return RecordCount() + 1;
  }
  // Past the end (EOF set, or no position) the step back reaches the last key.
  const bool past_end = tag.eof;
  tag.eof = false;
  if (past_end || Pointer(tag.current_entry) == -1) return FindEdgeRec(order, true);
  if (tag.bof) return Pointer(tag.current_entry);
  const int32_t b = Pointer(tag.current_entry);
  if (tag.path_base && tag.path_base->owner != PathOwner(order)) Reseek(tag, order, b, false);
  if (tag.current_index > 0) {
    SetCurrent(tag, tag.current_index - 1);
  } else if (!Climb(tag, order, false)) {
    const int32_t r = FindEdgeRec(order, false);
    if (r == b) tag.bof = true;
    return Pointer(tag.current_entry);
  }
  s.found = !tag.bof;
  CopyCurrentKey(tag);
  return Pointer(tag.current_entry);
}

int32_t _FindNextRec() {
  Indexes().found = false;
  SoftSyncCheck();
  const DbfArea* area = CurrentArea();
  if (area && CurrentAreaIndex().natural_order) {
    Indexes().found = false;
    const int32_t r = area->current_record;
    if (r < area->record_count) return r + 1;
    CurrentArea()->at_end = true;
    return r;
  }
  return StepNext(Indexes().navigated_order);
}

int32_t _FindPriorRec() {
  Indexes().found = false;
  SoftSyncCheck();
  const DbfArea* area = CurrentArea();
  if (area && CurrentAreaIndex().natural_order) {
    Indexes().found = false;
    const int32_t r = area->current_record;
    if (r > 1) return r - 1;
    CurrentArea()->at_start = true;
    return r;
  }
  return StepPrior(Indexes().navigated_order);
}

}  // namespace zedra

namespace zedra {
namespace {

// Seeks the key in the controlling order and moves the table to the first visible record
// from there; found when that record's key matches the first `match` bytes.
bool SeekAndMove(const uint8_t* key, size_t match) {
  DbfArea* area = CurrentArea();
  TagControl* tag = area ? OrderAt(1) : nullptr;
  if (!tag) {
    SetError(index::kErrIndexNotOpen, "Index not open. (DBF=" +
                                          (area ? area->file_name : std::string()) + ") [Seek]");
    return false;
  }
  IndexState& s = Indexes();
  try {
    IndexReadBracket bracket;
    CheckIndexUpdates();
    RefreshRecCount(*area);
    SeekKey(1, key);
    int32_t r = tag->eof ? 0 : int32_t(GetLE32(tag->current_entry));
    while (r > 0 && r <= area->record_count) {
      Dbf4Go(r);
      if ((area = CurrentArea()) == nullptr || ErrorCode() != 0) return false;
      if (RecordVisible()) break;
      r = StepNext(1);
      if (tag->eof) r = 0;
    }
    if (r <= 0 || r > area->record_count) {
      Dbf4Go(area->record_count + 1);
      if ((area = CurrentArea()) != nullptr) area->at_end = true;
      tag->eof = true;
      s.found = false;
      return false;
    }
    const uint8_t* stored = tag->current_entry + 4;
    switch (tag->KeyType()) {
      case 'N':
      case 'F': s.found = CompareNumericKeys(key, stored, match) == 0; break;
      case 'D': s.found = CompareDateKeys(key, stored, match) == 0; break;
      default: s.found = std::memcmp(key, stored, match) == 0;
    }
  } catch (const EZedraError&) {
    s.found = false;
  }
  return s.found;
}

}  // namespace

bool Seek(const std::string& value) {
  TagControl* tag = CurrentArea() ? OrderAt(1) : nullptr;
  if (!tag || tag->KeyType() != 'C') return SeekAndMove(nullptr, 0);
  std::array<uint8_t, mdx::kMaxKeyLength + 1> key{};
  // A shorter value is sought as a prefix: the rest of the key sorts before every byte
  // in ascending order and after every byte in descending order.
  if (tag->descending) std::fill(key.begin(), key.begin() + tag->KeyLength(), uint8_t(0xFF));
  const size_t match = std::min<size_t>(value.size(), tag->KeyLength());
  std::memcpy(key.data(), value.data(), match);
  // The keys of an OEM table are in its DOS code page, as the key maker stores them.
  if (CurrentArea()->oem) AreaAnsiToOem(*CurrentArea(), std::span(key.data(), match));
  return SeekAndMove(key.data(), match == 0 ? tag->KeyLength() : match);
}

bool Seek(double value) {
  TagControl* tag = CurrentArea() ? OrderAt(1) : nullptr;
  if (!tag) return SeekAndMove(nullptr, 0);
  std::array<uint8_t, mdx::kMaxKeyLength + 1> key{};
  if (tag->KeyType() == 'D') {
    std::memcpy(key.data(), &value, sizeof value);
  } else {
    const int decimals = tag->key_expression ? tag->key_expression->decimals : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    const mdx::NumericKeyBytes numeric = mdx::NumericKey(text);
    std::memcpy(key.data(), numeric.data(), numeric.size());
  }
  return SeekAndMove(key.data(), tag->KeyLength());
}

}  // namespace zedra
