// Block lists.
#include "expr/block_list.h"

#include <utility>

#include "base/errors.h"

namespace zedra {

BlockList::BlockList(BlockList&& other) noexcept
    : newest_(std::exchange(other.newest_, nullptr)), owned_(std::move(other.owned_)) {
  other.owned_.clear();
}

BlockList& BlockList::operator=(BlockList&& other) noexcept {
  if (this != &other) {
    newest_ = std::exchange(other.newest_, nullptr);
    owned_ = std::move(other.owned_);
    other.owned_.clear();
  }
  return *this;
}

void BlockList::Clear() {
  newest_ = nullptr;
  owned_.clear();
}

Block* BlockList::Create(uint32_t size) {
  uint64_t total = uint64_t(size) + kBlockHeaderSize;
  // A block records its size in 16 bits; nothing larger may be handed out.
  if (total > 0xFFFF || total >= uint64_t(LargestFreeBlock())) return nullptr;
  auto block = std::make_unique<Block>();
  block->size = static_cast<uint16_t>(total);
  block->data = std::make_unique<std::byte[]>(size == 0 ? 1 : size);  // zero-filled
  owned_.push_back(std::move(block));
  return owned_.back().get();
}

std::byte* AddBlock(BlockList& list, uint32_t size) {
  Block* b = AddBlockAfter(list, list.newest_, size);
  if (!b) return nullptr;
  list.newest_ = b;
  return b->Data();
}

Block* AddBlockAfter(BlockList& list, Block* cursor, uint32_t size) {
  Block* b = list.Create(size);
  if (!b) return nullptr;
  if (!cursor) {
    // Only an empty list has no cursor.
    b->next = b->previous = b;
    list.newest_ = b;
    return b;
  }
  b->previous = cursor;
  b->next = cursor->next;
  cursor->next->previous = b;
  cursor->next = b;
  if (cursor == list.newest_) list.newest_ = b;
  return b;
}

std::unique_ptr<Block> RemoveNewest(BlockList& list) {
  Block* b = list.newest_;
  if (!b) return nullptr;
  if (b->next == b) {
    list.newest_ = nullptr;
  } else {
    b->previous->next = b->next;
    b->next->previous = b->previous;
    list.newest_ = b->previous;
  }
  b->next = b->previous = nullptr;
  // Blocks are mostly removed newest first: search from the back.
  for (auto it = list.owned_.rbegin(); it != list.owned_.rend(); ++it) {
    if (it->get() == b) {
      std::unique_ptr<Block> out = std::move(*it);
      list.owned_.erase(std::next(it).base());
      return out;
    }
  }
  return nullptr;  // not reached: every linked block is owned by its list
}

Block* NextBlock(const BlockList& list, const Block* block) {
  if (!list.newest()) return nullptr;
  if (!block) return list.newest()->next;
  if (block == list.newest()) return nullptr;
  return block->next;
}

}  // namespace zedra
