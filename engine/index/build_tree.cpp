// The tree of one tag built from the table: the memory plan, phase 1 (keys of every
// record into pools, sorted runs spilled to a temporary file when memory is short), the
// merge of the runs, and phase 2 (the B-tree written bottom-up in one sequential pass at
// the end of the index file).
#include "index/build_tree.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/errors.h"
#include "expr/block_list.h"
#include "expr/expr.h"
#include "index/index_internal.h"

namespace zedra::index {
namespace {

constexpr int32_t kMaxBuffer = 65512;     // the largest buffer the plan gives out
constexpr uint32_t kPoolSize = 32758;     // one item pool
constexpr int32_t kPoolThreshold = 32768; // a pool is only taken above this much memory
constexpr uint32_t kRunEntryBytes = 14;   // one run table entry as the engine accounts it
constexpr uint32_t kMinPointers = 256;

std::string Bytes(int64_t n) { return std::to_string(n); }

// Orders items (key, then record number) by the tag's comparison.
class ItemLess {
 public:
  ItemLess(KeyComparator cmp, size_t key_length) : cmp_(cmp), length_(key_length) {
    if (cmp == CompareCharKeys) mode_ = 1;
    if (cmp == CompareCharKeysDescending) mode_ = 2;
  }
  int CompareKeys(const uint8_t* a, const uint8_t* b) const {
    switch (mode_) {
      case 1: return std::memcmp(a, b, length_);
      case 2: return std::memcmp(b, a, length_);
      default: return cmp_(a, b, length_);
    }
  }
  bool operator()(const uint8_t* a, const uint8_t* b) const {
    const int c = CompareKeys(a, b);
    if (c != 0) return c < 0;
    return GetLE32(a + length_) < GetLE32(b + length_);
  }

 private:
  KeyComparator cmp_;
  size_t length_;
  int mode_ = 0;
};

// An order-preserving 64-bit prefix of a key for the in-memory sort: items whose
// prefixes differ are ordered by them alone, equal prefixes by the full comparison.
uint64_t KeyPrefix(const uint8_t* key, char type, size_t length, bool descending) {
  uint64_t p = 0;
  switch (type) {
    case 'C':
      for (size_t i = 0; i < 8; ++i) p = (p << 8) | (i < length ? key[i] : 0);
      break;
    case 'D': {
      const double day = DateKeyValue(key);
      uint64_t bits;
      std::memcpy(&bits, &day, 8);
      p = (bits >> 63) ? ~bits : bits | (uint64_t(1) << 63);
      break;
    }
    default: {
      // Exponent, then the first 55 bits of the digits; negative numbers mirrored below
      // zero, which is 2^63.
      uint64_t digits = 0;
      for (size_t i = 2; i < 9; ++i) digits = (digits << 8) | key[i];
      const bool zero = ((key[1] >> 2) & 31) == 0;
      const uint64_t magnitude = zero ? 0 : (uint64_t(key[0]) << 55) | (digits >> 1);
      p = (key[1] & 0x80) && !zero ? (uint64_t(1) << 63) - 1 - magnitude
                                   : (uint64_t(1) << 63) | magnitude;
      break;
    }
  }
  return descending ? ~p : p;
}

class TreeBuilder {
 public:
  TreeBuilder(TagControl& tag, DbfArea& area, IndexFile& file)
      : tag_(tag),
        area_(area),
        file_(file),
        key_length_(tag.KeyLength()),
        s_(key_length_ + 4),
        entry_length_(tag.EntryLength()),
        m_(std::max<uint16_t>(tag.MaxKeys(), 1)),
        less_(tag.comparator, key_length_) {}
  ~TreeBuilder() { Cleanup(); }

  bool Run(BuildResult* result);

 private:
  void SortItems();
  bool Plan();
  bool DiskCheck();
  bool Phase1();
  bool MoreItems();
  bool Spill();
  bool FlushSpill();
  bool StartMerge();
  bool RefillRun(size_t run);
  const uint8_t* NextItem();
  bool Phase2();
  int32_t WriteNode(uint8_t* image);
  bool FlushNodes();
  void Tick(uint64_t* counter);
  void Cleanup();
  uint8_t* Level(int level) { return stack_.data() + size_t(level) * mdx::kNodeSize; }
  uint8_t* EntryAt(uint8_t* node, int i) { return node + mdx::kNodeEntries + size_t(i) * entry_length_; }

