// The tag table reader and the index checker.
#include "index/index_check.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "base/errors.h"
#include "expr/expr.h"
#include "index/index_internal.h"

namespace zedra {
namespace {

constexpr size_t kMaxProblems = 20;
constexpr int kMaxDepth = 32;
constexpr uint32_t kNamedMissing = 5;

std::string FieldText(const uint8_t* p, size_t size) {
  const char* c = reinterpret_cast<const char*>(p);
  return std::string(c, strnlen(c, size));
}

struct FileImage {
  EngineFile file;
  uint64_t size = 0;
  std::vector<uint8_t> header;

  bool BlockInside(uint32_t block) const {
    return block >= mdx::kHeaderAreaSize / mdx::kBlockSize &&
           uint64_t(block) * mdx::kBlockSize + mdx::kNodeSize <= size;
  }
  bool Read(uint32_t block, std::span<uint8_t> out) const {
    return file.ReadAt(uint64_t(block) * mdx::kBlockSize, out) == 0;
  }
};

bool OpenImage(const std::string& path, FileImage* image, std::string* problem) {
  const std::string resolved = platform::ResolveCase(path);
  if (uint32_t error = image->file.Open(resolved, platform::kModeReadShared); error != 0) {
    *problem = "cannot open " + path + ": " + ErrorText(uint16_t(error));
    return false;
  }
  image->size = image->file.Size();
  if (image->size < mdx::kMinFileSize) {
    *problem = "the file has " + std::to_string(image->size) +
               " bytes; an index file has at least 3072 (header area and one anchor)";
    return false;
  }
  image->header.assign(mdx::kHeaderAreaSize, 0);
  if (!image->Read(0, image->header)) {
    *problem = "the header area cannot be read";
    return false;
  }
  return true;
}

void ReadSummaries(const FileImage& image, std::vector<TagSummary>* tags, std::vector<std::string>* problems) {
  const uint8_t* h = image.header.data();
  int count = h[mdx::kHdrTagCount];
  if (count > mdx::kMaxTags) {
    problems->push_back("header byte 28 claims " + std::to_string(count) +
                        " tags; the tag table holds at most 47 (the first 47 are checked)");
    count = mdx::kMaxTags;
  }
  if (GetLE16(h + mdx::kHdrNodeSize) != mdx::kNodeSize || GetLE16(h + mdx::kHdrBlocksPerNode) != 2)
    problems->push_back("header bytes 20-23 give " + std::to_string(GetLE16(h + mdx::kHdrBlocksPerNode)) +
                        " blocks of " + std::to_string(GetLE16(h + mdx::kHdrNodeSize)) +
                        " bytes per node; this engine reads only 2 and 1024");
  for (int k = 1; k <= count; ++k) {
    const uint8_t* e = h + mdx::kTagTableOffset + mdx::kTagEntrySize * size_t(k);
    TagSummary t;
    t.number = k;
    t.name = FieldText(e + mdx::kTagName, mdx::kTagNameChars);
    t.anchor = GetLE32(e + mdx::kTagAnchor);
    t.key_type = char(e[mdx::kTagKeyType]);
    std::array<uint8_t, mdx::kAnchorReadSize> a{};
    if (image.BlockInside(t.anchor) && image.Read(t.anchor, a)) {
      t.anchor_read = true;
      t.root = GetLE32(a.data() + mdx::kAncRoot);
      t.key_type = char(a[mdx::kAncKeyType]);
      t.key_length = GetLE16(a.data() + mdx::kAncKeyLength);
      t.entry_length = GetLE16(a.data() + mdx::kAncEntryLength);
      t.max_keys = GetLE16(a.data() + mdx::kAncMaxKeys);
      t.descending = (a[mdx::kAncFlags] & mdx::kFlagDescending) != 0;
      t.unique = (a[mdx::kAncFlags] & mdx::kFlagUnique) != 0 || a[mdx::kAncUnique] != 0;
      t.key = FieldText(a.data() + mdx::kAncKeyExpr, mdx::kMaxExprChars);
      if (a[mdx::kAncHasFor]) {
        t.for_expr = FieldText(a.data() + mdx::kAncForExpr, mdx::kMaxExprChars);
        t.for_has_keys = a[mdx::kAncForHasKeys] != 0;
      }
    }
    tags->push_back(std::move(t));
  }
}

// One tag's walk.
class TagWalker {
 public:
  TagWalker(const FileImage& image, TagCheck& check, std::unordered_map<uint32_t, std::string>& seen,
            bool built)
      : image_(image), check_(check), t_(check.tag), seen_(seen), built_(built) {}

