// POSIX files for the engine: Windows open and share modes, byte-range locks, names,
// directories and unique files.
//
// Sharing is emulated with flock() on the open file description: deny-none opens take a
// shared flock, every other sharing mode an exclusive one, both non-blocking, so two
// exclusive opens (or one exclusive and one shared) collide with error 32 as on Windows.
// Byte-range locks use open-file-description locks (F_OFD_SETLK) so that they belong to
// the open file, like LockFile, and closing another descriptor of the same file keeps them.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <utility>

#include "platform/layer.h"
#include "platform/platform.h"

namespace zedra::platform {
namespace {

using layer::Failed;
using layer::Inject;

uint32_t Fail(int err) { return Failed(ErrnoToWinError(err)); }

int AccessFlags(uint32_t mode) {
  switch (mode & 0x7) {
    case 0: return O_RDONLY;
    case 1: return O_WRONLY;
    default: return O_RDWR;
  }
}

// Takes the flock that stands for the mode's sharing; 0 or the error code.
uint32_t TakeShareLock(int fd, uint32_t mode) {
  const bool deny_none = (mode & 0x70) == 0x40;
  if (flock(fd, (deny_none ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0) return 0;
  if (errno == EWOULDBLOCK) return kErrSharingViolation;
  return ErrnoToWinError(errno);
}

FileHandle OpenWith(const std::string& path, uint32_t mode, int extra, uint32_t* error) {
  // O_NONBLOCK: a FIFO named like a table must be refused, not waited on for a writer.
  int fd = ::open(path.c_str(), AccessFlags(mode) | O_CLOEXEC | O_NONBLOCK | extra, 0666);
  if (fd < 0) {
    *error = Fail(errno);
    return kInvalidFile;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = Fail(errno);
    ::close(fd);
    return kInvalidFile;
  }
  // Directories, FIFOs, sockets and devices are no table, memo or index file.
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = Failed(kErrAccessDenied);
    return kInvalidFile;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    *error = Fail(errno);
    ::close(fd);
    return kInvalidFile;
  }
  if (uint32_t e = TakeShareLock(fd, mode)) {
    ::close(fd);
    *error = Failed(e);
    return kInvalidFile;
  }
  // Another program may have replaced the file under its name (a pack renames the
  // rewritten table over the old one) between the open and the share lock: the lock
  // then guards a file nobody else will see. Such an open counts as a sharing conflict,
  // so that the caller's retry opens the name again.
  struct stat named;
  if (::stat(path.c_str(), &named) != 0 || named.st_ino != st.st_ino || named.st_dev != st.st_dev) {
    ::close(fd);
    *error = Failed(kErrSharingViolation);
    return kInvalidFile;
  }
  // Truncation waits until the share lock is ours: truncating a file another program has
  // open exclusively would destroy its data.
  if ((extra & O_CREAT) && ftruncate(fd, 0) != 0) {
    *error = Fail(errno);
    ::close(fd);
    return kInvalidFile;
  }
  *error = 0;
  return fd;
}

uint32_t RangeLock(FileHandle fd, uint64_t offset, uint64_t length, short type) {
  if (length == 0) return 0;
  // A write lock needs a descriptor open for writing. One open for reading only takes a
  // read lock instead: it still excludes every other program's lock of the range, and
  // other readers may share it, which is harmless since none of them can write.
  if (type == F_WRLCK) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_ACCMODE) == O_RDONLY) type = F_RDLCK;
  }
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  // Offsets beyond the signed range cannot be locked on POSIX; the engine's lock base
  // sits far below that.
  if (offset > static_cast<uint64_t>(INT64_MAX) || length > static_cast<uint64_t>(INT64_MAX))
    return Failed(kErrInvalidParameter);
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  if (fcntl(fd, F_OFD_SETLK, &fl) == 0) return 0;
  if (errno == EAGAIN || errno == EACCES) return Failed(kErrLockViolation);
  return Fail(errno);
}

