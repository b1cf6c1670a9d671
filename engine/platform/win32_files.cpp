// Windows files for the engine: the open and share modes, byte-range locks, names,
// directories and unique files on the system's own services.
//
// Files open synchronously and every transfer names its offset (an OVERLAPPED structure
// on a synchronous handle), so that no call depends on a file pointer. Error codes are
// the system's, straight from GetLastError.
#include <windows.h>

// The engine's own names, not the system's character-set macros.
#undef CreateFile

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/layer.h"
#include "platform/platform.h"

namespace zedra::platform {
namespace {

using layer::Failed;
using layer::Inject;

// One transfer asks the system for at most this many bytes.
constexpr DWORD kMaxChunk = 1u << 30;

// Seconds between 1601-01-01 (the start of a FILETIME) and 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;

// FileRenameInfoEx (Windows 10 1607 and later), which the headers declare only for
// builds that require that version.
constexpr auto kRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

HANDLE AsHandle(FileHandle fd) { return reinterpret_cast<HANDLE>(fd); }
FileHandle AsFile(HANDLE h) { return reinterpret_cast<FileHandle>(h); }

uint32_t FailLast() { return Failed(static_cast<uint32_t>(::GetLastError())); }

// The handles open for reading only: their range locks are shared ones. The system
// does not tell a handle's access afterwards, so the layer keeps note of it.
class ReadOnlyHandles {
 public:
  void Add(FileHandle fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.insert(fd);
  }
  void Remove(FileHandle fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    handles_.erase(fd);
  }
  bool Contains(FileHandle fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.count(fd) != 0;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<FileHandle> handles_;
};

ReadOnlyHandles& ReadOnly() {
  static ReadOnlyHandles handles;
  return handles;
}

DWORD AccessOf(uint32_t mode) {
  switch (mode & 0x7) {
    case 0: return GENERIC_READ;
    case 1: return GENERIC_WRITE;
    default: return GENERIC_READ | GENERIC_WRITE;
  }
}

// What other openers may do while this handle is open. Renaming and deleting are always
// left to them: POSIX never refuses either, and a rewrite replaces files by renaming.
DWORD ShareOf(uint32_t mode) {
  DWORD share = FILE_SHARE_DELETE;
  switch (mode & 0x70) {
    case 0x20: share |= FILE_SHARE_READ; break;                     // deny write
    case 0x30: share |= FILE_SHARE_WRITE; break;                    // deny read
    case 0x40: share |= FILE_SHARE_READ | FILE_SHARE_WRITE; break;  // deny none
    default: break;  // compatibility and exclusive: nobody else
  }
  if (layer::OthersMayRead()) share |= FILE_SHARE_READ;
  return share;
}

FileHandle OpenWith(const std::string& path, uint32_t mode, DWORD disposition, uint32_t* error) {
  HANDLE h = ::CreateFileA(path.c_str(), AccessOf(mode), ShareOf(mode), nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = FailLast();
    return kInvalidFile;
  }
  // Consoles, pipes and devices ("NUL", "COM1") open by name as well: none of them is a
  // table, memo or index file. A directory does not open at all (5).
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    *error = Failed(kErrAccessDenied);
    return kInvalidFile;
  }
  const FileHandle fd = AsFile(h);
  if ((mode & 0x7) == 0) ReadOnly().Add(fd);
  *error = 0;
  return fd;
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov = {};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

uint32_t RangeLock(FileHandle fd, uint64_t offset, uint64_t length, bool unlock) {
  if (length == 0) return 0;
  OVERLAPPED ov = At(offset);
  const DWORD low = static_cast<DWORD>(length);
  const DWORD high = static_cast<DWORD>(length >> 32);
  BOOL done;
  if (unlock) {
    done = ::UnlockFileEx(AsHandle(fd), 0, low, high, &ov);
  } else {
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY;
    if (!ReadOnly().Contains(fd)) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    done = ::LockFileEx(AsHandle(fd), flags, 0, low, high, &ov);
  }
  if (done) return 0;
  const DWORD error = ::GetLastError();
  // A lock that cannot be granted at once is held by another opener.
  if (!unlock && (error == ERROR_IO_PENDING || error == ERROR_SHARING_VIOLATION))
    return Failed(kErrLockViolation);
  // An unlock conflicts with nobody: it fails only for a range this handle does not hold,
  // which Windows reports as 158 (Wine says 33 for it).
  if (unlock && error == ERROR_LOCK_VIOLATION) return Failed(kErrNotLocked);
  return Failed(static_cast<uint32_t>(error));
}

// FILETIME (100 ns since 1601) as seconds since 1970.
int64_t UnixSeconds(const FILETIME& ft) {
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000u) - kEpochDifference;
}

std::string WithSeparator(std::string dir) {
  if (dir.empty()) dir = ".";
  if (!IsPathSeparator(dir.back())) dir += kPathSeparator;
  return dir;
}

// The same rename as MoveFileExA, by handle with POSIX semantics: the target's name is
// replaced even while another program has it open (it keeps the old file, as on POSIX).
// Windows 10 and later; false where the system does not offer it.
bool RenameByHandle(const std::string& from, const std::string& to) {
  char full[MAX_PATH * 2];
  const DWORD length = ::GetFullPathNameA(to.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) return false;
  const int wide = ::MultiByteToWideChar(CP_ACP, 0, full, -1, nullptr, 0);
  if (wide <= 0) return false;
  HANDLE h = ::CreateFileA(from.c_str(), DELETE | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const size_t bytes = sizeof(FILE_RENAME_INFO) + static_cast<size_t>(wide) * sizeof(WCHAR);
  std::vector<unsigned char> buffer(bytes, 0);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>((wide - 1) * sizeof(WCHAR));
  ::MultiByteToWideChar(CP_ACP, 0, full, -1, info->FileName, wide);
  const bool renamed =
      ::SetFileInformationByHandle(h, kRenameInfoEx, info, static_cast<DWORD>(bytes)) != 0;
  ::CloseHandle(h);
  return renamed;
}

// The directory part of a path, with its separator ("" for a bare name).
std::string DirectoryOf(const std::string& path) {
  const size_t last = path.find_last_of(kPathSeparators);
  return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

// Where renaming by handle is not offered: the open target moves aside under a unique
// name of its directory (it may, since every open here shares deletion), the file takes
// its name, and the old one is deleted; it goes on living for those who hold it open.
// For the moment between the two moves the name is free: a program that ends there
// leaves the rename to be done again (a rewrite's journal does it) and a file ZED*.TMP.
uint32_t ReplaceOpenFile(const std::string& from, const std::string& to) {
  const std::string dir = DirectoryOf(to);
  char aside[MAX_PATH];
  if (::GetTempFileNameA(dir.empty() ? "." : dir.c_str(), "ZED", 0, aside) == 0) return FailLast();
  if (!::MoveFileExA(to.c_str(), aside, MOVEFILE_REPLACE_EXISTING)) {
    const uint32_t error = FailLast();
    ::DeleteFileA(aside);
    return error;
  }
  if (!::MoveFileExA(from.c_str(), to.c_str(), 0)) {
    const uint32_t error = FailLast();
    ::MoveFileExA(aside, to.c_str(), 0);
    return error;
  }
  ::DeleteFileA(aside);
  return 0;
}

}  // namespace

void FailWritesBeyondSizeLimit() {}

FileHandle OpenFile(const std::string& path, uint32_t mode, uint32_t* error) {
  return OpenWith(path, mode, OPEN_EXISTING, error);
}

FileHandle CreateFile(const std::string& path, uint32_t mode, uint32_t* error) {
  // A created file must be writable whatever the access bits say.
  const uint32_t create_mode = (mode & ~0x7u) | 2u;
  if (uint32_t injected = Inject(FileChange::Create); injected != 0) {
    *error = injected;
    return kInvalidFile;
  }
  // CREATE_ALWAYS truncates only when the share modes admit this open: a file another
  // program holds exclusively fails with 32 and keeps its data.
  return OpenWith(path, create_mode, CREATE_ALWAYS, error);
}

uint32_t CloseFile(FileHandle fd) {
  if (fd == kInvalidFile) return Failed(kErrInvalidHandle);
  ReadOnly().Remove(fd);
  return ::CloseHandle(AsHandle(fd)) ? 0 : FailLast();
}

uint32_t ReadAt(FileHandle fd, uint64_t offset, std::span<uint8_t> buffer, size_t* done) {
  size_t total = 0;
  uint32_t error = 0;
  while (total < buffer.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(buffer.size() - total, kMaxChunk));
    OVERLAPPED ov = At(offset + total);
    DWORD got = 0;
    if (!::ReadFile(AsHandle(fd), buffer.data() + total, chunk, &got, &ov)) {
      // Reading at or past the end is a short read, not a failure.
      if (::GetLastError() != ERROR_HANDLE_EOF) error = FailLast();
      break;
    }
    if (got == 0) break;
    total += got;
  }
  if (done) *done = total;
  return error;
}

uint32_t WriteAt(FileHandle fd, uint64_t offset, std::span<const uint8_t> bytes, size_t* done) {
  if (done) *done = 0;
  size_t allowed = bytes.size();
  if (uint32_t injected = Inject(FileChange::Write, &allowed); injected != 0) return injected;
  const std::span<const uint8_t> part = bytes.first(std::min(allowed, bytes.size()));
  size_t written = 0;
  uint32_t error = 0;
  while (written < part.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(part.size() - written, kMaxChunk));
    OVERLAPPED ov = At(offset + written);
    DWORD put = 0;
    if (!::WriteFile(AsHandle(fd), part.data() + written, chunk, &put, &ov)) {
      error = FailLast();
      break;
    }
    if (put == 0) break;
    written += put;
  }
  if (done) *done = written;
  // A write that stops short without an error found the disk full.
  if (error == 0 && written != bytes.size()) error = Failed(kErrDiskFull);
  return error;
}

uint64_t FileSize(FileHandle fd, uint32_t* error) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(AsHandle(fd), &size)) {
    const uint32_t e = FailLast();
    if (error) *error = e;
    return 0;
  }
  if (error) *error = 0;
  return static_cast<uint64_t>(size.QuadPart);
}

