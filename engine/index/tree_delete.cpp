// Removing a record's key from one order's B-tree: the entry found among its equal keys,
// the leaf closed over it, a changed greatest key carried up into the parents, emptied
// leaves zeroed and unlinked, interior nodes left without keys bypassed, and the tree
// losing a level when its root is left with one child.
#include <cstring>

#include "base/errors.h"
#include "index/index_internal.h"
#include "index/node_edit.h"

namespace zedra {
namespace {

using index::EntryPointer;
using index::NodeEntry;
using index::NodeKeys;

using KeyBytes = std::array<uint8_t, mdx::kMaxKeyLength + 1>;

[[noreturn]] void RaiseCorrupt(int order, const std::string& what) {
  index::RaiseCorrupt(order, what, "DeleteKey");
}

using index::SetEntryKey;

// Makes the parent of `child` current (from the node path); 0 above the root.
int32_t EnterParent(int order) {
  const int32_t parent = PopPath(order);
  if (parent == 0) return 0;
  GetNode(parent, order);
  if (ErrorCode() != 0) throw EZedraError(Errors().PendingMessage);
  index::CheckNodeCount(order, parent, OrderAt(order)->current_node);
  return parent;
}

int SlotOf(int order, TagControl& tag, int32_t child, const uint8_t* key) {
  uint8_t* node = tag.current_node;
  const int slot = index::SlotOfChild(tag, node, child, index::LowerBound(tag, node, key));
  if (slot < 0) RaiseCorrupt(order, "Node " + std::to_string(child) + " has no entry in its parent");
  return slot;
}

// The greatest key under `child` became `key`: the parents' entries follow, up to the
// first one that is an ordinary entry (its key is the bound) or the root.
void ReplaceGreatestKey(int order, TagControl& tag, int32_t child, const uint8_t* key) {
  for (int depth = 0; depth <= 64; ++depth) {
    const int32_t parent = EnterParent(order);
    if (parent == 0) return;
    uint8_t* node = tag.current_node;
    const int slot = SlotOf(order, tag, child, key);
    if (slot < NodeKeys(node)) {
      SetEntryKey(tag, NodeEntry(tag, node, slot), key);
      index::WriteNode(order, parent, node);
      return;
    }
    if (parent == tag.Root()) return;
    child = parent;
  }
  RaiseCorrupt(order, "The tree loops");
}

// Removes the entry of `child` from its parent; `key` is the removed leaf entry's key.
void RemoveChild(int order, TagControl& tag, int32_t child, const uint8_t* key) {
  for (int depth = 0; depth <= 64; ++depth) {
    const int32_t parent = EnterParent(order);
    if (parent == 0) RaiseCorrupt(order, "Node " + std::to_string(child) + " is not reached from the root");
    uint8_t* node = tag.current_node;
    const int n = NodeKeys(node);
    const int slot = SlotOf(order, tag, child, key);
    bool trailing_removed = false;
    if (slot < n) {
      index::RemoveEntry(tag, node, slot);
    } else {
      // The last ordinary entry's child becomes the trailing pointer.
      uint8_t* last = NodeEntry(tag, node, n - 1);
      std::memset(last + 4, 0, tag.EntryLength() - 4u);
      std::memset(NodeEntry(tag, node, n), 0, 4);
      index::SetNodeKeys(node, n - 1);
      trailing_removed = true;
    }
    if (NodeKeys(node) > 0) {
      index::WriteNode(order, parent, node);
      if (trailing_removed && parent != tag.Root()) ReplaceGreatestKey(order, tag, parent, key);
      return;
    }
    const int32_t remaining = EntryPointer(NodeEntry(tag, node, 0));
    if (parent == tag.Root()) {
      PutLE32(tag.anchor.data() + mdx::kAncRoot, uint32_t(remaining));
      tag.anchor_changed = true;
      return;
    }
    // A node without keys is bypassed: its parent's entry points straight at the child
    // that is left, with that child's greatest key.
    index::WriteNode(order, parent, node);
    std::array<uint8_t, mdx::kNodeSize> child_image;
    index::ReadNode(order, remaining, child_image.data());
    KeyBytes greatest{};
    index::GreatestKeyUnder(order, child_image.data(), greatest.data());
    const int32_t grandparent = EnterParent(order);
    if (grandparent == 0) RaiseCorrupt(order, "Node " + std::to_string(parent) + " is not reached from the root");
    uint8_t* upper = tag.current_node;
    const int at = SlotOf(order, tag, parent, key);
    uint8_t* entry = NodeEntry(tag, upper, at);
    PutLE32(entry, uint32_t(remaining));
    if (at < NodeKeys(upper)) SetEntryKey(tag, entry, greatest.data());
    index::WriteNode(order, grandparent, upper);
    return;
  }
  RaiseCorrupt(order, "The tree loops");
}

// The removal proper, from the current entry of the order; raises its failures.
void RemoveCurrent(int order, TagControl& tag) {
  const int32_t block = tag.current_node_number;
  uint8_t* node = tag.current_node;
  const int n = NodeKeys(node);
  const int i = tag.current_index;
  KeyBytes removed{};
  std::memcpy(removed.data(), NodeEntry(tag, node, i) + 4, tag.KeyLength());
  if (n > 1) {
    index::RemoveEntry(tag, node, i);
    index::WriteNode(order, block, node);
    if (i < n - 1 || block == tag.Root()) return;
    KeyBytes last{};
    std::memcpy(last.data(), NodeEntry(tag, node, n - 2) + 4, tag.KeyLength());
    ReplaceGreatestKey(order, tag, block, last.data());
    return;
  }
  std::memset(node, 0, mdx::kNodeSize);
  index::WriteNode(order, block, node);
  if (block == tag.Root()) {
    if (tag.for_condition) {
      tag.anchor[mdx::kAncForHasKeys] = 0;
      tag.anchor_changed = true;
    }
    return;
  }
  RemoveChild(order, tag, block, removed.data());
}

// Finds the target's entry among the keys equal to the key; 1 found, 0 legitimately
// absent, -1 missing.
int FindTarget(int order, TagControl& tag, const uint8_t* key, int32_t target) {
  IndexState& s = Indexes();
  const bool may_lack = tag.for_condition != nullptr || tag.Unique();
  SeekKey(order, key);
  if (!s.found) return may_lack ? 0 : -1;
  const int32_t count = CurrentArea()->record_count;
  for (int32_t step = 0; step <= count; ++step) {
    if (EntryPointer(tag.current_entry) == target) return 1;
    StepNext(order);
    if (tag.eof || tag.comparator(key, tag.current_entry + 4, tag.KeyLength()) != 0)
      return may_lack ? 0 : -1;
  }
  RaiseCorrupt(order, "The keys do not end");
}

}  // namespace

int DeleteKey(const uint8_t* key, int order, int32_t target) {
  TagControl* tag = OrderAt(order);
  if (!tag || !CurrentArea() || !key) return -1;
  KeyBytes sought{};
  std::memcpy(sought.data(), key, tag->KeyLength());
  return index::TreeChange(order, [&] {
    Indexes().insert_mode = false;
    const int found = FindTarget(order, *tag, sought.data(), target);
    if (found == 1) {
      index::CheckNodeCount(order, tag->current_node_number, tag->current_node);
      RemoveCurrent(order, *tag);
      if (tag->anchor_changed) WriteAnchor(order);
    }
    return found;
  });
}

}  // namespace zedra
