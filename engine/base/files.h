// File utilities: names, existence and date tests, erasing, unique temporary files,
// flushing, free space, ANSI/OEM conversion and small text functions; and EngineFile,
// the handle through which every layer reads and writes its files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace zedra {

struct FileState {
  int32_t LastOsError = 0;  // platform code of the last search step or file-date query
  uint32_t FileMode = 18;   // the runtime's open mode: 18 read/write exclusive
};
FileState& Files();

// Error 101, "Disk write error (probable cause: Disk Full).": what every layer reports
// for a write that the disk could not take.
inline constexpr uint16_t kErrDiskWrite = 101;

// The engine's code for a failed write, extension or creation: a full disk (112), a short
// write (the platform reports it as 112 too) and a file beyond the size limit (223) become
// 101; every other platform code stays as it is.
uint32_t WriteErrorCode(uint32_t platform_error);

// An open file addressed by explicit offsets. Move-only; closes itself. Its writes,
// truncations and creation report through WriteErrorCode.
class EngineFile {
 public:
  EngineFile() = default;
  ~EngineFile();
  EngineFile(EngineFile&& other) noexcept;
  EngineFile& operator=(EngineFile&& other) noexcept;
  EngineFile(const EngineFile&) = delete;
  EngineFile& operator=(const EngineFile&) = delete;

  // Opens with the given mode; the default is the runtime open mode (Files().FileMode).
  // Returns 0 or the platform error code.
  uint32_t Open(const std::string& path);
  uint32_t Open(const std::string& path, uint32_t mode);
  // Creates or truncates.
  uint32_t Create(const std::string& path, uint32_t mode);
  uint32_t Close();

  bool IsOpen() const { return fd_ != platform::kInvalidFile; }
  platform::FileHandle handle() const { return fd_; }
  const std::string& path() const { return path_; }
  // The open file now goes by another name (it was renamed while open).
  void Renamed(const std::string& path) { path_ = path; }
  uint32_t mode() const { return mode_; }

  // Reads exactly buffer.size() bytes at offset; a short read returns 38 (end of file)
  // and *done, when given, receives the count read.
  uint32_t ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* done = nullptr) const;
  uint32_t WriteAt(uint64_t offset, std::span<const uint8_t> bytes) const;
  uint64_t Size(uint32_t* error = nullptr) const;
  uint32_t Truncate(uint64_t size) const;

  // Changes with every write, truncation, open and close through this object (failed ones
  // included), never back to an earlier value: a copy of the file's bytes taken while the
  // stamp was s is still the file's own as long as the stamp is s.
  uint64_t change_stamp() const { return stamp_; }

 private:
  using OpenFunction = platform::FileHandle (*)(const std::string&, uint32_t, uint32_t*);
  // Closes what is open, then opens path with the given platform call.
  uint32_t Attach(OpenFunction open, const std::string& path, uint32_t mode);

  platform::FileHandle fd_ = platform::kInvalidFile;
  std::string path_;
  uint32_t mode_ = 0;
  mutable uint64_t stamp_ = 0;
  void Touch() const;
};
inline constexpr uint32_t kErrHandleEof = 38;  // Windows ERROR_HANDLE_EOF: short read

struct PathParts {
  std::string dir;   // ends in the separator unless empty
  std::string name;  // without extension, at most 64 characters
  std::string ext;   // with its dot, at most 64 characters
};
PathParts SplitPath(std::string_view path);
std::string ExpandPath(std::string_view path);
std::string DefaultExtension(std::string_view path, std::string_view ext);
std::string ForceExtension(std::string_view path, std::string_view ext);
bool FilePresent(const std::string& path);

struct SearchRec {
  std::string name;
  uint64_t size = 0;
  int64_t time = 0;
  std::vector<platform::DirEntry> entries;  // the matches still to hand out
  size_t next = 0;
};
// The runtime's directory search. attributes is accepted for the engine's calls; only
// plain files are found. Both store their result in LastOsError; 18 = no more files.
int32_t DirSearchFirst(const std::string& pattern, uint32_t attributes, SearchRec* rec);
int32_t DirSearchNext(SearchRec* rec);
void DirSearchClose(SearchRec* rec);

int64_t FileDateOf(const EngineFile& file);
bool FileDateIsToday(const std::string& path);
uint32_t EraseFile(const std::string& path);
void EraseFiles(const std::string& pattern);
std::string UniqueFilename();
void FlushFile(const EngineFile& file);
int32_t DiskFreeKB(std::string_view path);
int32_t DriveFreeKB(int drive);

std::string AnsiToOemText(std::string_view text);
std::string OemToAnsiText(std::string_view text);
std::string UpperText(std::string_view text);
char UpperChar(char c);
char LowerChar(char c);
std::string TrimRightText(std::string_view text);
std::string TrimLeftText(std::string_view text);
std::string AllTrim(std::string_view text);
std::string NumToText(int64_t number, int width);

// Little-endian and big-endian integers at explicit offsets of a byte buffer.
inline uint16_t GetLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t GetLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}
inline uint16_t GetBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) |
         uint32_t(p[3]);
}
inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void PutBE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}

}  // namespace zedra
