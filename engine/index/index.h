// The index layer: the MDX file attached to a work area (mdx_format.h), its open tags
// (TagControl), the node access every index operation goes through (node reads and
// writes, the current node, the shared node path, the per-area node cache, anchors),
// key making and comparison, and the sorting index builder.
//
// All operations act on the current work area. Failures are recorded with SetError
// (those documented as raised use RaiseError): 217 insufficient memory, 221 index not
// open, 225 table not exclusive, 227 disk space, 254 internal errors, 266 key length,
// 300 key expression too long, and the operating system's I/O codes. Messages end in
// the operation's name in square brackets; node and anchor messages name the index
// file and tag (TagDescription).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/files.h"
#include "index/mdx_format.h"
#include "table/hooks.h"
#include "table/work_area.h"

namespace zedra {

struct CompiledExpr;
struct TagControl;

// The open index file of a work area and its 2048-byte header area image.
struct IndexFile {
  EngineFile file;
  std::string name;
  std::vector<uint8_t> header;  // kHeaderAreaSize bytes while allocated
  bool header_changed = false;
  // Opened for reading only (the table is read-only): nothing is ever written to it.
  bool read_only = false;

  uint8_t* Entry(int k) { return header.data() + mdx::kTagTableOffset + mdx::kTagEntrySize * k; }
  // The tags in use; a count beyond the table's entries (a damaged file) stops at them.
  int TagCount() const { return header.empty() ? 0 : std::min<int>(header[mdx::kHdrTagCount], mdx::kMaxTags); }
};

// One chunk of the node path: up to 9 levels of (block number, node image).
struct PathChunk {
  static constexpr int kLevels = 9;
  PathChunk* previous = nullptr;
  std::unique_ptr<PathChunk> next;
  int16_t top = -1;
  uint16_t owner = 0;  // index file handle + 256 * order, cut to 16 bits; 0 = none
  std::array<int32_t, kLevels> nodes{};
  std::array<std::array<uint8_t, mdx::kNodeSize>, kLevels> images{};
};
// The engine accounts a chunk as two links, two 16-bit fields, 9 numbers and 9 images.
inline constexpr int32_t kPathChunkBytes = 9264;

// The key comparisons: search key, node key, key length; negative, 0 or positive.
using KeyComparator = int (*)(const uint8_t* a, const uint8_t* b, size_t length);
// Produces the key of the current record for a tag (C: NUL-terminated).
using KeyMaker = const uint8_t* (*)(TagControl& tag);

// One open tag (order). Allocated zero-filled when the tag is opened or built.
struct TagControl {
  int tag_number = 0;
  IndexFile* file = nullptr;
  std::array<uint8_t, mdx::kAnchorReadSize> anchor{};
  KeyComparator comparator = nullptr;
  bool anchor_changed = false;
  bool character_key = false;
  bool bof = false;
  bool eof = false;
  bool descending = false;
  KeyMaker key_maker = nullptr;
  std::array<uint8_t, mdx::kMaxKeyLength + 1> current_key{};
  std::array<uint8_t, mdx::kNodeSize> node_buffer{};
  uint8_t* current_node = nullptr;
  int32_t current_node_number = 0;
  int current_index = 0;
  uint8_t* current_entry = nullptr;
  PathChunk* path_top = nullptr;
  PathChunk* path_base = nullptr;
  CompiledExpr* key_expression = nullptr;
  CompiledExpr* for_condition = nullptr;

