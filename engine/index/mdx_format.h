// The MDX index file layout: the file header, the 48-entry tag table, the anchor (tag
// header) and the B-tree node, with their offsets, the sizes derived from a key length,
// and the packed-decimal numeric key. Pure encoding and decoding; no file access.
//
// All integers are little-endian. The file is addressed in 512-byte blocks (block b is
// byte b * 512); anchors and nodes are 1024 bytes, start on a block boundary and are
// only ever appended. Blocks 0-3 are the header area, always read and written as one
// 2048-byte image; a file shorter than 3072 bytes (header area and one anchor) is not
// an index file.
//
// File header (block 0):
//   OFFSET | SIZE | MEANING
//        0 |    1 | version, written as 2
//        1 |    3 | creation date: year - 1900 (modulo 256), month, day
//        4 |   16 | table file name without directory and extension, NUL-terminated,
//          |      | cut to 16 bytes
//       20 |    2 | blocks per node, written as 2
//       22 |    2 | node size, written as 1024
//       24 |    1 | production-index flag, written as 1
//       25 |    1 | tag table entries, written as 48
//       26 |    2 | length of a tag table entry, written as 32
//       28 |    1 | tags in use, 0 to 47
//       29 |    1 | zero
//       30 |    2 | zero; never read (other writers fill it)
//       32 |    4 | block counter for other programs: last appended node + 1, or root
//          |      | block + 2 after a build; never read
//       44 |    3 | last-update date, as bytes 1-3
//   others |      | zero when created, kept as read
//
// Tag table entry k (bytes 512 + 32 * k; entry 0 is the root of the name tree, entries
// 1 to 47 are the tags in use, without gaps):
//        0 |    4 | anchor block
//        4 |   11 | tag name, upper case, NUL-padded
//       15 |    1 | zero; never read
//       16 |    1 | name tree: entry of the less-than child (0 = none)
//       17 |    1 | name tree: entry of the greater-or-equal child (entry 0: 1)
//       18 |    1 | name tree: parent entry (0 for the root)
//       19 |    1 | written as 2
//       20 |    1 | key type letter C, N, F or D
//       21 |   11 | zero
//
// Anchor (1024 bytes; only bytes 0-982 are ever read back or rewritten, the rest zero):
//        0 |    4 | root node block
//        4 |    4 | zero; never read
//        8 |    1 | flags: 0x10 always, 0x08 descending, 0x40 unique
//        9 |    1 | key type letter
//       12 |    2 | key length: C 1-100, N/F 12, D 8
//       14 |    2 | maximum keys per node: 1012 / entry length
//       16 |    2 | 1 for D keys, else 0
//       18 |    2 | entry length: key length + 4 rounded up to a multiple of 4
//       23 |    1 | unique: 1 when duplicate keys are refused
//       24 |  221 | key expression, NUL-terminated (at most 220 characters)
//      245 |    1 | 1 when the tag has a FOR condition
//      246 |    1 | FOR tags: 1 once a record satisfies the condition (never read for
//          |      | tags without one)
//      762 |  221 | FOR condition, NUL-terminated; empty without one
//   others |      | zero; never read
//
// Node (1024 bytes):
//        0 |    2 | number of keys n, signed
//        2 |    2 | modified marker of a cached copy; always 0 on disk
//        4 |    4 | zero; never read
//        8 |  n*e | entries: 4-byte pointer, then the key, zero-padded to the entry
//          |      | length e; a leaf's pointers are record numbers, an interior node's
//          |      | are child blocks and its keys the greatest key of each child
//  8 + n*e |    4 | trailing pointer: 0 in a leaf, else the rightmost child
//
// Keys: C the key bytes (OEM when the table is), N and F the 12-byte NumericKey below,
// D the day number as an 8-byte double with 1.0E100 the blank date. A descending tag
// stores the same bytes; only its comparison is reversed.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zedra::mdx {

