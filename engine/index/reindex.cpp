// Rebuilding the open index file from its own tag definitions, and building a file that
// is opened at once.
#include <cstring>

#include "base/errors.h"
#include "index/index.h"
#include "index/index_internal.h"

namespace zedra {
namespace {

// A key or FOR text of the anchor copy, at most 220 characters.
std::string AnchorText(const TagControl& tag, size_t offset) {
  const char* text = reinterpret_cast<const char*>(tag.anchor.data() + offset);
  return std::string(text, strnlen(text, mdx::kMaxExprChars));
}

std::string EntryName(IndexFile& file, int k) {
  const char* name = reinterpret_cast<const char*>(file.Entry(k) + mdx::kTagName);
  return std::string(name, strnlen(name, mdx::kTagNameChars));
}

}  // namespace

bool MakeIndexAndOpen(const std::vector<TagInfo>& tags, const std::string& name) {
  if (!MakeIndex(tags, name)) return false;
  return SetIndexTo(name);
}

void Reindex() {
  if (AreaNotInUse("Reindex")) return;
  AreaIndex& a = CurrentAreaIndex();
  if (!a.file.file.IsOpen() || !OrderAt(1)) {
    RaiseError(index::kErrIndexNotOpen, "Index not open. (DBF=" + CurrentArea()->file_name + ") [Reindex]");
    return;
  }
  if (a.file.name.empty()) return;
  const int controlling = CurrentOrder();
  const std::string controlling_name = controlling > 0 ? EntryName(a.file, controlling) : std::string();
  // The definitions are taken by tag number from whichever slot holds each tag: making
  // tag 1 controlling first would position the orders on records that a pack has moved.
  std::vector<TagInfo> tags;
  for (int k = 1; k <= a.file.TagCount(); ++k) {
    const TagControl* tag = nullptr;
    for (int slot = 1; slot <= mdx::kMaxTags && !tag; ++slot)
      if (OrderAt(slot) && OrderAt(slot)->tag_number == k) tag = OrderAt(slot);
    if (!tag) continue;
    const uint8_t flags = tag->anchor[mdx::kAncFlags];
    tags.push_back(TagInfo{EntryName(a.file, k), AnchorText(*tag, mdx::kAncKeyExpr),
                           AnchorText(*tag, mdx::kAncForExpr),
                           uint8_t((flags & mdx::kFlagDescending) != 0), uint8_t((flags & mdx::kFlagUnique) != 0)});
  }
  const std::string file_name = a.file.name;
  if (!RebuildIndexFile(tags, file_name)) return;
  // By the exact name: a prefix could pick an earlier tag whose name begins with it.
  const int k = controlling_name.empty() ? 0 : FindTagEntry(CurrentAreaIndex().file, controlling_name);
  Set_Order_To(k);
}

}  // namespace zedra
