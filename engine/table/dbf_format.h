// The DBF file format: header layout, version bytes, field descriptors and the record
// layout.
//
// File layout: a header of `header length` bytes (32-byte fixed part, the field
// descriptor array, the 0x0D terminator), then `record count` records of `record length`
// bytes, then one 0x1A end-of-file byte. All integers are little-endian.
//
// Fixed header part (every version byte except the dBASE II kind):
//   OFFSET | SIZE | MEANING
//        0 |    1 | version byte
//        1 |    1 | year of last update - 1900 (modulo 256)
//        2 |    1 | month of last update
//        3 |    1 | day of last update
//        4 |    4 | record count
//        8 |    2 | header length
//       10 |    2 | record length, deletion flag included
//       12 |    4 | kept as read
//       16 |   12 | multi-user area: re-read from disk before every header write
//       28 |    4 | kept as read (byte 29: the DOS code page mark)
//
// dBASE II kind (version byte 0x02 while no extra version byte is configured); the
// header update covers 8 bytes:
//        0 |    1 | 0x02
//        1 |    2 | record count (low 16 bits)
//        3 |    1 | month,  4 | 1 | day,  5 | 1 | year - 1900
//        6 |    2 | record length
//
// Field descriptor (32 bytes each, dBASE III PLUS layout, after the fixed part):
//        0 |   11 | name, upper case, padded with 0x00
//       11 |    1 | type letter
//       12 |    4 | field offset in some writers; never trusted (offsets are computed)
//       16 |    1 | length
//       17 |    1 | decimals
//       18 |   14 | reserved, written as zeros
// Record: byte 0 deletion flag (0x20 active, 0x2A "*" deleted), then the fields.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zedra {

inline constexpr size_t kDbfFixedHeaderSize = 32;
inline constexpr size_t kDbfDescriptorSize = 32;
inline constexpr uint8_t kDbfTerminator = 0x0D;
inline constexpr uint8_t kDbfEofMarker = 0x1A;
inline constexpr uint8_t kRecordActive = 0x20;
inline constexpr uint8_t kRecordDeleted = 0x2A;

// Offsets of the fixed header part.
inline constexpr size_t kHdrVersion = 0;
inline constexpr size_t kHdrYear = 1;
inline constexpr size_t kHdrMonth = 2;
inline constexpr size_t kHdrDay = 3;
inline constexpr size_t kHdrRecCount = 4;
inline constexpr size_t kHdrHeaderLength = 8;
inline constexpr size_t kHdrRecordLength = 10;
inline constexpr size_t kHdrMultiUser = 16;
inline constexpr size_t kHdrMultiUserSize = 12;
inline constexpr size_t kHdrProductionIndex = 28;  // 1: the table has a production index
inline constexpr size_t kHdrCodePage = 29;
// dBASE II kind.
inline constexpr size_t kHdr2RecCount = 1;
inline constexpr size_t kHdr2Month = 3;
inline constexpr size_t kHdr2Day = 4;
inline constexpr size_t kHdr2Year = 5;
inline constexpr size_t kHdr2RecordLength = 6;
inline constexpr size_t kHdr2UpdateSize = 8;
// Field descriptor.
inline constexpr size_t kFldName = 0;
inline constexpr size_t kFldNameSize = 11;
inline constexpr size_t kFldType = 11;
inline constexpr size_t kFldLength = 16;
inline constexpr size_t kFldDecimals = 17;

inline constexpr int kMaxFields = 255;

// The year byte of a header: year - 1900, modulo 256.
inline uint8_t DbfYearByte(int year) { return uint8_t(year - 1900); }

// Version bytes.
inline constexpr uint8_t kVersionDbase2 = 0x02;
inline constexpr uint8_t kVersionDbase3 = 0x03;
inline constexpr uint8_t kVersionPlain4 = 0x04;
inline constexpr uint8_t kVersionDbase3Memo = 0x83;
inline constexpr uint8_t kVersionDbase4Memo = 0x8B;
inline constexpr uint8_t kVersionDbase4Memo2 = 0x8C;
inline constexpr uint8_t kVersionFptMemo = 0xF5;
inline constexpr uint8_t kVersionFoxBase = 0x30;  // only decides the memo extension

// Whether the version byte is one the engine reads (the list above and the two
// configurable extra bytes).
bool IsDbfVersion(uint8_t version);
// True for the version bytes that name a memo kind: 0x83, 0x8B, 0x8C, 0xF5.
bool IsMemoKind(uint8_t version);
// The memo kind a version byte stands for: itself when a memo kind, else the default.
uint8_t MemoKindOf(uint8_t version);
// "FPT" or "DBT" (without dot).
std::string MemoFileExt(uint8_t version);
// Whether a table with this version byte is written with the dBASE II header update.
bool IsDbase2Kind(uint8_t version);

// One field of the in-memory field table.
struct FieldDesc {
  std::array<char, 11> name{};  // upper case, padded with 0
  char type = ' ';
  uint8_t length = 0;
  uint8_t decimals = 0;
  uint16_t offset = 0;  // of the field's first byte in the record; the first field is 1

  std::string Name() const;  // the name without its padding
};

// The header state of an open table.
enum class UpdateState : uint8_t { Closed = 0, Clean = 1, Changed = 2, Appended = 3 };

}  // namespace zedra