  int32_t Root() const { return int32_t(GetLE32(anchor.data() + mdx::kAncRoot)); }
  char KeyType() const { return char(anchor[mdx::kAncKeyType]); }
  uint16_t KeyLength() const { return GetLE16(anchor.data() + mdx::kAncKeyLength); }
  uint16_t EntryLength() const { return GetLE16(anchor.data() + mdx::kAncEntryLength); }
  uint16_t MaxKeys() const { return GetLE16(anchor.data() + mdx::kAncMaxKeys); }
  bool Unique() const { return anchor[mdx::kAncUnique] != 0; }
};

// The node cache of a work area (order 1 only): a buffer of S bytes and S / 1024 slots.
// Slots fill from the front; a hit moves one step toward the front and the last slot is
// the one given up when all are full. `where` indexes the slots by block number so that a
// look-up does not pass every slot.
struct NodeCache {
  struct Slot {
    int32_t block = 0;
    uint8_t* image = nullptr;  // nullptr: the slot is free
  };
  uint32_t size = 0;
  std::vector<uint8_t> buffer;
  std::vector<Slot> slots;
  std::unordered_map<int32_t, uint32_t> where;  // block -> slot
  uint32_t used = 0;                            // slots 0..used-1 have images

  // Forgets every node; the buffer and the slots stay.
  void Empty() {
    std::fill(buffer.begin(), buffer.end(), uint8_t(0));
    for (Slot& slot : slots) slot = Slot{};
    where.clear();
    used = 0;
  }
};

// The index layer's part of one work area.
struct AreaIndex {
  IndexFile file;
  std::array<std::unique_ptr<TagControl>, mdx::kTagEntries> orders;  // [1..47]
  // The no-position marker: 104 zero bytes whose first 4 are -1.
  std::array<uint8_t, 104> no_position{};
  NodeCache cache;
  bool natural_order = false;
};

// Called during a build with the records done and the record count.
using IndexProgress = std::function<void(uint32_t done, uint32_t total)>;

struct IndexState {
  std::array<AreaIndex, kWorkAreas + 1> areas;  // [1..35]
  std::unique_ptr<PathChunk> path_base;         // shared by every order of every area
  int path_users = 0;                           // open index files
  int navigated_order = 1;
  int key_order = 1;
  bool found = false;
  int search_status = 0;  // of the last FindKeyInNode: -1, -2 or an entry index
  bool insert_mode = false;
  // The file-sharing mode for index files: -1 the default, else the platform open mode.
  int file_share_mode = -1;
  bool cache_off = false;  // set once an index was opened in shared mode
  // SetIndexProgress: the callback and its tick count.
  IndexProgress progress;
  uint32_t progress_ticks = 0;
  // Sorted runs the last build spilled to its temporary file (0: sorted in memory).
  uint32_t last_build_runs = 0;
  // The key makers' result buffers.
  std::array<uint8_t, 257> char_key{};
  mdx::NumericKeyBytes numeric_key{};
  std::array<uint8_t, 8> date_key{};
};

IndexState& Indexes();
// The current area's part (the area need not hold a table).
AreaIndex& CurrentAreaIndex();
// Order n (1..47) of the current area, or nullptr.
TagControl* OrderAt(int order);

void IndexStartup();
void IndexShutdown();

// ---------------------------------------------------------------------------------------
// The file and its tag table

// Opens or creates the current area's index file and reads or writes its header area.
// False after reporting the failure.
bool CreateMdxHeader(const std::string& name);
void FlushIndexHeader();
// Closes the current area's index file and frees its header.
void CloseIndexFile();
// Adds a tag to the header's tag table (a tag of the same name is replaced first);
// false with 254 when 47 tags are in use.
bool AddTagEntry(IndexFile& file, const std::string& name, uint32_t anchor_block,
                 char key_type);
// Rebuilds the name tree of the tag table (bytes 16-18 of entries 0..tags).
void SortTagThreads(IndexFile& file);
// The tag names of the current area's index file in tag-table order.
std::vector<std::string> IndexTagNames();
// "FILE [tag: NAME]", or empty without an index file or order.
std::string TagDescription(int order);

// ---------------------------------------------------------------------------------------
// Node access

// Fills the 1024-byte image with the node at the block (from the node path when it
// is there). False after reporting the failure; the image is then unchanged.
bool SeekAndRead(int order, int32_t block, uint8_t* image);
bool SeekAndWrite(int order, int32_t block, uint8_t* image);
// Makes the node current for the order; -1 resets it to no position, 0 is an error.
void GetNode(int32_t node, int order);
// Pushes the current node on the order's path; false after reporting 217.
bool add_path(int32_t node, int order);
int32_t PopPath(int order);
void ResetPath(int order);
void SetIndexCache(uint32_t bytes);
// Writes the order's anchor copy (raised on failure).
void WriteAnchor(int order);
void ReadAnchorNodes();
// Opens tag `tag_number` of the current area's index file into order slot `order`,
// reading its anchor; the expressions are not compiled. False after reporting 222.
bool ReadTagAnchor(int order, int tag_number);
// The owner stamp of an order in the current area.
uint16_t PathOwner(int order);

// ---------------------------------------------------------------------------------------
// Keys

int CompareCharKeys(const uint8_t* a, const uint8_t* b, size_t length);
int CompareCharKeysDescending(const uint8_t* a, const uint8_t* b, size_t length);
int CompareNumericKeys(const uint8_t* a, const uint8_t* b, size_t length);
int CompareNumericKeysDescending(const uint8_t* a, const uint8_t* b, size_t length);
int CompareDateKeys(const uint8_t* a, const uint8_t* b, size_t length);
int CompareDateKeysDescending(const uint8_t* a, const uint8_t* b, size_t length);
// The comparator for a key type letter and direction; nullptr for other letters.
KeyComparator ComparatorFor(char key_type, bool descending);
// A stored date key as a day number: above 31 December 9999 (other writers' blank),
// or not a number, it is the blank date 1.0E100.
double DateKeyValue(const uint8_t* key);

const uint8_t* CharKeyMaker(TagControl& tag);
const uint8_t* NumericKeyMaker(TagControl& tag);
const uint8_t* DateKeyMaker(TagControl& tag);
KeyMaker KeyMakerFor(char key_type);
// Runs the order's key maker on the current record (the key order is set first).
const uint8_t* BuildKey(int order);
// The key of order n's current record as text; "Rec:" and the record number in natural
// order; nullopt when there is no such order.
std::optional<std::string> KeyText(int order);
// A stored key as display text (C the bytes, N the number, D the date text).
std::string KeyBytesText(const uint8_t* key, char key_type, uint16_t key_length);

// ---------------------------------------------------------------------------------------
// Opening and the order slots

// Opens an index file (empty: the production index) for the current area, closing
// whatever was open; its tags become orders 1.. with tag 1 controlling.
bool SetIndexTo(const std::string& name);
// Opens tag k into order slot k; 0 or the error code (217, 222, 266).
uint16_t OpenTag(int k);
// 0 selects natural order; 1 to the number of tags that tag as controlling order.
void Set_Order_To(int n);
// The first tag whose name begins with the name (empty: natural order).
bool SetOrderToTag(const std::string& name);
// The tag number of the controlling order; 0 in natural order or without an index.
int CurrentOrder();
void CloseOrder(int slot);
// Closes every order of the current area and its index file.
void CloseIndexes();
// Positions order 1 (all: every order) on the entry of the current record; an order whose
// FOR condition the record fails, and a record out of range, go to the order's end (order
// 1 outside natural order takes the table past its end). 212 when the key is missing.
void SyncIndex(bool all);
// Finds the current record again in order 1 after another program changed the index;
// 212 when the record's key is missing although the record belongs in the order.
void SoftSyncIndex();
// The file-sharing mode index files are opened with: -1 (the default) follows the table's
// mode, any other value is the platform open mode to use (0x40: deny none).
void SetIndexShareMode(int mode);

// ---------------------------------------------------------------------------------------
// Navigation (failures are raised)

// Searches the current node of the order: -1 (key not above entry 0 and not equal),
// 0..n-1 the first entry not less than the key, -2 beyond the last entry.
int FindKeyInNode(int order, const uint8_t* key);
// Positions the order on the first key not less than the key; sets the found flag.
void SeekKey(int order, const uint8_t* key);
// The first (last) key's record number; record count + 1 for an empty order.
int32_t FindEdgeRec(int order, bool last);
// FindEdgeRec, or the natural-order forms.
int32_t Top(int order);
int32_t Bottom(int order);
// True (after re-reading the anchors) when another program changed the index since this
// program last looked.
bool CheckIndexUpdates();
// One step of the order to the next (previous) key; the record number.
int32_t StepNext(int order);
int32_t StepPrior(int order);
// The steps of the navigated order, or of the record numbers in natural order.
int32_t _FindNextRec();
int32_t _FindPriorRec();
// Seeks a value in the controlling order (character keys; a shorter value is a prefix)
// and moves the table to the first visible record from there; true when its key
// matches. The number form serves numeric and date keys (a date as its day number).
bool Seek(const std::string& value);
bool Seek(double value);

// ---------------------------------------------------------------------------------------
// Keeping the orders in step with record changes (failures are recorded with SetError)

// Inserts the current record's key into one order, splitting full nodes; a record
// outside the FOR condition and a second equal key of a unique tag are skipped. 0, or
// -1 after recording the failure (217 " [AppendIndex]" when no memory is left for a
// split). Order 1 ends positioned on the new key.
int AppendIndex(const uint8_t* key, int order);
// Removes the entry of record `target` with the key from one order: 1 removed, 0 not
// there although it may legitimately be absent (FOR condition, unique tag), -1 missing
// (or a failure, then recorded).
int DeleteKey(const uint8_t* key, int order, int32_t target);
// Moves the upper half of a full node (n keys: the last n / 2 with the trailing pointer)
// into a new image; an interior node also gives up its last remaining key, the child of
// which becomes its trailing pointer. None when memory is short.
std::optional<std::array<uint8_t, mdx::kNodeSize>> SplitNode(int order, uint8_t* node, bool leaf);
// After a record was appended: its key in every open order; when one order fails, the
// keys already added are taken out again (254 "Index file corrupted. ..." when that
// fails too).
void AppendNewKey();
// Before a record is rewritten: the keys of the record as it stands in the file.
void NoteKeysBeforeReplace();
// After the current record was rewritten: each order whose key or FOR membership
// changed loses the old entry and gets the new one.
void CompareKeys();
// The current record's key becomes the current key of orders 1 to count; with position,
// orders 2 to count also keep the record's number and key as their current entry.
void RefreshKeys(bool position, int count);
// Fills the record appended, replaced, refresh-keys and record-reached entries.
void InstallMaintenanceHooks(IndexHooks& hooks);

// ---------------------------------------------------------------------------------------
// Building

// One tag definition.
struct TagInfo {
  std::string name;       // at most 10 characters
  std::string key;        // at most 220 characters
  std::string for_expr;   // empty for none
  uint8_t descending = 0;
  uint8_t unique = 0;
};

// Creates the index file (replacing one of that name; empty: the production index) and
// builds every tag; the file is closed afterwards.
bool MakeIndex(const std::vector<TagInfo>& tags, const std::string& name);
// Builds the tags into a temporary file beside the index file, renames it over the file
// and opens it; a failure leaves the old file as it was, open again.
bool RebuildIndexFile(const std::vector<TagInfo>& tags, const std::string& file_name);
// MakeIndex followed by SetIndexTo of the same name: the new file opened with tag 1
// controlling.
bool MakeIndexAndOpen(const std::vector<TagInfo>& tags, const std::string& name);
// Rebuilds every tag of the open index file from its own definitions and opens it again
// with the same controlling tag (natural order when there was none).
void Reindex();
// Builds one tag into the file MakeIndex has open; with reopen the table is made
// exclusive for the build.
bool AddIndexTag(const TagInfo& tag, bool reopen);
void SetIndexProgress(IndexProgress callback, uint32_t ticks);
// The index file name MakeIndex and SetIndexTo use for a name given by a caller.
std::string IndexFileName(const std::string& name);

}  // namespace zedra