  TagControl& tag_;
  DbfArea& area_;
  IndexFile& file_;
  const size_t key_length_;
  const size_t s_;
  const uint16_t entry_length_;
  const uint16_t m_;
  ItemLess less_;
  uint32_t n_ = 0;
  int levels_ = 2;
  bool failed_ = false;
  bool for_has_keys_ = false;

  std::vector<uint8_t> stack_;
  MemoryHold stack_hold_;
  std::vector<uint8_t> rw_;
  MemoryHold rw_hold_;
  int64_t sort_space_ = 0;

  // Items in memory.
  std::vector<uint8_t*> ptrs_;
  MemoryHold ptrs_hold_;
  size_t capacity_ = 0;   // K
  size_t allocated_ = 0;  // items with space behind their pointer
  size_t used_ = 0;
  BlockList pools_;
  MemoryHold pools_hold_;
  bool pools_allowed_ = true;
  std::vector<uint8_t> tail_space_;

  // Runs.
  std::string temp_name_;
  EngineFile temp_;
  uint64_t temp_size_ = 0;
  size_t spill_fill_ = 0;
  std::vector<uint64_t> run_items_;
  struct RunCursor {
    uint64_t next = 0;  // next file position to read
    uint64_t end = 0;
    uint8_t* buffer = nullptr;
    size_t capacity = 0;  // items the buffer holds
    size_t count = 0;     // items in the buffer
    size_t offset = 0;    // current item
    const uint8_t* Current() const { return buffer + offset; }
  };
  std::vector<RunCursor> runs_;
  std::vector<size_t> run_order_;  // runs by their current item
  MemoryHold run_table_hold_;
  size_t merge_basis_ = 0;
  size_t taken_ = 0;
  size_t pending_advance_ = SIZE_MAX;

  // Phase 2.
  int64_t node_counter_ = 0;
  uint64_t nodes_offset_ = 0;
  size_t nodes_fill_ = 0;
  int32_t last_block_ = 0;

