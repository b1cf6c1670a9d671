// Inserting a key into one order's B-tree: the leaf insertion, splitting full nodes from
// the leaf upwards (SplitNode), the entries for the two halves in each parent, a new root
// when the root splits, and order 1 moved onto the new key afterwards.
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

// What travels up the tree during one insertion.
struct Insertion {
  KeyBytes pending{};        // the key to insert at this level
  KeyBytes left{};           // the greatest key of the left half after a split
  int32_t pending_pointer = 0;
  int32_t left_block = 0;
  int32_t landing_node = 0;  // where the record's key went in the leaf level
  int landing_index = -1;
};

[[noreturn]] void RaiseCorrupt(int order, const std::string& what) {
  index::RaiseCorrupt(order, what, "AppendIndex");
}

using index::SetEntryKey;

// The entry for the new right half goes in beside the entry (slot) of the node that was
// split: that entry gets the left half's greatest key, the new one follows it. When the
// split node was the rightmost child, the trailing slot turns into an ordinary entry.
void InsertBesideSlot(const TagControl& tag, uint8_t* node, int slot, const Insertion& in) {
  const int n = NodeKeys(node);
  if (slot == n) {
    SetEntryKey(tag, NodeEntry(tag, node, n), in.left.data());
    uint8_t* trailing = NodeEntry(tag, node, n + 1);
    std::memset(trailing, 0, 4);
    PutLE32(trailing, uint32_t(in.pending_pointer));
    index::SetNodeKeys(node, n + 1);
  } else {
    SetEntryKey(tag, NodeEntry(tag, node, slot), in.left.data());
    index::InsertEntry(tag, node, slot + 1, in.pending_pointer, in.pending.data());
  }
}

int InteriorSlot(int order, const TagControl& tag, uint8_t* node, const Insertion& in) {
  const int slot = index::SlotOfChild(tag, node, in.left_block, index::LowerBound(tag, node, in.pending.data()));
  if (slot < 0) RaiseCorrupt(order, "Node " + std::to_string(in.left_block) + " has no entry in its parent");
  return slot;
}

// Leaf: which half takes the key and where.
void InsertIntoLeafHalves(const TagControl& tag, uint8_t* left, int32_t left_block, uint8_t* right,
                          int32_t right_block, Insertion& in) {
  const uint8_t* key = in.pending.data();
  const int nl = NodeKeys(left), nr = NodeKeys(right);
  const size_t length = tag.KeyLength();
  uint8_t* half;
  int at;
  if (tag.comparator(key, NodeEntry(tag, right, nr - 1) + 4, length) > 0) {
    half = right;
    at = nr;
  } else if (tag.comparator(key, NodeEntry(tag, left, nl - 1) + 4, length) <= 0) {
    half = left;
    at = index::LowerBound(tag, left, key);
  } else {
    half = right;
    at = index::LowerBound(tag, right, key);
  }
  index::InsertEntry(tag, half, at, in.pending_pointer, key);
  in.landing_node = half == left ? left_block : right_block;
  in.landing_index = at;
}

void InsertIntoInteriorHalves(int order, const TagControl& tag, uint8_t* left, uint8_t* right,
                              const Insertion& in) {
  const int nl = NodeKeys(left);
  const int in_left = index::SlotOfChild(tag, left, in.left_block, 0);
  if (in_left >= 0 && in_left < nl) {
    InsertBesideSlot(tag, left, in_left, in);
  } else if (in_left == nl) {
    // The split node hangs from the left half's trailing pointer: the right half
    // follows it, at the front of the new node.
    index::InsertEntry(tag, right, 0, in.pending_pointer, in.pending.data());
  } else {
    const int in_right = index::SlotOfChild(tag, right, in.left_block, 0);
    if (in_right < 0) RaiseCorrupt(order, "Node " + std::to_string(in.left_block) + " has no entry in its parent");
    InsertBesideSlot(tag, right, in_right, in);
  }
}

void MakeNewRoot(int order, TagControl& tag, const Insertion& in) {
  std::array<uint8_t, mdx::kNodeSize> root{};
  const int32_t block = index::NewNodeBlock(order);
  uint8_t* entry = NodeEntry(tag, root.data(), 0);
  PutLE32(entry, uint32_t(in.left_block));
  SetEntryKey(tag, entry, in.left.data());
  PutLE32(NodeEntry(tag, root.data(), 1), uint32_t(in.pending_pointer));
  index::SetNodeKeys(root.data(), 1);
  index::WriteNode(order, block, root.data());
  PutLE32(tag.anchor.data() + mdx::kAncRoot, uint32_t(block));
  tag.anchor_changed = true;
}