  void Run();

 private:
  struct Entry {
    uint32_t record;
    uint32_t block;
    std::array<uint8_t, mdx::kMaxKeyLength> key;
  };
  void Problem(const std::string& text) {
    if (check_.problems.size() < kMaxProblems) check_.problems.push_back(text);
  }
  std::string Key(const uint8_t* key) const {
    return "\"" + KeyBytesText(key, t_.key_type, t_.key_length) + "\"";
  }
  bool Equal(const uint8_t* a, const uint8_t* b) const {
    return t_.key_type == 'C' ? std::memcmp(a, b, t_.key_length) == 0 : cmp_(a, b, t_.key_length) == 0;
  }
  // Walks the subtree, appending its leaf entries in order.
  void Visit(uint32_t block, int depth);
  void CheckRecords();

  const FileImage& image_;
  TagCheck& check_;
  const TagSummary& t_;
  std::unordered_map<uint32_t, std::string>& seen_;
  bool built_;
  KeyComparator cmp_ = nullptr;
  int leaf_depth_ = -1;
  std::vector<Entry> entries_;
};

void TagWalker::Run() {
  if (!image_.BlockInside(t_.anchor)) {
    Problem("anchor block " + std::to_string(t_.anchor) + " lies outside the file (" +
            std::to_string(image_.size / mdx::kBlockSize) + " blocks)");
    return;
  }
  seen_[t_.anchor] = t_.name + " (its anchor)";
  cmp_ = ComparatorFor(t_.key_type, t_.descending);
  const bool length_ok = t_.key_type == 'C'   ? t_.key_length >= 1 && t_.key_length <= mdx::kMaxKeyLength
                         : t_.key_type == 'D' ? t_.key_length == mdx::kDateKeyLength
                                              : t_.key_length == mdx::kNumericKeyLength;
  if (!cmp_ || !length_ok) {
    Problem("anchor at block " + std::to_string(t_.anchor) + ": key type \"" + std::string(1, t_.key_type) +
            "\" with key length " + std::to_string(t_.key_length) + " is not a valid key");
    return;
  }
  if (t_.entry_length != mdx::EntryLength(t_.key_length) || t_.max_keys == 0 ||
      uint32_t(t_.max_keys) * t_.entry_length > mdx::kNodeEntrySpace) {
    Problem("anchor at block " + std::to_string(t_.anchor) + ": entry length " +
            std::to_string(t_.entry_length) + " and " + std::to_string(t_.max_keys) +
            " keys per node do not fit key length " + std::to_string(t_.key_length));
    return;
  }
  Visit(t_.root, 1);
  check_.depth = leaf_depth_;
  check_.keys = entries_.size();
  for (size_t i = 1; i < entries_.size(); ++i) {
    const Entry& a = entries_[i - 1];
    const Entry& b = entries_[i];
    const int c = cmp_(a.key.data(), b.key.data(), t_.key_length);
    if (c > 0) {
      Problem("block " + std::to_string(b.block) + ": key " + Key(b.key.data()) + " (record " +
              std::to_string(b.record) + ") comes after the greater key " + Key(a.key.data()));
    } else if (c == 0 && t_.unique) {
      Problem("block " + std::to_string(b.block) + ": unique tag holds key " + Key(b.key.data()) +
              " twice (records " + std::to_string(a.record) + " and " + std::to_string(b.record) + ")");
    } else if (c == 0 && built_ && a.record > b.record) {
      Problem("block " + std::to_string(b.block) + ": equal keys " + Key(b.key.data()) + " with record " +
              std::to_string(b.record) + " after record " + std::to_string(a.record));
    }
  }
  if (!t_.for_expr.empty() && !entries_.empty() && !t_.for_has_keys)
    Problem("anchor at block " + std::to_string(t_.anchor) +
            ": byte 246 says the FOR tag has no keys, but it holds " + std::to_string(entries_.size()));
  CheckRecords();
}

void TagWalker::Visit(uint32_t block, int depth) {
  if (check_.problems.size() >= kMaxProblems) return;
  if (!image_.BlockInside(block)) {
    Problem(std::string("pointer to block ") + std::to_string(block) +
            (block < 4 ? ", inside the header area" : ", past the end of the file (" +
                                                          std::to_string(image_.size / mdx::kBlockSize) +
                                                          " blocks)"));
    return;
  }
  if (auto it = seen_.find(block); it != seen_.end()) {
    Problem("block " + std::to_string(block) + " is reached twice (already used by " + it->second +
            "): a loop or a node shared by two places");
    return;
  }
  seen_[block] = "tag " + t_.name;
  if (depth > kMaxDepth) {
    Problem("block " + std::to_string(block) + " lies deeper than " + std::to_string(kMaxDepth) + " levels");
    return;
  }
  ++check_.nodes;
  std::array<uint8_t, mdx::kNodeSize> node{};
  if (!image_.Read(block, node)) {
    Problem("block " + std::to_string(block) + " cannot be read");
    return;
  }
  const int n = int16_t(GetLE16(node.data()));
  if (n < 0 || n > t_.max_keys) {
    Problem("block " + std::to_string(block) + " holds " + std::to_string(n) + " keys; a node holds 0 to " +
            std::to_string(t_.max_keys));
    return;
  }
  auto entry = [&](int i) { return node.data() + mdx::kNodeEntries + size_t(i) * t_.entry_length; };
  const uint32_t trailing = GetLE32(entry(n));
  if (trailing == 0) {
    if (leaf_depth_ < 0) leaf_depth_ = depth;
    if (depth != leaf_depth_)
      Problem("leaf at block " + std::to_string(block) + " is at depth " + std::to_string(depth) +
              ", other leaves at depth " + std::to_string(leaf_depth_));
    for (int i = 0; i < n; ++i) {
      Entry e{GetLE32(entry(i)), block, {}};
      std::memcpy(e.key.data(), entry(i) + 4, t_.key_length);
      entries_.push_back(e);
    }
    return;
  }
  for (int i = 0; i <= n; ++i) {
    const uint32_t child = GetLE32(entry(i));
    const size_t before = entries_.size();
    Visit(child, depth + 1);
    // The child's greatest key is the last entry its subtree added.
    if (i < n && entries_.size() > before) {
      const uint8_t* child_max = entries_.back().key.data();
      if (cmp_(entry(i) + 4, child_max, t_.key_length) < 0)
        Problem("block " + std::to_string(block) + ": key " + Key(entry(i) + 4) + " of entry " +
                std::to_string(i) + " is below the greatest key " + Key(child_max) +
                " of its child at block " + std::to_string(child));
    }
  }
}

void TagWalker::CheckRecords() {
  DbfArea* area = CurrentArea();
  if (!area || check_.problems.size() >= kMaxProblems) return;
  AutoReportScope quiet(false);
  auto tag = std::make_unique<TagControl>();
  PutLE16(tag->anchor.data() + mdx::kAncKeyLength, t_.key_length);
  tag->anchor[mdx::kAncKeyType] = uint8_t(t_.key_type);
  tag->key_expression = AssignExpr(t_.key);
  if (!tag->key_expression) {
    Errors().ErrorCode = 0;
    GetErrorText();
    Problem("the key expression \"" + t_.key + "\" does not compile for this table");
    return;
  }
  const char type = ExprType(tag->key_expression);
  if (type != t_.key_type && !(type == 'N' && t_.key_type == 'F')) {
    Problem("the key expression gives type " + std::string(1, type) + ", the tag stores type " +
            std::string(1, t_.key_type));
    index::ReleaseTag(tag);
    return;
  }
  if (!t_.for_expr.empty()) {
    tag->for_condition = AssignExpr(t_.for_expr);
    if (!tag->for_condition) {
      Errors().ErrorCode = 0;
      GetErrorText();
      Problem("the FOR condition \"" + t_.for_expr + "\" does not compile for this table");
      index::ReleaseTag(tag);
      return;
    }
  }
  tag->key_maker = KeyMakerFor(t_.key_type);
  const uint32_t records = uint32_t(std::max<int32_t>(area->record_count, 0));
  std::vector<int32_t> entry_of(size_t(records) + 1, -1);
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.record == 0 || e.record > records) {
      Problem("block " + std::to_string(e.block) + ": entry names record " + std::to_string(e.record) +
              "; the table has " + std::to_string(records));
    } else if (entry_of[e.record] >= 0) {
      Problem("block " + std::to_string(e.block) + ": record " + std::to_string(e.record) + " has more than one entry");
    } else {
      entry_of[e.record] = int32_t(i);
    }
  }
  bool any_for = false;
  uint32_t missing = 0;  // records without an entry
  std::map<std::string, uint32_t> first_of_key;  // built unique tags: lowest record per key
  index::RecordScan scan(*area, 65536);
  while (scan.Next() && check_.problems.size() < kMaxProblems) {
    const uint32_t r = uint32_t(scan.record());
    if (tag->for_condition) {
      const auto* ok = static_cast<const int32_t*>(Evaluate(tag->for_condition));
      if (!ok || *ok == 0) {
        if (entry_of[r] >= 0)
          Problem("block " + std::to_string(entries_[size_t(entry_of[r])].block) + ": record " + std::to_string(r) +
                  " does not satisfy the FOR condition but has an entry");
        continue;
      }
      any_for = true;
    }
    std::array<uint8_t, mdx::kMaxKeyLength> key{};
    std::memcpy(key.data(), tag->key_maker(*tag), t_.key_length);
    if (t_.key_type == 'D') {
      // Every blank form compares equal; one spelling serves as the map key.
      const double day = DateKeyValue(key.data());
      uint64_t bits;
      std::memcpy(&bits, &day, 8);
      PutLE32(key.data(), uint32_t(bits));
      PutLE32(key.data() + 4, uint32_t(bits >> 32));
    }
    if (t_.unique && built_) first_of_key.emplace(std::string(key.begin(), key.begin() + t_.key_length), r);
    if (entry_of[r] < 0) {
      // A broken tree loses whole subtrees: the first records are named, the rest counted.
      if (!t_.unique && ++missing <= kNamedMissing)
        Problem("record " + std::to_string(r) + " (key " + Key(key.data()) + ") has no entry in the tag");
      continue;
    }
    const Entry& e = entries_[size_t(entry_of[r])];
    if (!Equal(e.key.data(), key.data()))
      Problem("block " + std::to_string(e.block) + ": record " + std::to_string(r) + " is stored with key " +
              Key(e.key.data()) + " but its key is " + Key(key.data()));
  }
  if (missing > kNamedMissing)
    Problem("... and " + std::to_string(missing - kNamedMissing) + " more records have no entry in the tag");
  if (scan.error() != 0) Problem("the table cannot be read: " + ErrorText(uint16_t(scan.error())));
  for (const auto& [key, r] : first_of_key) {
    if (entry_of[r] < 0)
      Problem("unique tag lacks record " + std::to_string(r) + ", the first record with key " +
              Key(reinterpret_cast<const uint8_t*>(key.data())));
  }
  if (built_ && !t_.for_expr.empty() && any_for != t_.for_has_keys)
    Problem("anchor at block " + std::to_string(t_.anchor) + ": byte 246 is " + (t_.for_has_keys ? "1" : "0") +
            " but " + (any_for ? "records satisfy" : "no record satisfies") + " the FOR condition");
  index::ReleaseTag(tag);
}

}  // namespace