// Repeats a positional read or write until size bytes are done, the file ends (a step of
// 0 bytes) or an error other than an interruption occurs; *done gets the count.
template <typename Step>
uint32_t Transfer(size_t size, size_t* done, Step step) {
  size_t total = 0;
  uint32_t error = 0;
  while (total < size) {
    ssize_t n = step(total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = Fail(errno);
      break;
    }
    if (n == 0) break;
    total += static_cast<size_t>(n);
  }
  if (done) *done = total;
  return error;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

uint32_t ErrnoToWinError(int err) {
  switch (err) {
    case 0: return 0;
    case ENOENT: return kErrFileNotFound;
    case ENOTDIR: return kErrPathNotFound;
    case EMFILE:
    case ENFILE: return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR: return kErrAccessDenied;
    case EBADF: return kErrInvalidHandle;
    case ENOMEM: return kErrNotEnoughMemory;
    case EROFS: return kErrWriteProtect;
    case EWOULDBLOCK: return kErrLockViolation;
    case ENOSPC:
    case EDQUOT: return kErrDiskFull;
    case EFBIG: return kErrFileTooLarge;
    case EINVAL: return kErrInvalidParameter;
    case ENAMETOOLONG: return kErrFilenameTooLong;
    case EEXIST: return kErrFileExists;
    default: return 31;             // ERROR_GEN_FAILURE
  }
}

void FailWritesBeyondSizeLimit() { ::signal(SIGXFSZ, SIG_IGN); }

FileHandle OpenFile(const std::string& path, uint32_t mode, uint32_t* error) {
  return OpenWith(path, mode, 0, error);
}

FileHandle CreateFile(const std::string& path, uint32_t mode, uint32_t* error) {
  // A created file must be writable whatever the access bits say.
  uint32_t create_mode = (mode & ~0x7u) | 2u;
  if (uint32_t injected = Inject(FileChange::Create); injected != 0) {
    *error = injected;
    return kInvalidFile;
  }
  return OpenWith(path, create_mode, O_CREAT, error);
}

uint32_t CloseFile(FileHandle fd) {
  if (fd < 0) return Failed(kErrInvalidHandle);
  return ::close(fd) == 0 ? 0 : Fail(errno);
}

uint32_t ReadAt(FileHandle fd, uint64_t offset, std::span<uint8_t> buffer, size_t* done) {
  return Transfer(buffer.size(), done, [&](size_t total) {
    return ::pread(fd, buffer.data() + total, buffer.size() - total,
                   static_cast<off_t>(offset + total));
  });
}

uint32_t WriteAt(FileHandle fd, uint64_t offset, std::span<const uint8_t> bytes, size_t* done) {
  if (done) *done = 0;
  size_t allowed = bytes.size();
  if (uint32_t injected = Inject(FileChange::Write, &allowed); injected != 0) return injected;
  const std::span<const uint8_t> part = bytes.first(std::min(allowed, bytes.size()));
  size_t written = 0;
  uint32_t error = Transfer(part.size(), &written, [&](size_t total) {
    return ::pwrite(fd, part.data() + total, part.size() - total,
                    static_cast<off_t>(offset + total));
  });
  if (done) *done = written;
  // A write that stops short without an error found the disk full.
  if (error == 0 && written != bytes.size()) error = Failed(kErrDiskFull);
  return error;
}

uint64_t FileSize(FileHandle fd, uint32_t* error) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    if (error) *error = Fail(errno);
    return 0;
  }
  if (error) *error = 0;
  return static_cast<uint64_t>(st.st_size);
}

uint32_t TruncateFile(FileHandle fd, uint64_t size) {
  if (uint32_t injected = Inject(FileChange::Truncate); injected != 0) return injected;
  return ftruncate(fd, static_cast<off_t>(size)) == 0 ? 0 : Fail(errno);
}

