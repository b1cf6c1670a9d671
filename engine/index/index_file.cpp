// The index layer's state, its start-up, the index file's header area and its tag table
// with the name tree.
#include <algorithm>
#include <cstring>

#include "base/dates.h"
#include "base/errors.h"
#include "expr/expr.h"
#include "index/index.h"
#include "index/index_internal.h"
#include "index/semaphore.h"
#include "table/hooks.h"

namespace zedra {
namespace {

IndexState state;

// The navigation entries of the table layer: a raised failure becomes record number 0.
template <typename F>
int32_t OrZero(F step) {
  try {
    return step();
  } catch (const EZedraError&) {
    return 0;
  }
}

// The bracket entries: a raised failure stays the engine's last error.
template <typename F>
void Kept(F action) {
  try {
    action();
  } catch (const EZedraError& e) {
    KeepCaught(e);
  }
}

TagControl* Controlling() { return CurrentArea() ? OrderAt(1) : nullptr; }

// The name field of a tag table entry as text (at most 10 characters).
std::string EntryName(const uint8_t* entry) {
  const char* p = reinterpret_cast<const char*>(entry + mdx::kTagName);
  return std::string(p, strnlen(p, mdx::kTagNameChars));
}

}  // namespace

IndexState& Indexes() { return state; }

AreaIndex& CurrentAreaIndex() { return state.areas[CurrentAreaNumber()]; }

TagControl* OrderAt(int order) {
  if (order < 1 || order > mdx::kMaxTags) return nullptr;
  return CurrentAreaIndex().orders[order].get();
}

void IndexStartup() {
  state = IndexState{};
  for (AreaIndex& a : state.areas) PutLE32(a.no_position.data(), 0xFFFFFFFFu);
  IndexHooks& hooks = IndexHookTable();
  hooks.IndexOpen = [] { return Controlling() != nullptr; };
  hooks.SyncToRecord = [] { OrZero([] { return SyncIndex(false), 0; }); };
  hooks.RecordReached = hooks.SyncToRecord;
  hooks.Reindex = [] { OrZero([] { return Reindex(), 0; }); };
  // A step off either end gives no record, so that the table layer stops there: in
  // natural order the step leaves the table's EOF or BOF flag set, in an order the
  // order's (which then still stands on its last or first key).
  hooks.Next = [] {
    const int32_t r = OrZero([] { return _FindNextRec(); });
    if (CurrentAreaIndex().natural_order) return CurrentArea()->at_end ? 0 : r;
    return Controlling() && Controlling()->eof ? 0 : r;
  };
  hooks.Prior = [] {
    const int32_t r = OrZero([] { return _FindPriorRec(); });
    if (CurrentAreaIndex().natural_order) return CurrentArea()->at_start ? 0 : r;
    return Controlling() && Controlling()->bof ? 0 : r;
  };
  hooks.Top = [] { return OrZero([] { return Top(1); }); };
  hooks.Bottom = [] { return OrZero([] { return Bottom(1); }); };
  hooks.Eof = [] {
    if (CurrentAreaIndex().natural_order || !Controlling()) return CurrentArea()->at_end;
    return OrderAt(1)->eof;
  };
  hooks.Bof = [] {
    if (CurrentAreaIndex().natural_order || !Controlling()) return CurrentArea()->at_start;
    return OrderAt(1)->bof;
  };
  hooks.SetBof = [](bool on) {
    if (TagControl* tag = Controlling()) tag->bof = on;
  };
  hooks.SetEof = [](bool on) {
    if (TagControl* tag = Controlling()) tag->eof = on;
  };
  hooks.CloseIndexes = [] { CloseIndexes(); };
  hooks.OpenProductionIndex = [] { return SetIndexTo(""); };
  hooks.TagDescription = [](int order) { return TagDescription(order); };
  hooks.KeyText = [](int order) { return KeyText(order); };
  hooks.ControllingKeyText = []() -> std::optional<std::string> {
    if (!Controlling()) return std::nullopt;
    return KeyText(1);
  };
  hooks.Ascending = [](int order) {
    const TagControl* tag = CurrentArea() ? OrderAt(order) : nullptr;
    return tag && !tag->descending;
  };
  hooks.PhoneticKey = [](int) { return false; };
  hooks.FoundFlag = &state.found;
  // A bracket that cannot be entered or left leaves its error set for the table layer.
  hooks.ReadBracket = [](bool enter) { Kept([enter] { SetReadSemaphoreProc(enter); }); };
  hooks.WriteBracket = [](bool enter) { Kept([enter] { SetLockSemaphoreProc(enter); }); };
  SemaphoreStartup();
  InstallMaintenanceHooks(hooks);
}

void IndexShutdown() {
  // Every area's indexes are closed (changed anchors and headers written); the first
  // raised failure ends the closing, and what is left is released unwritten.
  const uint8_t current = CurrentAreaNumber();
  try {
    AutoReportScope quiet(false);
    for (int n = 1; n < kWorkAreas; ++n) {
      SetCurrentArea(uint8_t(n));
      if (CurrentArea()) CloseIndexes();
    }
  } catch (const EZedraError&) {
  }
  SetCurrentArea(current);
  for (int n = 1; n <= kWorkAreas; ++n) {
    AreaIndex& a = state.areas[n];
    for (auto& order : a.orders) index::ReleaseTag(order);
    a.file = IndexFile{};
  }
  IndexHookTable() = IndexHooks{};
  state = IndexState{};
}

// ---------------------------------------------------------------------------------------
// The header area

bool CreateMdxHeader(const std::string& name) {
  IndexFile& f = CurrentAreaIndex().file;
  if (LargestFreeBlock() < int32_t(mdx::kHeaderAreaSize)) {
    SetError(index::kErrMemory, " to allocate index header buffer [CreateMdxHeader]");
    return false;
  }
  f.header.assign(mdx::kHeaderAreaSize, 0);
  f.header_changed = false;
  f.name = name;
  if (FilePresent(name)) {
    uint32_t error = f.file.Open(name, platform::kModeReadWrite);
    if (error == 0) error = f.file.ReadAt(0, f.header);
    if (error != 0) {
      SetError(uint16_t(error), "Unable to open index: " + name + " [CreateMdxHeader]");
      CloseIndexFile();
      return false;
    }
    return true;
  }
  uint8_t* h = f.header.data();
  const TodayDate today = TodayParts();
  const uint8_t date[3] = {uint8_t(today.year - 1900), uint8_t(today.month), uint8_t(today.day)};
  h[mdx::kHdrVersion] = mdx::kVersion;
  std::memcpy(h + mdx::kHdrCreated, date, 3);
  std::memcpy(h + mdx::kHdrUpdated, date, 3);
  const DbfArea* area = CurrentArea();
  const std::string table = area ? SplitPath(area->file_name).name : std::string();
  std::memcpy(h + mdx::kHdrTableName, table.data(),
              std::min(table.size(), mdx::kHdrTableNameSize));
  PutLE16(h + mdx::kHdrBlocksPerNode, mdx::kNodeSize / mdx::kBlockSize);
  PutLE16(h + mdx::kHdrNodeSize, mdx::kNodeSize);
  h[mdx::kHdrProduction] = 1;
  h[mdx::kHdrEntries] = mdx::kTagEntries;
  PutLE16(h + mdx::kHdrEntrySize, mdx::kTagEntrySize);
  uint32_t error = f.file.Create(name, platform::kModeReadWriteExclusive);
  if (error == 0) error = f.file.WriteAt(0, f.header);
  if (error != 0) {
    SetError(uint16_t(error), "Error writing index file: " + name + " [CreateMdxHeader]");
    CloseIndexFile();
    return false;
  }
  return true;
}

void FlushIndexHeader() {
  IndexFile& f = CurrentAreaIndex().file;
  if (!f.header_changed || !f.file.IsOpen() || f.header.empty() || f.read_only) return;
  if (uint32_t error = f.file.WriteAt(0, f.header); error != 0) {
    SetError(uint16_t(error), "Error writing index file: " + f.name + " [FlushIndexHeader]");
    return;
  }
  f.header_changed = false;
}

void CloseIndexFile() {
  IndexFile& f = CurrentAreaIndex().file;
  f.file.Close();
  f.header.clear();
  f.header.shrink_to_fit();
  f.header_changed = false;
  f.read_only = false;
}

// ---------------------------------------------------------------------------------------
// The tag table

void SortTagThreads(IndexFile& file) {
  const int count = std::min(file.TagCount(), mdx::kMaxTags);
  for (int k = 0; k <= count; ++k) {
    uint8_t* e = file.Entry(k);
    e[mdx::kTagLess] = e[mdx::kTagGreater] = e[mdx::kTagParent] = 0;
  }
  if (count == 0) return;
  file.Entry(0)[mdx::kTagGreater] = 1;
  for (int k = 2; k <= count; ++k) {
    const uint8_t* name = file.Entry(k) + mdx::kTagName;
    int at = 1;
    for (;;) {
      uint8_t* current = file.Entry(at);
      const bool less = std::memcmp(name, current + mdx::kTagName, mdx::kTagNameSize) < 0;
      uint8_t& child = current[less ? mdx::kTagLess : mdx::kTagGreater];
      if (child == 0) {
        child = uint8_t(k);
        file.Entry(k)[mdx::kTagParent] = uint8_t(at);
        break;
      }
      at = child;
    }
  }
}

int FindTagEntry(IndexFile& file, const std::string& name) {
  const std::string upper = UpperText(name.substr(0, mdx::kTagNameChars));
  const int count = std::min(file.TagCount(), mdx::kMaxTags);
  for (int k = 1; k <= count; ++k)
    if (EntryName(file.Entry(k)) == upper) return k;
  return 0;
}

bool AddTagEntry(IndexFile& file, const std::string& name, uint32_t anchor_block,
                 char key_type) {
  if (file.header.size() < mdx::kHeaderAreaSize) return false;
  const std::string upper = UpperText(name.substr(0, mdx::kTagNameChars));
  // A tag of the same name gives up its entry to the last one; its anchor and nodes stay
  // in the file unused.
  if (int k = FindTagEntry(file, upper); k != 0) {
    const int last = file.TagCount();
    if (k != last) std::memcpy(file.Entry(k), file.Entry(last), mdx::kTagEntrySize);
    std::memset(file.Entry(last), 0, mdx::kTagEntrySize);
    file.header[mdx::kHdrTagCount] = uint8_t(last - 1);
    SortTagThreads(file);
  }
  const int count = file.TagCount();
  if (count >= mdx::kMaxTags) {
    SetError(index::kErrInternal, "Index file " + file.name + " already holds " +
                                      std::to_string(mdx::kMaxTags) + " tags; tag " + upper +
                                      " cannot be added [AddIndexTag()]");
    return false;
  }
  const int k = count + 1;
  uint8_t* e = file.Entry(k);
  std::memset(e, 0, mdx::kTagEntrySize);
  PutLE32(e + mdx::kTagAnchor, anchor_block);
  std::memcpy(e + mdx::kTagName, upper.data(), upper.size());
  e[mdx::kTagMark] = mdx::kTagMarkValue;
  e[mdx::kTagKeyType] = uint8_t(key_type);
  file.header[mdx::kHdrTagCount] = uint8_t(k);
  SortTagThreads(file);
  file.header_changed = true;
  return true;
}

std::vector<std::string> IndexTagNames() {
  std::vector<std::string> names;
  if (!CurrentArea()) return names;
  IndexFile& f = CurrentAreaIndex().file;
  if (!f.file.IsOpen()) return names;
  for (int k = 1; k <= f.TagCount(); ++k) names.push_back(EntryName(f.Entry(k)));
  return names;
}

std::string TagDescription(int order) {
  if (!CurrentArea()) return "";
  AreaIndex& a = CurrentAreaIndex();
  const TagControl* tag = OrderAt(order);
  if (!a.file.file.IsOpen() || !tag || a.file.header.empty()) return "";
  const int k = tag->tag_number;
  const std::string name = k >= 1 && k <= mdx::kMaxTags ? EntryName(a.file.Entry(k)) : "";
  return a.file.name + " [tag: " + name + "]";
}

std::string IndexFileName(const std::string& name) {
  const DbfArea* area = CurrentArea();
  const std::string table = area ? area->file_name : std::string();
  std::string n = name;
  // Blanks and control characters are removed from both ends.
  size_t first = 0, last = n.size();
  while (first < last && uint8_t(n[first]) < 33) ++first;
  while (last > first && uint8_t(n[last - 1]) < 33) --last;
  n = n.substr(first, last - first);
  if (n.empty()) return ForceExtension(table, "MDX");
  n = DefaultExtension(n, "MDX");
  if (n.find_first_of(platform::kPathSeparators) == std::string::npos) n = SplitPath(table).dir + n;
  return n;
}

}  // namespace zedra