// The insertion proper; raises its failures.
void Insert(const uint8_t* key, int order) {
  TagControl& tag = *OrderAt(order);
  IndexState& s = Indexes();
  if (tag.MaxKeys() < 2 || tag.MaxKeys() > mdx::kNodeEntrySpace / tag.EntryLength())
    RaiseCorrupt(order, "The anchor's key count per node is impossible");
  Insertion in;
  KeyBytes sought{};
  std::memcpy(sought.data(), key, tag.KeyLength());
  in.pending = sought;
  in.pending_pointer = CurrentArea()->current_record;

  s.navigated_order = order;
  s.insert_mode = true;
  SeekKey(order, sought.data());
  s.insert_mode = false;
  if (s.found && tag.Unique()) return;

  int32_t block = tag.current_node_number;
  uint8_t* node = tag.current_node;
  int index = tag.current_index;
  bool leaf = true, split = false;
  for (;;) {
    index::CheckNodeCount(order, block, node);
    const int n = NodeKeys(node);
    if (index::NodeHasRoom(tag, n)) {
      if (leaf) {
        index::InsertEntry(tag, node, index, in.pending_pointer, in.pending.data());
        in.landing_node = block;
        in.landing_index = index;
      } else {
        InsertBesideSlot(tag, node, InteriorSlot(order, tag, node, in), in);
      }
      index::WriteNode(order, block, node);
      break;
    }
    split = true;
    auto right = SplitNode(order, node, leaf);
    if (!right) {
      SetError(index::kErrMemory, " [AppendIndex]");
      throw EZedraError(Errors().PendingMessage);
    }
    const int32_t right_block = index::NewNodeBlock(order);
    if (leaf) InsertIntoLeafHalves(tag, node, block, right->data(), right_block, in);
    else InsertIntoInteriorHalves(order, tag, node, right->data(), in);
    index::WriteNode(order, block, node);
    index::WriteNode(order, right_block, right->data());
    index::GreatestKeyUnder(order, right->data(), in.pending.data());
    index::GreatestKeyUnder(order, node, in.left.data());
    in.pending_pointer = right_block;
    in.left_block = block;
    if (block == tag.Root()) {
      MakeNewRoot(order, tag, in);
      break;
    }
    const int32_t parent = PopPath(order);
    if (parent == 0) RaiseCorrupt(order, "Node " + std::to_string(block) + " is not reached from the root");
    GetNode(parent, order);
    if (ErrorCode() != 0) throw EZedraError(Errors().PendingMessage);
    block = parent;
    node = tag.current_node;
    leaf = false;
  }
  tag.anchor_changed = true;
  WriteAnchor(order);

  if (order == 1 && in.landing_index >= 0 && !split) {
    // No split: the path still leads to the leaf that took the key.
    tag.current_index = in.landing_index;
    tag.current_entry = NodeEntry(tag, node, in.landing_index);
    tag.current_key = sought;
    tag.bof = tag.eof = false;
    s.found = true;
  } else if (order == 1 && in.landing_index >= 0) {
    SeekKey(1, sought.data());
    for (int guard = 0; !tag.eof && guard <= CurrentArea()->record_count; ++guard) {
      if (tag.current_node_number == in.landing_node && tag.current_index == in.landing_index) break;
      StepNext(1);
    }
  }
}

}  // namespace

std::optional<std::array<uint8_t, mdx::kNodeSize>> SplitNode(int order, uint8_t* node, bool leaf) {
  if (LargestFreeBlock() < int32_t(mdx::kNodeSize)) return std::nullopt;
  const TagControl& tag = *OrderAt(order);
  std::array<uint8_t, mdx::kNodeSize> right{};
  const int n = NodeKeys(node);
  const int b = n / 2;
  const size_t e = tag.EntryLength();
  std::memcpy(NodeEntry(tag, right.data(), 0), NodeEntry(tag, node, n - b), size_t(b) * e + 4);
  index::SetNodeKeys(right.data(), b);
  int kept = n - b;
  if (!leaf) {
    // The last remaining entry's child becomes the trailing pointer; its key drops out.
    --kept;
    std::memset(NodeEntry(tag, node, kept) + 4, 0, e - 4);
    std::memset(NodeEntry(tag, node, kept + 1), 0, mdx::kNodeSize - (mdx::kNodeEntries + size_t(kept + 1) * e));
  } else {
    std::memset(NodeEntry(tag, node, kept), 0, mdx::kNodeSize - (mdx::kNodeEntries + size_t(kept) * e));
  }
  index::SetNodeKeys(node, kept);
  return right;
}

int AppendIndex(const uint8_t* key, int order) {
  TagControl* tag = OrderAt(order);
  DbfArea* area = CurrentArea();
  if (!tag || !area || !key) return -1;
  return index::TreeChange(order, [&] {
    if (!index::SatisfiesFor(*tag)) return 0;
    if (tag->for_condition && tag->anchor[mdx::kAncForHasKeys] == 0) {
      tag->anchor[mdx::kAncForHasKeys] = 1;
      tag->anchor_changed = true;
    }
    Insert(key, order);
    return 0;
  });
}

}  // namespace zedra