uint32_t FlushFile(FileHandle fd) {
  if (uint32_t injected = Inject(FileChange::Flush); injected != 0) return injected;
  return fsync(fd) == 0 ? 0 : Fail(errno);
}

int64_t FileModTime(FileHandle fd, uint32_t* error) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    if (error) *error = Fail(errno);
    return 0;
  }
  if (error) *error = 0;
  return static_cast<int64_t>(st.st_mtime);
}

uint32_t LockRegion(FileHandle fd, uint64_t offset, uint64_t length) {
  return RangeLock(fd, offset, length, F_WRLCK);
}

uint32_t UnlockRegion(FileHandle fd, uint64_t offset, uint64_t length) {
  return RangeLock(fd, offset, length, F_UNLCK);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

uint32_t RemoveFile(const std::string& path) {
  if (uint32_t injected = Inject(FileChange::Remove); injected != 0) return injected;
  return ::unlink(path.c_str()) == 0 ? 0 : Fail(errno);
}

uint32_t RenameFile(const std::string& from, const std::string& to) {
  if (uint32_t injected = Inject(FileChange::Rename); injected != 0) return injected;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : Fail(errno);
}

std::string CurrentDirectory() {
  std::string buffer(4096, '\0');
  if (!::getcwd(buffer.data(), buffer.size())) return ".";
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return buffer;
}

std::string AbsolutePath(const std::string& path) {
  std::string full = (!path.empty() && path[0] == '/') ? path : CurrentDirectory() + "/" + path;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string result;
  for (const std::string& p : parts) result += "/" + p;
  if (result.empty()) result.push_back('/');
  if (full.size() > 1 && full.back() == '/' && result != "/") result += "/";
  return result;
}

std::string ResolveCase(const std::string& path) {
  if (path.empty() || FileExists(path)) return path;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return path;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return path;
  std::string wanted = Lower(name), found;
  while (dirent* e = ::readdir(d)) {
    if (Lower(e->d_name) == wanted) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  if (found.empty()) return path;
  return slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
}

uint32_t ListDirectory(const std::string& directory, const std::string& pattern,
                       std::vector<DirEntry>* entries) {
  entries->clear();
  std::string dir = directory.empty() ? "." : directory;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return Fail(errno == ENOENT ? ENOTDIR : errno);
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || !WildcardMatch(pattern, name)) continue;
    std::string full = dir + (dir.back() == '/' ? "" : "/") + name;
    struct stat st;
    if (::stat(full.c_str(), &st) != 0) continue;
    entries->push_back({name, static_cast<uint64_t>(st.st_size),
                        static_cast<int64_t>(st.st_mtime), S_ISDIR(st.st_mode)});
  }
  ::closedir(d);
  return 0;
}

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string result = dir && *dir ? dir : "/tmp";
  if (result.back() != '/') result += '/';
  return result;
}

std::string CreateUniqueFile(const std::string& directory, const std::string& prefix,
                             uint32_t* error) {
  if (uint32_t injected = Inject(FileChange::Create); injected != 0) {
    *error = injected;
    return {};
  }
  static std::mt19937 random{std::random_device{}()};
  std::string dir = directory;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  for (int attempt = 0; attempt < 1000; ++attempt) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(random() & 0xFFFF));
    std::string name = dir + prefix + digits + ".tmp";
    int fd = ::open(name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      *error = 0;
      return name;
    }
    if (errno != EEXIST) {
      *error = Fail(errno);
      return "";
    }
  }
  *error = Failed(kErrFileExists);  // every name of the range was taken
  return "";
}

std::string DriveRoot(int /*drive*/) { return {}; }

std::optional<uint64_t> FreeBytes(const std::string& path) {
  struct statvfs vfs;
  if (::statvfs(path.empty() ? "." : path.c_str(), &vfs) != 0) {
    Fail(errno);
    return std::nullopt;
  }
  return static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
}

}  // namespace zedra::platform
