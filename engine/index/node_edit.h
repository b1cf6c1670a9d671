// Editing node images in memory for the tree changes: the key count, entries, pointers
// and keys of a 1024-byte node, shifting entries to make or close a gap, the lower bound
// of a key, and the greatest key under a child. Nothing here writes the file.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "base/errors.h"
#include "base/files.h"
#include "index/index.h"

namespace zedra::index {

inline int NodeKeys(const uint8_t* node) { return int16_t(GetLE16(node + mdx::kNodeCount)); }
inline void SetNodeKeys(uint8_t* node, int n) { PutLE16(node + mdx::kNodeCount, uint16_t(n)); }

inline uint8_t* NodeEntry(const TagControl& tag, uint8_t* node, int i) {
  return node + mdx::kNodeEntries + size_t(i) * tag.EntryLength();
}
inline int32_t EntryPointer(const uint8_t* entry) { return int32_t(GetLE32(entry)); }

// The slot count a node image can hold without running past its end (keys and the
// trailing pointer); a count beyond it is damage.
inline bool CountFits(const TagControl& tag, int n) {
  return n >= 0 && mdx::kNodeEntries + size_t(n) * tag.EntryLength() + 4 <= mdx::kNodeSize;
}

// Whether a node of n keys takes one more.
inline bool NodeHasRoom(const TagControl& tag, int n) {
  return n < tag.MaxKeys() && 1016 - n * int(tag.EntryLength()) > 3 && CountFits(tag, n + 1);
}

// Sets an entry's key, zero-padded to the entry length.
inline void SetEntryKey(const TagControl& tag, uint8_t* entry, const uint8_t* key) {
  std::memset(entry + 4, 0, tag.EntryLength() - 4u);
  std::memcpy(entry + 4, key, tag.KeyLength());
}

// Opens a gap at entry i of a node of n keys (the trailing pointer moves along) and
// fills it with the pointer and key; the count grows by one.
inline void InsertEntry(const TagControl& tag, uint8_t* node, int i, int32_t pointer, const uint8_t* key) {
  const size_t e = tag.EntryLength();
  const int n = NodeKeys(node);
  uint8_t* at = NodeEntry(tag, node, i);
  std::memmove(at + e, at, size_t(n - i) * e + 4);
  std::memset(at, 0, e);
  PutLE32(at, uint32_t(pointer));
  std::memcpy(at + 4, key, tag.KeyLength());
  SetNodeKeys(node, n + 1);
}

// Closes entry i of a node of n keys (the following entries and the trailing pointer
// move over it); the bytes freed at the end become zero.
inline void RemoveEntry(const TagControl& tag, uint8_t* node, int i) {
  const size_t e = tag.EntryLength();
  const int n = NodeKeys(node);
  uint8_t* at = NodeEntry(tag, node, i);
  std::memmove(at, at + e, size_t(n - i - 1) * e + 4);
  std::memset(NodeEntry(tag, node, n - 1) + 4, 0, e);
  SetNodeKeys(node, n - 1);
}

// The first entry of the node whose key is not less than the key; n when there is none.
inline int LowerBound(const TagControl& tag, uint8_t* node, const uint8_t* key) {
  int low = 0, high = NodeKeys(node);
  while (low < high) {
    const int mid = (low + high) / 2;
    if (tag.comparator(key, NodeEntry(tag, node, mid) + 4, tag.KeyLength()) > 0) low = mid + 1;
    else high = mid;
  }
  return low;
}

// The slot (0..n, n the trailing pointer) of the node that points to the child, looked
// for from `from` on and then from the start; -1 when no slot does.
inline int SlotOfChild(const TagControl& tag, uint8_t* node, int32_t child, int from) {
  const int n = NodeKeys(node);
  for (int i = from; i <= n; ++i)
    if (EntryPointer(NodeEntry(tag, node, i)) == child) return i;
  for (int i = 0; i < from && i <= n; ++i)
    if (EntryPointer(NodeEntry(tag, node, i)) == child) return i;
  return -1;
}

}  // namespace zedra::index

namespace zedra::index {

// A raised failure caught by the tree changes stays the last error with its message
// (the exception's text is the code's text, a line break and the message).
void KeepRaised(const EZedraError& e);

// Whether the current record belongs to the order: no FOR condition, or one that holds
// (one that cannot be evaluated holds no record).
bool SatisfiesFor(TagControl& tag);

// Runs one tree change of an order with failures recorded quietly: its result, or -1
// when it raised (the failure then is the last error). The navigated order and the
// insert mode are the same afterwards.
int TreeChange(int order, const std::function<int()>& change);
// Raises 222 with the problem, the tag and the operation.
[[noreturn]] void RaiseCorrupt(int order, const std::string& what, const char* operation);

// Node I/O of the tree changes; each raises the failure it records.
void ReadNode(int order, int32_t block, uint8_t* image);
// Writes through (SeekAndWrite) and refreshes order 1's cached copy of the block.
void WriteNode(int order, int32_t block, uint8_t* image);
// The block at the end of the index file for a new node; the header's block counter
// becomes that block + 1.
int32_t NewNodeBlock(int order);
// Raises 222 when the image's key count runs past the node.
void CheckNodeCount(int order, int32_t block, const uint8_t* image);
// The greatest key under the node: the last key of the leaf its trailing pointers
// reach (zeros for an empty leaf).
void GreatestKeyUnder(int order, const uint8_t* node, uint8_t* key);

}  // namespace zedra::index
