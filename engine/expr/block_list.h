// Block lists: circular, doubly linked lists of separately allocated, zero-filled blocks,
// reached through their newest block. The expression layer keeps its literal texts, its
// code nodes and its value-stack nodes in them; the index layer keeps its sort pools in
// them.
//
// Block layout as the engine accounts for it:
//   FIELD    | SIZE       | MEANING
//   next     | pointer    | following block; the newest block's next is the oldest
//   previous | pointer    | preceding block
//   size     | 16 bits    | data size + kBlockHeaderSize
//   data     | size - 10  | zero-filled when the block is added
// Iteration with NextBlock runs from the oldest block to the newest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zedra {

// The header bytes counted in a block's recorded size.
inline constexpr uint32_t kBlockHeaderSize = 10;

struct Block {
  Block* next = nullptr;
  Block* previous = nullptr;
  uint16_t size = 0;  // data size + kBlockHeaderSize
  std::unique_ptr<std::byte[]> data;

  std::byte* Data() { return data.get(); }
  size_t DataSize() const { return size - kBlockHeaderSize; }
};

// Owns its blocks; a removed block is handed to the caller.
class BlockList {
 public:
  BlockList() = default;
  BlockList(BlockList&& other) noexcept;
  BlockList& operator=(BlockList&& other) noexcept;
  BlockList(const BlockList&) = delete;
  BlockList& operator=(const BlockList&) = delete;
  ~BlockList() = default;

  Block* newest() const { return newest_; }
  bool empty() const { return newest_ == nullptr; }
  size_t count() const { return owned_.size(); }
  // Frees every block.
  void Clear();

 private:
  friend std::byte* AddBlock(BlockList& list, uint32_t size);
  friend Block* AddBlockAfter(BlockList& list, Block* cursor, uint32_t size);
  friend std::unique_ptr<Block> RemoveNewest(BlockList& list);

  Block* Create(uint32_t size);

  Block* newest_ = nullptr;
  std::vector<std::unique_ptr<Block>> owned_;
};

// Adds a zero-filled block of `size` data bytes after the newest block (so that it follows
// the previous newest in next order) and makes it the newest. Returns its data, or nullptr
// when the block cannot be had (size + 10 beyond a block's 16-bit size or the largest
// memory block available); nothing is reported.
std::byte* AddBlock(BlockList& list, uint32_t size);

// The cursor variant: links a new zero-filled block right after `cursor` (a block of the
// list, or nullptr for an empty list) and returns it; the caller moves its cursor there.
// When `cursor` was the newest block, the new block becomes the newest.
Block* AddBlockAfter(BlockList& list, Block* cursor, uint32_t size);

// Unlinks the newest block and hands it over; its previous block becomes the newest. An
// empty list gives nullptr.
std::unique_ptr<Block> RemoveNewest(BlockList& list);

// With nullptr the oldest block, otherwise the block after `block`; nullptr after the
// newest block and for an empty list.
Block* NextBlock(const BlockList& list, const Block* block);

}  // namespace zedra
