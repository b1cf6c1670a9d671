// Node access: node reads and writes, the current node of an order, the shared node
// path, the per-area node cache with its move-one-step-forward rule, and anchors.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "expr/expr.h"
#include "index/index.h"
#include "index/index_internal.h"

namespace zedra {
namespace {

// The level of the order's path chain that holds the block, or nullptr.
uint8_t* PathCopyOf(const TagControl& tag, int32_t block) {
  for (PathChunk* c = tag.path_base; c; c = c->next.get()) {
    for (int level = std::min<int>(c->top, PathChunk::kLevels - 1); level >= 0; --level)
      if (c->nodes[size_t(level)] == block) return c->images[size_t(level)].data();
  }
  return nullptr;
}

uint32_t AnchorBlock(const TagControl& tag) {
  IndexFile& f = *tag.file;
  if (f.header.empty() || tag.tag_number < 1 || tag.tag_number > mdx::kMaxTags) return 0;
  return GetLE32(f.Entry(tag.tag_number) + mdx::kTagAnchor);
}

bool SharedMode() {
  const DbfArea* area = CurrentArea();
  return area && Tables().LockingOn && !area->exclusive;
}

}  // namespace

namespace index {

void ReleaseTag(std::unique_ptr<TagControl>& tag) {
  if (!tag) return;
  if (tag->key_expression) ReleaseExpr(tag->key_expression);
  if (tag->for_condition) ReleaseExpr(tag->for_condition);
  tag.reset();
}

}  // namespace index

uint16_t PathOwner(int order) {
  const IndexFile& f = CurrentAreaIndex().file;
  return uint16_t(uint32_t(f.file.handle()) + 256u * uint32_t(order));
}

bool SeekAndRead(int order, int32_t block, uint8_t* image) {
  TagControl* tag = OrderAt(order);
  if (!tag || !tag->file) return false;
  if (const uint8_t* copy = PathCopyOf(*tag, block)) {
    std::memmove(image, copy, mdx::kNodeSize);
    return true;
  }
  std::array<uint8_t, mdx::kNodeSize> node;
  uint32_t error = block < 0 ? platform::kErrInvalidParameter
                             : tag->file->file.ReadAt(uint64_t(block) * mdx::kBlockSize, node);
  if (error != 0) {
    SetError(uint16_t(error), "Error reading index file: " + TagDescription(order) + " [SeekAndRead]");
    return false;
  }
  PutLE16(node.data() + mdx::kNodeModified, 0);
  std::memcpy(image, node.data(), mdx::kNodeSize);
  return true;
}

bool SeekAndWrite(int order, int32_t block, uint8_t* image) {
  TagControl* tag = OrderAt(order);
  if (!tag || !tag->file) return false;
  PutLE16(image + mdx::kNodeModified, 0);
  if (uint8_t* copy = PathCopyOf(*tag, block); copy && copy != image)
    std::memcpy(copy, image, mdx::kNodeSize);
  uint32_t error = block < 0 ? platform::kErrInvalidParameter
                             : tag->file->file.WriteAt(uint64_t(block) * mdx::kBlockSize,
                                                       std::span<const uint8_t>(image, mdx::kNodeSize));
  if (error != 0) {
    SetError(uint16_t(error), "Error writing index file: " + TagDescription(order) + " [SeekAndWrite]");
    return false;
  }
  return true;
}

void GetNode(int32_t node, int order) {
  TagControl* tag = OrderAt(order);
  if (!tag) return;
  AreaIndex& a = CurrentAreaIndex();
  if (node == 0) {
    SetError(index::kErrInternal, "Invalid Node Number (0) in DBF Area " +
                                      std::to_string(CurrentAreaNumber()) + ", Order " +
                                      std::to_string(order) + " " + TagDescription(order) +
                                      " [GetNode]");
    return;
  }
  if (node == -1) {
    tag->current_node = tag->node_buffer.data();
    tag->current_node_number = -1;
    tag->current_index = 0;
    tag->current_entry = a.no_position.data();
    return;
  }
  uint8_t* image = tag->node_buffer.data();
  NodeCache& cache = a.cache;
  if (order == 1 && !cache.slots.empty()) {
    std::vector<NodeCache::Slot>& slots = cache.slots;
    if (auto hit = cache.where.find(node); hit != cache.where.end()) {
      // A hit moves one step toward the front.
      const uint32_t i = hit->second;
      image = slots[i].image;
      if (i > 0) {
        std::swap(slots[i], slots[i - 1]);
        hit->second = i - 1;
        if (slots[i].block != 0) cache.where[slots[i].block] = i;
      }
    } else {
      uint32_t i = cache.used;
      if (i == slots.size()) {
        i = uint32_t(slots.size() - 1);
        NodeCache::Slot& victim = slots[i];
        if (GetLE16(victim.image + mdx::kNodeModified) != 0 &&
            !SeekAndWrite(order, victim.block, victim.image))
          return;
        cache.where.erase(victim.block);
      } else {
        slots[i].image = cache.buffer.data() + size_t(i) * mdx::kNodeSize;
        ++cache.used;
      }
      slots[i].block = node;
      image = slots[i].image;
      if (!SeekAndRead(order, node, image)) {
        // The slot keeps its image, which after moves toward the front need not be the
        // one at its own offset, but holds no node: no node has number 0.
        slots[i].block = 0;
        return;
      }
      cache.where[node] = i;
    }
  } else if (!SeekAndRead(order, node, image)) {
    return;
  }
  tag->current_node = image;
  tag->current_node_number = node;
  tag->current_index = 0;
  tag->current_entry = image + mdx::kNodeEntries;
}

bool add_path(int32_t node, int order) {
  TagControl* tag = OrderAt(order);
  if (!tag || !tag->path_top) return false;
  PathChunk* top = tag->path_top;
  ++top->top;
  if (top->top >= PathChunk::kLevels) {
    if (LargestFreeBlock() < kPathChunkBytes) {
      --top->top;
      SetError(index::kErrMemory, " [add_path (InternalIndexFunction)]");
      return false;
    }
    top->next = std::make_unique<PathChunk>();
    top->next->previous = top;
    top->next->owner = top->owner;
    top = top->next.get();
    top->top = 0;
    tag->path_top = top;
  }
  top->nodes[size_t(top->top)] = node;
  if (tag->current_node) std::memcpy(top->images[size_t(top->top)].data(), tag->current_node, mdx::kNodeSize);
  return true;
}

int32_t PopPath(int order) {
  TagControl* tag = OrderAt(order);
  if (!tag || !tag->path_top) return 0;
  PathChunk* top = tag->path_top;
  if (top->top <= 0 && top == tag->path_base) return 0;
  if (top->top <= 0) {
    PathChunk* previous = top->previous;
    previous->next.reset();  // frees the chunk
    top = previous;
    tag->path_top = top;
  }
  --top->top;
  return top->nodes[size_t(std::min<int>(top->top, PathChunk::kLevels - 1))];
}

void ResetPath(int order) {
  TagControl* tag = OrderAt(order);
  if (!tag) return;
  if (order != 1)
    if (TagControl* first = OrderAt(1); first && first->path_base) tag->path_base = first->path_base;
  if (!tag->path_base) return;
  tag->path_base->top = -1;
  tag->path_base->next.reset();
  tag->path_base->owner = PathOwner(order);
  tag->path_top = tag->path_base;
}

void SetIndexCache(uint32_t bytes) {
  NodeCache& cache = CurrentAreaIndex().cache;
  if (SharedMode() || Indexes().cache_off) bytes = 0;
  if (bytes != 0) bytes = std::max<uint32_t>(bytes / mdx::kBlockSize * mdx::kBlockSize, 2048);
  if (bytes == cache.size && (bytes == 0 || !cache.slots.empty())) return;
  cache = NodeCache{};
  if (bytes == 0) return;
  const size_t slots = bytes / mdx::kNodeSize;
  const int64_t directory = int64_t(slots) * 8;
  if (LargestFreeBlock() <= directory) return;
  if (int64_t(bytes) >= LargestFreeBlock()) return;
  cache.slots.assign(slots, NodeCache::Slot{});
  cache.buffer.assign(bytes, 0);
  cache.size = bytes;
}

void WriteAnchor(int order) {
  TagControl* tag = OrderAt(order);
  if (!tag || !tag->file) return;
  const uint32_t block = AnchorBlock(*tag);
  uint32_t error = block == 0 ? platform::kErrInvalidParameter
                              : tag->file->file.WriteAt(uint64_t(block) * mdx::kBlockSize, tag->anchor);
  if (error != 0) {
    RaiseError(uint16_t(error), "Error writing index file:  " + TagDescription(order) + " [WriteAnchor]");
    return;
  }
  if (Tables().WriteThrough) FlushFile(tag->file->file);
  tag->anchor_changed = false;
}

void ReadAnchorNodes() {
  for (int order = 1; order <= mdx::kMaxTags; ++order) {
    TagControl* tag = OrderAt(order);
    if (!tag || !tag->file) continue;
    const uint32_t block = AnchorBlock(*tag);
    uint32_t error = block == 0 ? platform::kErrInvalidParameter
                                : tag->file->file.ReadAt(uint64_t(block) * mdx::kBlockSize, tag->anchor);
    if (error != 0) {
      SetError(uint16_t(error), "Error reading index file:  " + TagDescription(order) + " [ReadAnchorNodes]");
      return;
    }
  }
}

bool ReadTagAnchor(int order, int tag_number) {
  AreaIndex& a = CurrentAreaIndex();
  if (order < 1 || order > mdx::kMaxTags || tag_number < 1 || tag_number > a.file.TagCount())
    return false;
  auto tag = std::make_unique<TagControl>();
  tag->tag_number = tag_number;
  tag->file = &a.file;
  const uint32_t block = GetLE32(a.file.Entry(tag_number) + mdx::kTagAnchor);
  if (block == 0 || a.file.file.ReadAt(uint64_t(block) * mdx::kBlockSize, tag->anchor) != 0) {
    SetError(index::kErrCorrupt, "Unable to read the anchor of tag " + std::to_string(tag_number) +
                                     ": " + a.file.name + " [ReadTagAnchor]");
    return false;
  }
  tag->descending = (tag->anchor[mdx::kAncFlags] & mdx::kFlagDescending) != 0;
  tag->comparator = ComparatorFor(tag->KeyType(), tag->descending);
  tag->key_maker = KeyMakerFor(tag->KeyType());
  tag->character_key = tag->KeyType() == 'C';
  tag->current_node = tag->node_buffer.data();
  tag->current_entry = a.no_position.data();
  IndexState& s = Indexes();
  if (!s.path_base) s.path_base = std::make_unique<PathChunk>();
  tag->path_base = tag->path_top = s.path_base.get();
  index::ReleaseTag(a.orders[order]);
  a.orders[order] = std::move(tag);
  return true;
}

}  // namespace zedra