bool IndexCheck::Ok() const {
  if (!file_problems.empty()) return false;
  return std::all_of(tags.begin(), tags.end(), [](const TagCheck& t) { return t.problems.empty(); });
}

bool ReadTagSummaries(const std::string& path, std::vector<TagSummary>* tags, std::string* problem) {
  FileImage image;
  if (!OpenImage(path, &image, problem)) return false;
  std::vector<std::string> problems;
  ReadSummaries(image, tags, &problems);
  return true;
}

IndexCheck CheckIndexFile(const std::string& path, const std::string& only_tag, bool built) {
  IndexCheck result;
  FileImage image;
  std::string problem;
  if (!OpenImage(path, &image, &problem)) {
    result.file_problems.push_back(problem);
    return result;
  }
  std::vector<TagSummary> tags;
  ReadSummaries(image, &tags, &result.file_problems);
  std::unordered_map<uint32_t, std::string> seen;
  const std::string wanted = UpperText(only_tag);
  for (TagSummary& t : tags) {
    if (!wanted.empty() && t.name != wanted) continue;
    TagCheck check;
    check.tag = t;
    TagWalker(image, check, seen, built).Run();
    result.tags.push_back(std::move(check));
  }
  if (!wanted.empty() && result.tags.empty())
    result.file_problems.push_back("the file has no tag " + wanted);
  return result;
}

}  // namespace zedra
