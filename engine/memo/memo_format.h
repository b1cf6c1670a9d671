// Memo file layouts: the three kinds of file header, the group header in front of a
// memo's text, and the free-block chain. Pure encoding and decoding; no file access.
//
// A memo file is a sequence of blocks of `block size` bytes; block k occupies bytes
// k * block size .. (k + 1) * block size - 1, block 0 holds the header, and a memo starts
// at the beginning of a block and runs over consecutive blocks. A record's memo field
// holds the number of the memo's first block.
//
// Kind 0x83 (dBASE III memo), block size always 512, little-endian:
//   OFFSET | SIZE | MEANING
//        0 |    4 | next free block = number of blocks in the file
//        4 |  508 | zero
//      512 |    1 | 0x1A, only in a new file (513 bytes in all)
//   A memo is its text and two 0x1A (readers stop at the first), padded with 0x00 to a
//   multiple of 512. A memo in
//   the 0x8B group-header form may also stand in such a file (a text containing 0x00);
//   the record then holds its block number negated.
//
// Kinds 0x8B and 0x8C (dBASE IV memo), little-endian; 24 bytes when created, the rest of
// block 0 appears as zeros when the file is first padded:
//        0 |    4 | next free block: head of the free-block chain or number of blocks
//        4 |    4 | zero
//        8 |    8 | the table's base name, at most 8 characters, 0x00-padded
//       16 |    2 | zero
//       18 |    2 | 0x0102
//       20 |    2 | block size (0 means the default)
//       22 |    2 | zero
//       32 |    4 | signed counter kept up by UpdateMemoHeader and EditMemo
//   Group header in front of each memo: FF FF, 16-bit 8, 32-bit text length + 8.
//   Free-block chain: each free run starts with (next run's block, run length in
//   blocks); the chain ends at a block number at or beyond the number of blocks in the
//   file, or one whose low 16 bits are 0xFFFF.
//
// Kind 0xF5 (FPT memo), big-endian; the header always fills 512 bytes:
//        0 |    4 | next free block
//        4 |    2 | zero
//        6 |    2 | block size
//        8 |  504 | zero
//   Group header: 32-bit memo type (1 = text), 32-bit text length (header excluded).
#pragma once

#include <array>
#include <cstdint>

#include "base/files.h"

namespace zedra::memo {

inline constexpr uint8_t kKindDbase3 = 0x83;
inline constexpr uint8_t kKindDbase4 = 0x8B;
inline constexpr uint8_t kKindDbase4b = 0x8C;
inline constexpr uint8_t kKindFpt = 0xF5;

inline constexpr uint16_t kDbase3BlockSize = 512;
inline constexpr uint8_t kMemoEnd = 0x1A;        // ends a 0x83 memo
inline constexpr size_t kMemoEndCount = 2;       // 0x1A bytes written after a 0x83 memo
inline constexpr uint8_t kTextEnd = 0x03;        // ends any memo when read
inline constexpr uint32_t kNew83Size = 513;      // header block and the 0x1A marker

// Header offsets.
inline constexpr size_t kHdrNextFree = 0;
inline constexpr size_t kHdr4Name = 8;
inline constexpr size_t kHdr4NameSize = 8;
inline constexpr size_t kHdr4Version = 18;
inline constexpr uint16_t kHdr4VersionValue = 0x0102;
inline constexpr size_t kHdr4BlockSize = 20;
inline constexpr size_t kHdr4Size = 24;          // as created
inline constexpr size_t kHdr4Counter = 32;
inline constexpr size_t kHdrFptBlockSize = 6;
inline constexpr size_t kHdrFptSize = 512;

inline constexpr size_t kGroupHeaderSize = 8;
inline constexpr uint16_t kGroupMark = 0xFFFF;
inline constexpr uint32_t kFptTextType = 1;

inline bool IsDbase4Kind(uint8_t kind) { return kind == kKindDbase4 || kind == kKindDbase4b; }

// One group header, as found in front of a memo's text.
struct GroupHeader {
  bool valid = false;        // a 0x8B header starts FF FF 08 00; an 0xF5 one always is
  uint32_t text_length = 0;  // bytes of text after the 8 header bytes

  // Decodes 8 bytes in the form of `kind` (0xF5 big-endian, every other kind the 0x8B
  // form). A 0x8B header whose stored length is below 8 is not valid.
  static GroupHeader Decode(const uint8_t* p, uint8_t kind) {
    GroupHeader h;
    if (kind == kKindFpt) {
      h.valid = true;
      h.text_length = GetBE32(p + 4);
      return h;
    }
    uint32_t stored = GetLE32(p + 4);
    h.valid = GetLE16(p) == kGroupMark && GetLE16(p + 2) == kGroupHeaderSize &&
              stored >= kGroupHeaderSize;
    h.text_length = h.valid ? stored - kGroupHeaderSize : 0;
    return h;
  }
  // True when the 8 bytes are a 0x8B group header (the test readers of 0x83 files make).
  static bool IsDbase4Header(const uint8_t* p) {
    return GetLE16(p) == kGroupMark && GetLE16(p + 2) == kGroupHeaderSize;
  }

  static std::array<uint8_t, kGroupHeaderSize> Encode(uint32_t text_length, uint8_t kind) {
    std::array<uint8_t, kGroupHeaderSize> b{};
    if (kind == kKindFpt) {
      PutBE32(b.data(), kFptTextType);
      PutBE32(b.data() + 4, text_length);
    } else {
      PutLE16(b.data(), kGroupMark);
      PutLE16(b.data() + 2, kGroupHeaderSize);
      PutLE32(b.data() + 4, text_length + kGroupHeaderSize);
    }
    return b;
  }
};

// One element of the free-block chain.
struct FreeRun {
  uint32_t next = 0;    // block of the next free run
  uint32_t blocks = 0;  // length of this run in blocks

  static FreeRun Decode(const uint8_t* p) { return {GetLE32(p), GetLE32(p + 4)}; }
  std::array<uint8_t, 8> Encode() const {
    std::array<uint8_t, 8> b{};
    PutLE32(b.data(), next);
    PutLE32(b.data() + 4, blocks);
    return b;
  }
  // Whether a chain link ends the chain in a file of `total` blocks.
  static bool EndsChain(uint32_t link, uint32_t total) {
    return link >= total || (link & 0xFFFF) == 0xFFFF;
  }
};

}  // namespace zedra::memo