uint32_t TruncateFile(FileHandle fd, uint64_t size) {
  if (uint32_t injected = Inject(FileChange::Truncate); injected != 0) return injected;
  if (size > static_cast<uint64_t>(INT64_MAX)) return Failed(kErrInvalidParameter);
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFilePointerEx(AsHandle(fd), at, nullptr, FILE_BEGIN)) return FailLast();
  return ::SetEndOfFile(AsHandle(fd)) ? 0 : FailLast();
}

uint32_t FlushFile(FileHandle fd) {
  if (uint32_t injected = Inject(FileChange::Flush); injected != 0) return injected;
  return ::FlushFileBuffers(AsHandle(fd)) ? 0 : FailLast();
}

int64_t FileModTime(FileHandle fd, uint32_t* error) {
  FILETIME written;
  if (!::GetFileTime(AsHandle(fd), nullptr, nullptr, &written)) {
    const uint32_t e = FailLast();
    if (error) *error = e;
    return 0;
  }
  if (error) *error = 0;
  return UnixSeconds(written);
}

uint32_t LockRegion(FileHandle fd, uint64_t offset, uint64_t length) {
  return RangeLock(fd, offset, length, false);
}

uint32_t UnlockRegion(FileHandle fd, uint64_t offset, uint64_t length) {
  return RangeLock(fd, offset, length, true);
}

