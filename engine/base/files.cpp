// File utilities of the engine: EngineFile, names, searches, erasing, unique files,
// flushing, free space, ANSI/OEM conversion and small text functions.
#include "base/files.h"

#include <algorithm>
#include <atomic>

#include "base/dates.h"
#include "base/errors.h"

namespace zedra {
namespace {

// Name and extension parts keep at most 64 characters; paths at most 255.
constexpr size_t kMaxNamePart = 64;
constexpr size_t kMaxPath = 255;

// Directory searches end with "no more files".
constexpr int32_t kErrNoMoreFiles = 18;


// Sets the runtime open mode for one scope and restores the previous one.
class FileModeScope {
 public:
  explicit FileModeScope(uint32_t mode) : previous_(Files().FileMode) { Files().FileMode = mode; }
  ~FileModeScope() { Files().FileMode = previous_; }
  FileModeScope(const FileModeScope&) = delete;
  FileModeScope& operator=(const FileModeScope&) = delete;

 private:
  uint32_t previous_;
};

}  // namespace

FileState& Files() {
  static FileState state;
  return state;
}

// ---------------------------------------------------------------------------------------
// EngineFile

EngineFile::~EngineFile() { Close(); }

void EngineFile::Touch() const {
  // One counter for all files, so that a file moved into another object never takes a
  // stamp that object had before.
  static std::atomic<uint64_t> last_stamp{0};
  stamp_ = last_stamp.fetch_add(1, std::memory_order_relaxed) + 1;
}

EngineFile::EngineFile(EngineFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), mode_(other.mode_) {
  other.fd_ = platform::kInvalidFile;
  Touch();
  other.Touch();
}

EngineFile& EngineFile::operator=(EngineFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    path_ = std::move(other.path_);
    mode_ = other.mode_;
    other.fd_ = platform::kInvalidFile;
    Touch();
    other.Touch();
  }
  return *this;
}

uint32_t EngineFile::Open(const std::string& path) { return Open(path, Files().FileMode); }

uint32_t EngineFile::Open(const std::string& path, uint32_t mode) {
  return Attach(platform::OpenFile, path, mode);
}

uint32_t EngineFile::Create(const std::string& path, uint32_t mode) {
  return WriteErrorCode(Attach(platform::CreateFile, path, mode));
}

uint32_t WriteErrorCode(uint32_t platform_error) {
  if (platform_error == platform::kErrDiskFull || platform_error == platform::kErrFileTooLarge)
    return kErrDiskWrite;
  return platform_error;
}

uint32_t EngineFile::Attach(OpenFunction open, const std::string& path, uint32_t mode) {
  Close();
  Touch();
  uint32_t error = 0;
  fd_ = open(path, mode, &error);
  if (fd_ != platform::kInvalidFile) {
    path_ = path;
    mode_ = mode;
  }
  return error;
}

uint32_t EngineFile::Close() {
  if (fd_ == platform::kInvalidFile) return 0;
  Touch();
  uint32_t error = platform::CloseFile(fd_);
  fd_ = platform::kInvalidFile;
  return error;
}

uint32_t EngineFile::ReadAt(uint64_t offset, std::span<uint8_t> buffer, size_t* done) const {
  size_t got = 0;
  uint32_t error = platform::ReadAt(fd_, offset, buffer, &got);
  if (done) *done = got;
  if (error) return error;
  return got == buffer.size() ? 0 : kErrHandleEof;
}

uint32_t EngineFile::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) const {
  size_t put = 0;
  Touch();
  return WriteErrorCode(platform::WriteAt(fd_, offset, bytes, &put));
}

uint64_t EngineFile::Size(uint32_t* error) const { return platform::FileSize(fd_, error); }

uint32_t EngineFile::Truncate(uint64_t size) const {
  Touch();
  return WriteErrorCode(platform::TruncateFile(fd_, size));
}

// ---------------------------------------------------------------------------------------
// Names

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  size_t last = path.find_last_of(platform::kPathSeparators);
  std::string_view file = path;
  if (last != std::string_view::npos) {
    parts.dir = std::string(path.substr(0, last + 1));
    file = path.substr(last + 1);
  }
  size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) {
    parts.name = std::string(file.substr(0, kMaxNamePart));
  } else {
    parts.name = std::string(file.substr(0, std::min(dot, kMaxNamePart)));
    parts.ext = std::string(file.substr(dot, kMaxNamePart));
  }
  return parts;
}

std::string ExpandPath(std::string_view path) { return platform::AbsolutePath(std::string(path)); }

std::string DefaultExtension(std::string_view path, std::string_view ext) {
  PathParts p = SplitPath(path);
  if (!p.ext.empty()) return std::string(path);
  std::string name = p.name;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  std::string result = p.dir + name + "." + std::string(ext.substr(0, kMaxNamePart));
  return result.substr(0, kMaxPath);
}

std::string ForceExtension(std::string_view path, std::string_view ext) {
  size_t last = path.find_last_of(platform::kPathSeparators);
  size_t start = last == std::string_view::npos ? 0 : last + 1;
  size_t dot = path.rfind('.');
  std::string base(dot != std::string_view::npos && dot >= start ? path.substr(0, dot) : path);
  return base + "." + std::string(ext);
}

bool FilePresent(const std::string& path) { return platform::FileExists(path); }

// ---------------------------------------------------------------------------------------
// Directory search

int32_t DirSearchFirst(const std::string& pattern, uint32_t /*attributes*/, SearchRec* rec) {
  *rec = SearchRec{};
  PathParts p = SplitPath(pattern);
  std::vector<platform::DirEntry> all;
  uint32_t error = platform::ListDirectory(p.dir, p.name + p.ext, &all);
  if (error) return Files().LastOsError = static_cast<int32_t>(error);
  for (platform::DirEntry& e : all)
    if (!e.is_directory) rec->entries.push_back(std::move(e));
  if (rec->entries.empty()) return Files().LastOsError = platform::kErrFileNotFound;
  return DirSearchNext(rec);
}