  // Progress.
  uint32_t ticks_ = 0;
  uint32_t ticks_given_ = 0;
  uint64_t tick_every_ = 2;
};

bool TreeBuilder::Run(BuildResult* result) {
  RefreshRecCount(area_);
  n_ = uint32_t(std::max<int32_t>(area_.record_count, 0));
  IndexState& s = Indexes();
  ticks_ = s.progress ? s.progress_ticks : 0;
  if (ticks_ > 0) tick_every_ = std::max<uint64_t>(2, uint64_t(n_ / ticks_) * 2);
  Indexes().last_build_runs = 0;
  if (!Plan() || !DiskCheck() || !Phase1()) return false;
  Indexes().last_build_runs = uint32_t(run_items_.size());
  if (!Phase2()) return false;
  while (ticks_given_ < ticks_) {
    ++ticks_given_;
    s.progress(ticks_given_, ticks_);
  }
  result->root = last_block_;
  result->for_has_keys = for_has_keys_;
  return true;
}

void TreeBuilder::Tick(uint64_t* counter) {
  if (ticks_ == 0 || ++*counter < tick_every_) return;
  *counter = 0;
  if (ticks_given_ >= ticks_) return;
  ++ticks_given_;
  Indexes().progress(ticks_given_, ticks_);
}

void TreeBuilder::SortItems() {
  const char type = tag_.KeyType();
  const bool descending = tag_.descending;
  if (type == 'C' && key_length_ > 8) {
    // Texts often share their first 8 bytes: the references carry the item itself.
    struct TextRef {
      uint64_t prefix;
      uint8_t* item;
    };
    std::vector<TextRef> refs(used_);
    for (size_t i = 0; i < used_; ++i) refs[i] = {KeyPrefix(ptrs_[i], type, key_length_, descending), ptrs_[i]};
    std::sort(refs.begin(), refs.end(), [&](const TextRef& a, const TextRef& b) {
      if (a.prefix != b.prefix) return a.prefix < b.prefix;
      return less_(a.item, b.item);
    });
    for (size_t i = 0; i < used_; ++i) ptrs_[i] = refs[i].item;
    return;
  }
  // 16 bytes per reference keep the sort in cache: the prefix, the record number, and
  // the item's place with the top bit telling that the prefix is the whole key (dates,
  // short texts, numbers of at most 13 digits), so that equal prefixes are equal keys.
  struct Ref {
    uint64_t prefix;
    uint32_t record;
    uint32_t place;
  };
  constexpr uint32_t kExact = 0x80000000u;
  std::vector<Ref> refs(used_);
  const bool numeric = type == 'N' || type == 'F';
  for (size_t i = 0; i < used_; ++i) {
    const uint8_t* item = ptrs_[i];
    const bool exact = !numeric || ((item[1] >> 2) & 31) <= 13;
    refs[i] = {KeyPrefix(item, type, key_length_, descending), GetLE32(item + key_length_),
               uint32_t(i) | (exact ? kExact : 0)};
  }
  std::sort(refs.begin(), refs.end(), [&](const Ref& a, const Ref& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if ((a.place & b.place & kExact) != 0) return a.record < b.record;
    return less_(ptrs_[a.place & ~kExact], ptrs_[b.place & ~kExact]);
  });
  std::vector<uint8_t*> sorted(used_);
  for (size_t i = 0; i < used_; ++i) sorted[i] = ptrs_[refs[i].place & ~kExact];
  std::copy(sorted.begin(), sorted.end(), ptrs_.begin());
}

bool TreeBuilder::Plan() {
  levels_ = mdx::TreeLevels(n_, m_);
  const int64_t stack_bytes = int64_t(levels_) * mdx::kNodeSize;
  if (LargestFreeBlock() < stack_bytes) {
    SetError(kErrMemory, " for allocating reindex stack [MakeIndex]");
    return false;
  }
  stack_.assign(size_t(stack_bytes), 0);
  stack_hold_.Hold(stack_bytes);

  int64_t t = 4096;
  const int64_t q = int64_t(std::sqrt(double(n_) * double(s_ + 4) * double(s_ + 14)));
  const int64_t free = LargestFreeBlock();
  const int64_t w = free - t - q - 512;
  if (w < 0) {
    SetError(kErrMemory, "Additional " + Bytes(-w) + " bytes of memory are needed. [MakeIndex]");
    return false;
  }
  int64_t r;
  if (kMaxBuffer - t > w / 2) {
    t += w / 2;
    r = w / 2;
  } else {
    r = w - (kMaxBuffer - t);
    t = kMaxBuffer;
  }
  const int64_t p = q + r + 512 - 128;
  if (LargestFreeBlock() < t) {
    SetError(kErrMemory, " to allocate RW buffer [MakeIndex]");
    return false;
  }
  rw_.assign(size_t(t), 0);
  rw_hold_.Hold(t);
  // The sort space is not held to one 64 KiB block: when the memory allows, every key of
  // the build is sorted in one run. The merge keeps its 32758-byte buffers.
  sort_space_ = p;
  merge_basis_ = size_t(std::min<int64_t>(p, kPoolSize)) / s_;
  uint64_t k = uint64_t(p / 4);
  k = std::min<uint64_t>(k, std::max<uint64_t>(n_, kMinPointers));
  while (k * 4 >= uint64_t(LargestFreeBlock()) && k >= kMinPointers) k /= 2;
  if (k < kMinPointers) {
    SetError(kErrMemory, " to allocate at least 256 s_ptrs [MakeIndex]");
    return false;
  }
  // The pointers are held against the budget at once, but only grow as items get space,
  // so a table whose header claims far more records than it has costs nothing.
  capacity_ = size_t(k);
  ptrs_hold_.Hold(int64_t(k) * 4);
  return true;
}

bool TreeBuilder::DiskCheck() {
  // The tree goes to the index file's volume, spilled runs to the temporary directory's.
  int64_t tree = 0;
  uint64_t per_level = n_;
  for (int level = 0; level < levels_; ++level) {
    per_level /= m_;
    tree += int64_t(per_level) * mdx::kNodeSize + mdx::kNodeSize;
  }
  const int64_t runs = capacity_ < n_ ? int64_t(s_) * n_ : 0;
  auto check = [](const std::string& directory, int64_t needed) {
    const int32_t free = DiskFreeKB(directory.empty() ? platform::CurrentDirectory() : directory);
    if (int64_t(free) < needed / 1024) {
      SetError(kErrDiskSpace, "Available disk space: " + std::to_string(free) + " KBytes;" +
                                  "needed: " + std::to_string(needed / 1024) + " KBytes [MakeIndex]");
      return false;
    }
    return true;
  };
  if (!check(SplitPath(platform::AbsolutePath(file_.name)).dir, tree)) return false;
  return runs == 0 || check(platform::TempDirectory(), runs);
}

bool TreeBuilder::MoreItems() {
  if (allocated_ >= capacity_) return false;
  if (pools_allowed_) {
    if (LargestFreeBlock() > kPoolThreshold) {
      if (std::byte* pool = AddBlock(pools_, kPoolSize)) {
        pools_hold_.Hold(kPoolSize);
        const size_t items = std::min(kPoolSize / s_, capacity_ - allocated_);
        auto* p = reinterpret_cast<uint8_t*>(pool);
        for (size_t i = 0; i < items; ++i) ptrs_.push_back(p + i * s_);
        allocated_ += items;
        return items > 0;
      }
    }
    // The unused tail of the pointer array becomes item space; no further pools.
    pools_allowed_ = false;
    const size_t items = (capacity_ - allocated_) * 4 / (s_ + 4);
    capacity_ = allocated_ + items;
    tail_space_.assign(items * s_, 0);
    for (size_t i = 0; i < items; ++i) ptrs_.push_back(tail_space_.data() + i * s_);
    allocated_ += items;
    return items > 0;
  }
  return false;
}

bool TreeBuilder::Phase1() {
  RecordScan scan(area_, rw_.size() / 2);
  const bool has_for = tag_.for_condition != nullptr;
  uint64_t since_tick = 0;
  while (scan.Next()) {
    Tick(&since_tick);
    if (has_for) {
      const auto* ok = static_cast<const int32_t*>(Evaluate(tag_.for_condition));
      if (!ok || *ok == 0) continue;
      for_has_keys_ = true;
    }
    const uint8_t* key = tag_.key_maker(tag_);
    if (used_ == allocated_ && !MoreItems() && used_ == allocated_) {
      if (allocated_ == 0) {
        SetError(kErrMemory, " to allocate at least 256 s_ptrs [MakeIndex]");
        return false;
      }
      if (!Spill()) return false;
    }
    uint8_t* item = ptrs_[used_++];
    std::memcpy(item, key, key_length_);
    PutLE32(item + key_length_, uint32_t(scan.record()));
  }
  if (scan.error() != 0) {
    SetError(uint16_t(scan.error()), "Error reading table file: " + area_.file_name + " [MakeIndex]");
    return false;
  }
  if (run_items_.empty()) {
    SortItems();
    return true;
  }
  if (used_ > 0 && !Spill()) return false;
  return FlushSpill() && StartMerge();
}

bool TreeBuilder::Spill() {
  if (!temp_.IsOpen()) {
    temp_name_ = UniqueFilename();
    if (temp_name_.empty()) {
      SetError(ErrorCode() ? ErrorCode() : uint16_t(platform::kErrPathNotFound), " [MakeIndex]");
      return false;
    }
    if (uint32_t error = temp_.Open(temp_name_, platform::kModeReadWriteExclusive); error != 0) {
      SetError(uint16_t(error), " [MakeIndex]");
      return false;
    }
  }
  SortItems();
  uint8_t* half = rw_.data() + rw_.size() / 2;
  const size_t room = (rw_.size() / 2) / s_ * s_;
  for (size_t i = 0; i < used_; ++i) {
    if (spill_fill_ + s_ > room && !FlushSpill()) return false;
    std::memcpy(half + spill_fill_, ptrs_[i], s_);
    spill_fill_ += s_;
  }
  run_items_.push_back(used_);
  used_ = 0;
  return true;
}

bool TreeBuilder::FlushSpill() {
  if (spill_fill_ == 0) return true;
  const uint8_t* half = rw_.data() + rw_.size() / 2;
  if (uint32_t error = temp_.WriteAt(temp_size_, std::span<const uint8_t>(half, spill_fill_)); error != 0) {
    SetError(uint16_t(error), " [MakeIndex]");
    return false;
  }
  temp_size_ += spill_fill_;
  spill_fill_ = 0;
  return true;
}

bool TreeBuilder::StartMerge() {
  const size_t runs = run_items_.size();
  // The items' memory goes back before the run buffers are carved.
  ptrs_ = {};
  ptrs_hold_.Release();
  tail_space_ = {};
  while (!pools_.empty() && int64_t(runs) * kRunEntryBytes >= LargestFreeBlock()) {
    RemoveNewest(pools_);
    pools_hold_.Hold(-int64_t(kPoolSize));
  }
  run_table_hold_.Hold(int64_t(runs) * kRunEntryBytes);
  size_t basis = merge_basis_;
  bool raised = false;
  size_t h = 0;
  for (;;) {
    if (!pools_.empty()) {
      const size_t per_pool = (runs - 1) / pools_.count() + 1;
      h = std::min(basis / per_pool, size_t(kPoolSize) / s_);
      break;
    }
    h = basis / runs;
    if (h == 0) break;
    const uint32_t size = LargestFreeBlock() > kMaxBuffer ? uint32_t(kMaxBuffer) : uint32_t(basis * s_);
    if (AddBlock(pools_, size)) {
      pools_hold_.Hold(size);
      continue;
    }
    basis /= 2;
    if (basis < runs && !raised) {
      basis = runs;
      raised = true;
    }
    if (basis == 0) break;
  }
  if (h == 0) {
    SetError(kErrMemory, "after freeing all pools [MakeIndex]");
    return false;
  }
  runs_.resize(runs);
  Block* pool = NextBlock(pools_, nullptr);
  size_t pool_used = 0;
  uint64_t position = 0;
  for (size_t k = 0; k < runs; ++k) {
    if (!pool) {
      SetError(kErrMemory, "after freeing all pools [MakeIndex]");
      return false;
    }
    if (pool_used + h * s_ > pool->DataSize()) {
      pool = NextBlock(pools_, pool);
      pool_used = 0;
      if (!pool || h * s_ > pool->DataSize()) {
        SetError(kErrMemory, "after freeing all pools [MakeIndex]");
        return false;
      }
    }
    RunCursor& run = runs_[k];
    run.buffer = reinterpret_cast<uint8_t*>(pool->Data()) + pool_used;
    run.capacity = h;
    pool_used += h * s_;
    run.next = position;
    position += run_items_[k] * s_;
    run.end = position;
    if (!RefillRun(k)) return false;
    if (run.count > 0) {
      auto at = std::upper_bound(run_order_.begin(), run_order_.end(), k, [&](size_t a, size_t b) {
        return less_(runs_[a].Current(), runs_[b].Current());
      });
      run_order_.insert(at, k);
    }
  }
  return true;
}

bool TreeBuilder::RefillRun(size_t k) {
  RunCursor& run = runs_[k];
  run.offset = 0;
  run.count = 0;
  if (run.next >= run.end) return true;
  const size_t items = size_t(std::min<uint64_t>(run.capacity, (run.end - run.next) / s_));
  std::span<uint8_t> bytes(run.buffer, items * s_);
  if (uint32_t error = temp_.ReadAt(run.next, bytes); error != 0) {
    SetError(uint16_t(error), " [MakeIndex]");
    return false;
  }
  run.next += items * s_;
  run.count = items;
  return true;
}

const uint8_t* TreeBuilder::NextItem() {
  if (runs_.empty()) {
    if (taken_ >= used_) return nullptr;
    // The items lie in key order across the pools: ask for the ones ahead early.
    if (taken_ + 16 < used_) __builtin_prefetch(ptrs_[taken_ + 16]);
    return ptrs_[taken_++];
  }
  // The run whose item was handed out last moves on now, so the item stayed valid.
  if (pending_advance_ != SIZE_MAX) {
    const size_t k = pending_advance_;
    pending_advance_ = SIZE_MAX;
    run_order_.erase(run_order_.begin());
    RunCursor& run = runs_[k];
    run.offset += s_;
    if (run.offset >= run.count * s_ && !RefillRun(k)) {
      failed_ = true;
      return nullptr;
    }
    if (run.count > 0) {
      auto at = std::upper_bound(run_order_.begin(), run_order_.end(), k, [&](size_t a, size_t b) {
        return less_(runs_[a].Current(), runs_[b].Current());
      });
      run_order_.insert(at, k);
    }
  }
  if (run_order_.empty()) return nullptr;
  pending_advance_ = run_order_.front();
  return runs_[pending_advance_].Current();
}

int32_t TreeBuilder::WriteNode(uint8_t* image) {
  ++node_counter_;
  const int32_t block = int32_t(2 * node_counter_);
  std::memcpy(rw_.data() + nodes_fill_, image, mdx::kNodeSize);
  nodes_fill_ += mdx::kNodeSize;
  if (nodes_fill_ + mdx::kNodeSize > rw_.size() / mdx::kNodeSize * mdx::kNodeSize && !FlushNodes())
    return 0;
  last_block_ = block;
  return block;
}

bool TreeBuilder::FlushNodes() {
  if (nodes_fill_ == 0) return true;
  if (uint32_t error = file_.file.WriteAt(nodes_offset_, std::span<const uint8_t>(rw_.data(), nodes_fill_));
      error != 0) {
    SetError(uint16_t(error), " [MakeIndex]");
    failed_ = true;
    return false;
  }
  nodes_offset_ += nodes_fill_;
  nodes_fill_ = 0;
  return true;
}

bool TreeBuilder::Phase2() {
  uint32_t error = 0;
  const uint64_t size = file_.file.Size(&error);
  if (error != 0) {
    SetError(uint16_t(error), " [MakeIndex]");
    return false;
  }
  nodes_offset_ = size;
  node_counter_ = int64_t(size / mdx::kNodeSize) - 1;
  std::array<uint8_t, mdx::kMaxKeyLength> previous{};
  bool have_previous = false;
  const bool unique = tag_.Unique();
  uint64_t since_tick = 0;
  uint8_t* leaf = Level(0);
  while (const uint8_t* item = NextItem()) {
    Tick(&since_tick);
    if (unique && have_previous && less_.CompareKeys(item, previous.data()) == 0) continue;
    if (GetLE16(leaf) >= m_) {
      std::array<uint8_t, mdx::kMaxKeyLength> last{};
      std::memcpy(last.data(), EntryAt(leaf, m_ - 1) + 4, key_length_);
      int32_t block = WriteNode(leaf);
      if (block == 0) return false;
      std::memset(leaf, 0, mdx::kNodeSize);
      for (int level = 1;; ++level) {
        if (level >= levels_) {
          SetError(kErrInternal, "Tree deeper than planned [MakeIndex]");
          return false;
        }
        uint8_t* node = Level(level);
        const int n = GetLE16(node);
        PutLE32(EntryAt(node, n), uint32_t(block));
        if (n < m_) {
          std::memcpy(EntryAt(node, n) + 4, last.data(), key_length_);
          PutLE16(node, uint16_t(n + 1));
          break;
        }
        // Full: its trailing slot has just received the pointer.
        block = WriteNode(node);
        if (block == 0) return false;
        std::memset(node, 0, mdx::kNodeSize);
      }
    }
    const int n = GetLE16(leaf);
    uint8_t* entry = EntryAt(leaf, n);
    std::memcpy(entry, item + key_length_, 4);
    std::memcpy(entry + 4, item, key_length_);
    PutLE16(leaf, uint16_t(n + 1));
    std::memcpy(previous.data(), item, key_length_);
    have_previous = true;
  }
  if (failed_) return false;
  int32_t block = WriteNode(leaf);
  if (block == 0) return false;
  // Every level up to the highest one in use is closed, an empty one too (as a node with
  // only its trailing pointer), so that every leaf lies at the same depth.
  int top = 0;
  for (int level = 1; level < levels_; ++level)
    if (GetLE16(Level(level)) > 0) top = level;
  for (int level = 1; level <= top; ++level) {
    uint8_t* node = Level(level);
    PutLE32(EntryAt(node, GetLE16(node)), uint32_t(block));
    block = WriteNode(node);
    if (block == 0) return false;
  }
  return FlushNodes();
}

void TreeBuilder::Cleanup() {
  if (temp_.IsOpen()) temp_.Close();
  if (!temp_name_.empty()) {
    platform::RemoveFile(temp_name_);
    temp_name_.clear();
  }
  pools_.Clear();
  pools_hold_.Release();
}

}  // namespace

bool BuildTagTree(TagControl& tag, DbfArea& area, IndexFile& file, BuildResult* result) {
  TreeBuilder builder(tag, area, file);
  return builder.Run(result);
}

}  // namespace zedra::index