bool FileExists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

uint32_t RemoveFile(const std::string& path) {
  if (uint32_t injected = Inject(FileChange::Remove); injected != 0) return injected;
  return ::DeleteFileA(path.c_str()) ? 0 : FailLast();
}

uint32_t RenameFile(const std::string& from, const std::string& to) {
  if (uint32_t injected = Inject(FileChange::Rename); injected != 0) return injected;
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return 0;
  const DWORD error = ::GetLastError();
  // A target that is open (here or in another program) refuses to be replaced by name.
  if (error != ERROR_ACCESS_DENIED || !FileExists(to) || !FileExists(from)) return Failed(error);
  if (RenameByHandle(from, to)) return 0;
  return ReplaceOpenFile(from, to);
}

std::string CurrentDirectory() {
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return ".";
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(n);
  }
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return CurrentDirectory();
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()),
                                       buffer.data(), nullptr);
    if (n == 0) return path;
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(n);
  }
}

std::string ResolveCase(const std::string& path) { return path; }

uint32_t ListDirectory(const std::string& directory, const std::string& pattern,
                       std::vector<DirEntry>* entries) {
  entries->clear();
  const std::string dir = WithSeparator(directory);
  WIN32_FIND_DATAA found;
  // Every entry is read and matched here, as on every system: the system's own match
  // would also find names by their short 8.3 aliases.
  HANDLE search = ::FindFirstFileA((dir + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? 0 : Failed(error);
  }
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == ".." || !WildcardMatch(pattern, name)) continue;
    const uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    entries->push_back({name, size, UnixSeconds(found.ftLastWriteTime),
                        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (::FindNextFileA(search, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  return error == ERROR_NO_MORE_FILES ? 0 : Failed(error);
}

std::string TempDirectory() {
  char buffer[MAX_PATH + 1];
  const DWORD n = ::GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n > MAX_PATH) return WithSeparator(CurrentDirectory());
  return WithSeparator(std::string(buffer, n));
}

std::string CreateUniqueFile(const std::string& directory, const std::string& prefix,
                             uint32_t* error) {
  if (uint32_t injected = Inject(FileChange::Create); injected != 0) {
    *error = injected;
    return {};
  }
  char name[MAX_PATH];
  const std::string dir = directory.empty() ? "." : directory;
  if (::GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, name) == 0) {
    *error = FailLast();
    return {};
  }
  *error = 0;
  return name;
}

std::string DriveRoot(int drive) {
  if (drive < 1 || drive > 26) return {};
  return std::string(1, static_cast<char>('A' + drive - 1)) + ":\\";
}

std::optional<uint64_t> FreeBytes(const std::string& path) {
  // A drive without its medium answers with an error code, not a dialog.
  QuietCriticalErrors quiet;
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(path.empty() ? nullptr : path.c_str(), &available, nullptr,
                             nullptr)) {
    FailLast();
    return std::nullopt;
  }
  return static_cast<uint64_t>(available.QuadPart);
}

}  // namespace zedra::platform