int32_t DirSearchNext(SearchRec* rec) {
  if (rec->next >= rec->entries.size()) return Files().LastOsError = kErrNoMoreFiles;
  const platform::DirEntry& e = rec->entries[rec->next++];
  rec->name = e.name;
  rec->size = e.size;
  rec->time = e.mtime;
  return Files().LastOsError = 0;
}

void DirSearchClose(SearchRec* rec) {
  rec->entries.clear();
  rec->next = 0;
}

// ---------------------------------------------------------------------------------------
// Dates, erasing, unique files, flushing, free space

int64_t FileDateOf(const EngineFile& file) {
  uint32_t error = 0;
  int64_t stamp = platform::FileModTime(file.handle(), &error);
  Files().LastOsError = static_cast<int32_t>(error);
  return error ? 0 : stamp;
}

bool FileDateIsToday(const std::string& path) {
  if (!FilePresent(path)) return false;
  int64_t stamp;
  {
    FileModeScope mode(platform::kModeReadShared);
    EngineFile file;
    if (file.Open(path) != 0) return false;
    stamp = FileDateOf(file);
    if (Files().LastOsError != 0) return false;
  }
  FileDateTime d = FileDateParts(stamp);
  TodayDate today = TodayParts();
  return d.year == today.year && d.month == today.month && d.day == today.day;
}

uint32_t EraseFile(const std::string& path) {
  EngineFile file;
  uint32_t error;
  {
    // The exclusive open fails while anyone else has the file open.
    FileModeScope mode(platform::kModeReadExclusive);
    error = file.Open(path);
  }
  if (error) return error;
  file.Close();
  return platform::RemoveFile(path);
}

void EraseFiles(const std::string& pattern) {
  Errors().ErrorCode = 0;
  if (pattern.find_first_of("*?") == std::string::npos) {
    uint32_t error = EraseFile(pattern);
    Errors().ErrorCode = static_cast<uint16_t>(error);
    if (error) SetError(static_cast<uint16_t>(error), "Error erasing " + pattern);
    return;
  }
  PathParts p = SplitPath(ExpandPath(pattern));
  SearchRec rec;
  Errors().ErrorCode =
      static_cast<uint16_t>(DirSearchFirst(p.dir + p.name + p.ext, 0x20, &rec));
  int failures = 0;
  int32_t status = Errors().ErrorCode;
  while (status == 0) {
    if (EraseFile(p.dir + rec.name) != 0) ++failures;
    status = DirSearchNext(&rec);
  }
  DirSearchClose(&rec);
  if (failures != 0)
    SetError(5, "Could not erase " + std::to_string(failures) + " files like " + pattern);
}

std::string UniqueFilename() {
  std::string dir = platform::TempDirectory();
  uint32_t error = 0;
  std::string name;
  if (dir.size() >= 256) {
    error = 206;  // the path does not fit the 256-character buffer
  } else {
    name = platform::CreateUniqueFile(dir, "ZED", &error);
  }
  if (name.empty()) {
    SetError(static_cast<uint16_t>(error ? error : platform::LastError()),
             "Error requesting unique file name [UniqueFilename]");
    return "";
  }
  return name;
}

void FlushFile(const EngineFile& file) {
  if (uint32_t error = platform::FlushFile(file.handle()))
    SetError(static_cast<uint16_t>(error), "Unable to flush file [FlushFile]");
}

int32_t DiskFreeKB(std::string_view path) {
  std::string p = AllTrim(path);
  // An empty path stands for the current directory's volume.
  if (p.empty()) p = platform::CurrentDirectory();
  if (!platform::IsPathSeparator(p.back())) p += platform::kPathSeparator;
  std::optional<uint64_t> bytes = platform::FreeBytes(p);
  if (!bytes) return 2147483647;
  // More than fits the signed 32-bit answer is reported as the largest it can say.
  return static_cast<int32_t>(std::min<uint64_t>(*bytes / 1024, 2147483647));
}

int32_t DriveFreeKB(int drive) {
  if (drive == 0) return DiskFreeKB("");
  // Where there are no drive letters, only the current directory's volume exists.
  const std::string root = platform::DriveRoot(drive);
  if (root.empty()) return 2147483647;
  return DiskFreeKB(root);
}

// ---------------------------------------------------------------------------------------
// Text

std::string AnsiToOemText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(platform::AnsiToOem(static_cast<uint8_t>(c)));
  return out;
}

std::string OemToAnsiText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(platform::OemToAnsi(static_cast<uint8_t>(c)));
  return out;
}

std::string UpperText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

char UpperChar(char c) { return static_cast<char>(platform::AnsiUpper(static_cast<uint8_t>(c))); }
char LowerChar(char c) { return static_cast<char>(platform::AnsiLower(static_cast<uint8_t>(c))); }

std::string TrimRightText(std::string_view text) {
  while (!text.empty() && static_cast<uint8_t>(text.back()) <= ' ') text.remove_suffix(1);
  return std::string(text);
}

std::string TrimLeftText(std::string_view text) {
  while (!text.empty() && static_cast<uint8_t>(text.front()) <= ' ') text.remove_prefix(1);
  return std::string(text);
}

std::string AllTrim(std::string_view text) { return TrimLeftText(TrimRightText(text)); }

std::string NumToText(int64_t number, int width) {
  std::string digits = std::to_string(number);
  if (width > 0 && digits.size() < static_cast<size_t>(width))
    digits.insert(0, static_cast<size_t>(width) - digits.size(), ' ');
  return digits;
}

}  // namespace zedra
