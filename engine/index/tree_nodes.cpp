// Node reads and writes of the tree changes: failures raised, the node cache kept equal
// to what was written, new blocks at the end of the file, and the greatest key under a
// node found through its trailing pointers.
#include <cstring>

#include "base/errors.h"
#include "index/index_internal.h"
#include "index/node_edit.h"

namespace zedra::index {
namespace {

// More levels than any tree of 1024-byte nodes can have.
constexpr int kMaxDepth = 64;

[[noreturn]] void RaisePending() {
  RaiseError(ErrorCode() != 0 ? ErrorCode() : kErrInternal, Errors().PendingMessage);
  throw EZedraError(Errors().PendingMessage);
}

}  // namespace

void KeepRaised(const EZedraError& e) {
  const std::string text = e.what();
  const size_t end = text.find("\r\n");
  ErrorState& errors = Errors();
  if (errors.ErrorCode == 0) errors.ErrorCode = kErrInternal;
  errors.LastError = errors.ErrorCode;
  errors.PendingMessage = end == std::string::npos ? text : text.substr(end + 2);
}

bool SatisfiesFor(TagControl& tag) {
  const uint16_t before = ErrorCode();
  const bool holds = zedra::SatisfiesFor(tag);
  // A condition that cannot be evaluated holds no record; the change goes on.
  if (!holds) Errors().ErrorCode = before;
  return holds;
}

int TreeChange(int order, const std::function<int()>& change) {
  IndexState& s = Indexes();
  const int navigated = s.navigated_order;
  const bool insert_mode = s.insert_mode;
  s.navigated_order = order;
  int result;
  {
    AutoReportScope quiet(false);
    try {
      result = change();
    } catch (const EZedraError& e) {
      KeepRaised(e);
      result = -1;
    }
  }
  s.navigated_order = navigated;
  s.insert_mode = insert_mode;
  return result;
}

void RaiseCorrupt(int order, const std::string& what, const char* operation) {
  RaiseError(kErrCorrupt, what + ": " + TagDescription(order) + " [" + operation + "]");
  throw EZedraError(Errors().PendingMessage);
}

void ReadNode(int order, int32_t block, uint8_t* image) {
  if (block <= 0) {
    RaiseError(kErrCorrupt, "Invalid Node Number (" + std::to_string(block) + "): " +
                                TagDescription(order) + " [SeekAndRead]");
    throw EZedraError(Errors().PendingMessage);
  }
  if (!SeekAndRead(order, block, image)) RaisePending();
}

void WriteNode(int order, int32_t block, uint8_t* image) {
  if (!SeekAndWrite(order, block, image)) RaisePending();
  if (order != 1) return;
  NodeCache& cache = CurrentAreaIndex().cache;
  if (auto hit = cache.where.find(block); hit != cache.where.end() && hit->second < cache.slots.size()) {
    uint8_t* cached = cache.slots[hit->second].image;
    if (cached && cached != image) std::memcpy(cached, image, mdx::kNodeSize);
  }
}

int32_t NewNodeBlock(int order) {
  TagControl& tag = *OrderAt(order);
  uint32_t error = 0;
  const uint64_t size = tag.file->file.Size(&error);
  const uint64_t block = (size + mdx::kBlockSize - 1) / mdx::kBlockSize;
  if (error != 0 || block >= uint64_t(INT32_MAX) - 2) {
    RaiseError(error != 0 ? uint16_t(error) : kErrDiskSpace,
               "Index file cannot grow: " + TagDescription(order) + " [SplitNode]");
    throw EZedraError(Errors().PendingMessage);
  }
  PutLE32(tag.file->header.data() + mdx::kHdrBlockCounter, uint32_t(block + 1));
  tag.file->header_changed = true;
  return int32_t(block);
}

void CheckNodeCount(int order, int32_t block, const uint8_t* image) {
  const TagControl& tag = *OrderAt(order);
  if (!CountFits(tag, NodeKeys(image))) {
    RaiseError(kErrCorrupt, "Node " + std::to_string(block) + " holds an impossible key count: " +
                                TagDescription(order) + " [GetNode]");
    throw EZedraError(Errors().PendingMessage);
  }
}

void GreatestKeyUnder(int order, const uint8_t* node, uint8_t* key) {
  TagControl& tag = *OrderAt(order);
  std::array<uint8_t, mdx::kNodeSize> image;
  std::memcpy(image.data(), node, mdx::kNodeSize);
  int32_t block = 0;
  for (int depth = 0;; ++depth) {
    CheckNodeCount(order, block, image.data());
    const int n = NodeKeys(image.data());
    const int32_t trailing = EntryPointer(NodeEntry(tag, image.data(), n));
    if (trailing == 0) {
      std::memset(key, 0, tag.KeyLength());
      if (n > 0) std::memcpy(key, NodeEntry(tag, image.data(), n - 1) + 4, tag.KeyLength());
      return;
    }
    if (depth > kMaxDepth) {
      RaiseError(kErrCorrupt, "The tree loops: " + TagDescription(order) + " [GetNode]");
      throw EZedraError(Errors().PendingMessage);
    }
    block = trailing;
    ReadNode(order, block, image.data());
  }
}

}  // namespace zedra::index