inline constexpr uint32_t kBlockSize = 512;
inline constexpr uint32_t kNodeSize = 1024;
inline constexpr uint32_t kHeaderAreaSize = 2048;
inline constexpr uint32_t kMinFileSize = 3072;
inline constexpr int kTagEntries = 48;
inline constexpr int kMaxTags = 47;
inline constexpr uint32_t kTagEntrySize = 32;
inline constexpr uint32_t kTagTableOffset = 512;

// File header.
inline constexpr size_t kHdrVersion = 0;
inline constexpr uint8_t kVersion = 2;
inline constexpr size_t kHdrCreated = 1;
inline constexpr size_t kHdrTableName = 4;
inline constexpr size_t kHdrTableNameSize = 16;
inline constexpr size_t kHdrBlocksPerNode = 20;
inline constexpr size_t kHdrNodeSize = 22;
inline constexpr size_t kHdrProduction = 24;
inline constexpr size_t kHdrEntries = 25;
inline constexpr size_t kHdrEntrySize = 26;
inline constexpr size_t kHdrTagCount = 28;
inline constexpr size_t kHdrBlockCounter = 32;
inline constexpr size_t kHdrUpdated = 44;

// Tag table entry.
inline constexpr size_t kTagAnchor = 0;
inline constexpr size_t kTagName = 4;
inline constexpr size_t kTagNameSize = 11;
inline constexpr size_t kTagNameChars = 10;
inline constexpr size_t kTagLess = 16;
inline constexpr size_t kTagGreater = 17;
inline constexpr size_t kTagParent = 18;
inline constexpr size_t kTagMark = 19;
inline constexpr uint8_t kTagMarkValue = 2;
inline constexpr size_t kTagKeyType = 20;

// Anchor.
inline constexpr uint32_t kAnchorReadSize = 983;
inline constexpr size_t kAncRoot = 0;
inline constexpr size_t kAncFlags = 8;
inline constexpr uint8_t kFlagAlways = 0x10;
inline constexpr uint8_t kFlagDescending = 0x08;
inline constexpr uint8_t kFlagUnique = 0x40;
inline constexpr size_t kAncKeyType = 9;
inline constexpr size_t kAncKeyLength = 12;
inline constexpr size_t kAncMaxKeys = 14;
inline constexpr size_t kAncDateFlag = 16;
inline constexpr size_t kAncEntryLength = 18;
inline constexpr size_t kAncUnique = 23;
inline constexpr size_t kAncKeyExpr = 24;
inline constexpr size_t kAncHasFor = 245;
inline constexpr size_t kAncForHasKeys = 246;
inline constexpr size_t kAncForExpr = 762;
inline constexpr size_t kExprSize = 221;
inline constexpr size_t kMaxExprChars = 220;

// Node.
inline constexpr size_t kNodeCount = 0;
inline constexpr size_t kNodeModified = 2;
inline constexpr size_t kNodeEntries = 8;
// Room for entries and the trailing pointer: 1024 - 8 header bytes - 4.
inline constexpr uint32_t kNodeEntrySpace = 1012;

inline constexpr size_t kMaxKeyLength = 100;
inline constexpr size_t kNumericKeyLength = 12;
inline constexpr size_t kDateKeyLength = 8;

// Sizes derived from a key length.
inline constexpr uint16_t EntryLength(uint16_t key_length) {
  return uint16_t((key_length + 4 + 3) / 4 * 4);
}
inline constexpr uint16_t MaxKeys(uint16_t entry_length) {
  return uint16_t(kNodeEntrySpace / entry_length);
}
// The levels a tree of n keys may need with m keys per node: 2, and one for each
// non-zero value of n, n / m, n / m^2, ...
int TreeLevels(uint32_t n, uint32_t m);

// The packed-decimal numeric key of a number's decimal text:
//   byte 0: 0x34 + digits before the point, or 0x34 - zeros right after the point
//   byte 1: 0x80 for negative | significant digit count * 4 | 1
//   bytes 2-11: up to 20 digits, two per byte, high nibble first
using NumericKeyBytes = std::array<uint8_t, kNumericKeyLength>;
NumericKeyBytes NumericKey(std::string_view text);
// The decimal text of a stored numeric key (for display and checks).
double NumericKeyValue(const uint8_t* key);

}  // namespace zedra::mdx
