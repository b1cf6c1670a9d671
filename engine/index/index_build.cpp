// MakeIndex and AddIndexTag: a new index file built from tag definitions, each tag's
// checks, its tree (build_tree.cpp) and its anchor; SetIndexProgress.
#include <algorithm>
#include <cstring>

#include "base/errors.h"
#include "expr/expr.h"
#include "index/build_tree.h"
#include "index/index.h"
#include "index/index_internal.h"

namespace zedra {
namespace {

// The bytes of TagControl as the engine accounts its allocation.
constexpr int32_t kTagControlBytes = 2070;

// Appends the anchor of a built tag and enters the tag in the tag table.
bool WriteNewAnchor(TagControl& tag, IndexFile& file, const std::string& name,
                    const index::BuildResult& built) {
  if (LargestFreeBlock() < int32_t(mdx::kNodeSize)) {
    SetError(index::kErrMemory, " to allocate buf [MakeIndex]");
    return false;
  }
  std::array<uint8_t, mdx::kNodeSize> image{};
  const uint8_t* a = tag.anchor.data();
  PutLE32(image.data() + mdx::kAncRoot, uint32_t(built.root));
  image[mdx::kAncKeyType] = a[mdx::kAncKeyType];
  std::memcpy(image.data() + mdx::kAncKeyLength, a + mdx::kAncKeyLength, 2);
  std::memcpy(image.data() + mdx::kAncMaxKeys, a + mdx::kAncMaxKeys, 2);
  std::memcpy(image.data() + mdx::kAncDateFlag, a + mdx::kAncDateFlag, 2);
  std::memcpy(image.data() + mdx::kAncEntryLength, a + mdx::kAncEntryLength, 2);
  image[mdx::kAncUnique] = a[mdx::kAncUnique];
  std::memcpy(image.data() + mdx::kAncKeyExpr, a + mdx::kAncKeyExpr, mdx::kExprSize);
  if (tag.for_condition) {
    image[mdx::kAncHasFor] = 1;
    std::memcpy(image.data() + mdx::kAncForExpr, a + mdx::kAncForExpr, mdx::kExprSize);
    image[mdx::kAncForHasKeys] = built.for_has_keys ? 1 : 0;
  }
  image[mdx::kAncFlags] = uint8_t(mdx::kFlagAlways | (tag.descending ? mdx::kFlagDescending : 0) |
                                  (tag.Unique() ? mdx::kFlagUnique : 0));
  uint32_t error = 0;
  const uint64_t size = file.file.Size(&error);
  if (error == 0) error = file.file.WriteAt(size, image);
  if (error != 0) {
    SetError(uint16_t(error), " [MakeIndex]");
    return false;
  }
  return AddTagEntry(file, name, uint32_t(size / mdx::kBlockSize), tag.KeyType());
}

// Puts a text into a NUL-terminated anchor field.
void PutText(uint8_t* field, const std::string& text) {
  const size_t length = std::min(text.size(), mdx::kMaxExprChars);
  std::memset(field, 0, mdx::kExprSize);
  std::memcpy(field, text.data(), length);
}

void MarkProductionIndex(DbfArea& area) {
  if (area.header[kHdrProductionIndex] == 1) return;
  const uint8_t one = 1;
  if (area.file.WriteAt(kHdrProductionIndex, std::span<const uint8_t>(&one, 1)) == 0)
    area.header[kHdrProductionIndex] = 1;
}

}  // namespace

void SetIndexProgress(IndexProgress callback, uint32_t ticks) {
  IndexState& s = Indexes();
  s.progress = std::move(callback);
  s.progress_ticks = ticks;
}

bool AddIndexTag(const TagInfo& info, bool reopen) {
  Errors().ErrorCode = 0;
  DbfArea* area = CurrentArea();
  AreaIndex& a = CurrentAreaIndex();
  if (!area || !a.file.file.IsOpen()) {
    SetError(index::kErrIndexNotOpen, "Index not open. (DBF=" + (area ? area->file_name : "") +
                                          ") [AddIndexTag()]");
    return false;
  }
  const std::string for_text = TrimRightText(info.for_expr);
  if (!for_text.empty()) {
    if (int code = CheckExpression(std::string_view(for_text)); code != 0) {
      SetError(uint16_t(code), "Invalid FOR expression for " + info.name + " [AddIndexTag()]");
      return false;
    }
  }
  if (info.key.size() > mdx::kMaxExprChars) {
    SetError(index::kErrKeyTooLong, " [AddIndexTag()]");
    return false;
  }
  if (a.file.TagCount() >= mdx::kMaxTags && FindTagEntry(a.file, info.name) == 0) {
    AddTagEntry(a.file, info.name, 0, 'C');  // reports the full table
    return false;
  }
  CompiledExpr* key = AssignExpr(info.key);
  if (!key) return false;
  bool reopened = false;
  if (reopen && !area->exclusive) {
    if (ReopenDbf(true) != 0) {
      ReleaseExpr(key);
      SetError(index::kErrNotExclusive, area->file_name + " [AddIndexTag()]");
      return false;
    }
    reopened = true;
  }
  bool ok = false;
  std::unique_ptr<TagControl> tag;
  [&] {
    if (LargestFreeBlock() < kTagControlBytes) {
      SetError(index::kErrMemory, " to allocate curr_index [AddIndexTag()]");
      return;
    }
    tag = std::make_unique<TagControl>();
    tag->file = &a.file;
    tag->key_expression = key;
    key = nullptr;
    uint8_t* anchor = tag->anchor.data();
    anchor[mdx::kAncUnique] = info.unique ? 1 : 0;
    PutText(anchor + mdx::kAncKeyExpr, info.key);
    tag->descending = info.descending != 0;
    const char type = ExprType(tag->key_expression);
    char key_type;
    switch (type) {
      case 'C':
      case 'D':
      case 'N':
      case 'F': key_type = type; break;
      default:
        SetError(index::kErrInternal, "Wrong parser return type [AddIndexTag()]");
        return;
    }
    anchor[mdx::kAncKeyType] = uint8_t(key_type);
    tag->comparator = ComparatorFor(key_type, tag->descending);
    tag->key_maker = KeyMakerFor(key_type);
    size_t key_length = key_type == 'D' ? mdx::kDateKeyLength : mdx::kNumericKeyLength;
    if (key_type == 'C') {
      const uint8_t* value = tag->key_maker(*tag);
      key_length = strnlen(reinterpret_cast<const char*>(value), kMaxText + 1);
    }
    if (key_length == 0 || key_length > mdx::kMaxKeyLength) {
      SetError(index::kErrKeyLength, "Incorrect key length: Must be 1 to 100. [AddIndexTag()]");
      return;
    }
    const uint16_t entry_length = mdx::EntryLength(uint16_t(key_length));
    PutLE16(anchor + mdx::kAncKeyLength, uint16_t(key_length));
    PutLE16(anchor + mdx::kAncEntryLength, entry_length);
    PutLE16(anchor + mdx::kAncDateFlag, key_type == 'D' ? 1 : 0);
    PutLE16(anchor + mdx::kAncMaxKeys, mdx::MaxKeys(entry_length));
    tag->character_key = key_type == 'C';
    if (!for_text.empty()) {
      tag->for_condition = AssignExpr(for_text);
      if (!tag->for_condition) return;
      anchor[mdx::kAncHasFor] = 1;
      PutText(anchor + mdx::kAncForExpr, for_text);
    }
    index::BuildResult built;
    if (!index::BuildTagTree(*tag, *area, a.file, &built) || built.root <= 0) return;
    if (!WriteNewAnchor(*tag, a.file, info.name, built)) return;
    PutLE32(a.file.header.data() + mdx::kHdrBlockCounter, uint32_t(built.root + 2));
    a.file.header_changed = true;
    ok = true;
  }();
  if (key) ReleaseExpr(key);
  index::ReleaseTag(tag);
  if (reopened) {
    const uint16_t pending = ErrorCode();
    if (uint32_t error = ReopenDbf(false); error != 0 && pending == 0) {
      SetError(uint16_t(error), "Cannot_Reopen_Database_Sharable " + area->file_name);
      ok = false;
    }
  }
  return ok && ErrorCode() == 0;
}

bool MakeIndex(const std::vector<TagInfo>& tags, const std::string& given_name) {
  if (AreaNotInUse("MakeIndex")) return false;
  DbfArea& area = *CurrentArea();
  const std::string name = IndexFileName(given_name);
  const bool production = given_name.find_first_not_of(" \t") == std::string::npos ||
                          platform::AbsolutePath(name) ==
                              platform::AbsolutePath(ForceExtension(area.file_name, "MDX"));
  CloseIndexes();
  bool reopened = false;
  if (!area.exclusive && FilePresent(name)) {
    uint32_t error;
    {
      AutoReportScope quiet(false);
      error = EraseFile(name);
    }
    if (error == platform::kErrAccessDenied || error == platform::kErrSharingViolation) {
      if (ReopenDbf(true) != 0) {
        SetError(index::kErrNotExclusive, area.file_name + " MakeIndex(" + name + ")");
        return false;
      }
      reopened = true;
    }
    Errors().ErrorCode = 0;
  }
  if (FilePresent(name)) EraseFile(name);
  bool result = CreateMdxHeader(name);
  if (result) {
    for (const TagInfo& tag : tags) {
      if (tag.name.empty()) break;
      if (!AddIndexTag(tag, false)) {
        result = false;
        break;
      }
    }
    if (production && result) MarkProductionIndex(area);
  }
  FlushIndexHeader();
  CloseIndexFile();
  if (reopened) {
    const uint16_t pending = ErrorCode();
    if (uint32_t error = ReopenDbf(false); error != 0 && pending == 0) {
      SetError(uint16_t(error), "Cannot_Reopen_Database_Sharable MakeIndex(" + name + ")");
      result = false;
    }
  }
  return result && ErrorCode() == 0;
}

}  // namespace zedra
