// The platform layer: share modes, byte-range locks across processes, error codes,
// case-insensitive names and locale patterns. The cases that need fork, FIFOs or errno
// are the POSIX layer's; the rest hold on Windows too.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace zedra::platform {
namespace {

using zedra::testing::TempDir;
using zedra::testing::WriteFileBytes;

#ifndef _WIN32
// Runs fn in a child process and returns its exit status.
template <typename Fn>
int InChild(Fn fn) {
  pid_t pid = fork();
  if (pid == 0) _exit(fn());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PlatformTest, ShareModesCollideAcrossProcesses) {
  TempDir dir;
  std::string path = dir.File("t.dbf");
  WriteFileBytes(path, "0123456789");
  uint32_t error = 0;
  FileHandle shared = OpenFile(path, kModeReadWriteShared, &error);
  ASSERT_NE(shared, kInvalidFile);
  // Another process may share, but not take the file exclusively.
  EXPECT_EQ(InChild([&] {
              uint32_t e;
              FileHandle f = OpenFile(path, kModeReadWriteShared, &e);
              return f == kInvalidFile ? 1 : 0;
            }), 0);
  EXPECT_EQ(InChild([&] {
              uint32_t e = 0;
              FileHandle f = OpenFile(path, kModeReadWriteExclusive, &e);
              return f == kInvalidFile ? static_cast<int>(e) : 0;
            }), 32);
  // The same holds inside one process, as on Windows.
  EXPECT_EQ(OpenFile(path, kModeReadExclusive, &error), kInvalidFile);
  EXPECT_EQ(error, kErrSharingViolation);
  EXPECT_EQ(CloseFile(shared), 0u);
  FileHandle exclusive = OpenFile(path, kModeReadWriteExclusive, &error);
  ASSERT_NE(exclusive, kInvalidFile);
  EXPECT_EQ(OpenFile(path, kModeReadShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrSharingViolation);
  CloseFile(exclusive);
}
#endif

TEST(PlatformTest, CreateDoesNotTruncateAFileHeldElsewhere) {
  TempDir dir;
  std::string path = dir.File("keep.dbf");
  WriteFileBytes(path, "precious");
  uint32_t error = 0;
  FileHandle holder = OpenFile(path, kModeReadWriteExclusive, &error);
  ASSERT_NE(holder, kInvalidFile);
  EXPECT_EQ(CreateFile(path, kModeReadWriteExclusive, &error), kInvalidFile);
  EXPECT_EQ(error, kErrSharingViolation);
  CloseFile(holder);
  EXPECT_EQ(zedra::testing::ReadFileBytes(path), "precious");
}

#ifndef _WIN32
TEST(PlatformTest, RangeLocksBelongToTheOpenFile) {
  TempDir dir;
  std::string path = dir.File("t.dbf");
  WriteFileBytes(path, "0123456789");
  uint32_t error = 0;
  FileHandle a = OpenFile(path, kModeReadWriteShared, &error);
  ASSERT_EQ(LockRegion(a, 1000000000ull, 1), 0u);
  // A second open of the same file in this process is another owner.
  FileHandle b = OpenFile(path, kModeReadWriteShared, &error);
  EXPECT_EQ(LockRegion(b, 1000000000ull, 1), kErrLockViolation);
  EXPECT_EQ(LockRegion(b, 1000000001ull, 1), 0u);
  // Closing b leaves a's lock in place.
  CloseFile(b);
  EXPECT_EQ(InChild([&] {
              uint32_t e;
              FileHandle c = OpenFile(path, kModeReadWriteShared, &e);
              return static_cast<int>(LockRegion(c, 1000000000ull, 1));
            }), 33);
  EXPECT_EQ(UnlockRegion(a, 1000000000ull, 1), 0u);
  EXPECT_EQ(InChild([&] {
              uint32_t e;
              FileHandle c = OpenFile(path, kModeReadWriteShared, &e);
              return static_cast<int>(LockRegion(c, 1000000000ull, 1));
            }), 0);
  CloseFile(a);
}
#endif

TEST(PlatformTest, ReadsWritesAndErrors) {
  TempDir dir;
  uint32_t error = 0;
  EXPECT_EQ(OpenFile(dir.File("missing"), kModeReadShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrFileNotFound);
  EXPECT_EQ(OpenFile(dir.File("no/such"), kModeReadShared, &error), kInvalidFile);
#ifdef _WIN32
  EXPECT_EQ(error, kErrPathNotFound);  // Windows tells a missing directory apart
#else
  EXPECT_EQ(error, kErrFileNotFound);
#endif
  EXPECT_EQ(OpenFile(dir.path(), kModeReadShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrAccessDenied);
  FileHandle f = CreateFile(dir.File("new"), kModeReadWriteExclusive, &error);
  ASSERT_NE(f, kInvalidFile);
  const uint8_t bytes[] = {1, 2, 3};
  size_t done = 0;
  EXPECT_EQ(WriteAt(f, 10, bytes, &done), 0u);
  EXPECT_EQ(FileSize(f, &error), 13u);
  uint8_t back[8] = {};
  EXPECT_EQ(ReadAt(f, 9, back, &done), 0u);
  EXPECT_EQ(done, 4u);  // short at the end
  EXPECT_EQ(back[1], 1);
  EXPECT_EQ(TruncateFile(f, 5), 0u);
  EXPECT_EQ(FileSize(f, &error), 5u);
  CloseFile(f);
#ifndef _WIN32
  EXPECT_EQ(ErrnoToWinError(ENOENT), 2u);
  EXPECT_EQ(ErrnoToWinError(ENOTDIR), 3u);
  EXPECT_EQ(ErrnoToWinError(EMFILE), 4u);
  EXPECT_EQ(ErrnoToWinError(EPERM), 5u);
  EXPECT_EQ(ErrnoToWinError(EBADF), 6u);
  EXPECT_EQ(ErrnoToWinError(ENOMEM), 8u);
  EXPECT_EQ(ErrnoToWinError(EROFS), 19u);
  EXPECT_EQ(ErrnoToWinError(ENOSPC), kErrDiskFull);
  EXPECT_EQ(ErrnoToWinError(EFBIG), kErrFileTooLarge);
#endif
}

#ifndef _WIN32
// A FIFO is refused at once in every mode and by Create, never waited on for its other
// end; the alarm ends a regression instead of letting it hang.
TEST(PlatformTest, OnlyRegularFilesOpen) {
  TempDir dir;
  const std::string fifo = dir.File("pipe.dbf");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(InChild([&] {
              alarm(20);
              uint32_t error = 0;
              for (uint32_t mode : {kModeReadShared, kModeReadExclusive, kModeReadWriteShared}) {
                if (OpenFile(fifo, mode, &error) != kInvalidFile || error != kErrAccessDenied) return 1;
              }
              if (CreateFile(fifo, kModeReadWriteExclusive, &error) != kInvalidFile ||
                  error != kErrAccessDenied)
                return 2;
              return 0;
            }),
            0);
  EXPECT_TRUE(FileExists(fifo));
  EXPECT_FALSE(IsRegularFile(fifo));
  EXPECT_FALSE(IsRegularFile(dir.path()));
  WriteFileBytes(dir.File("t.dbf"), "x");
  EXPECT_TRUE(IsRegularFile(dir.File("t.dbf")));
}
#endif

TEST(PlatformTest, FaultHookFailsAndShortensChanges) {
  TempDir dir;
  std::string path = dir.File("f.dat");
  uint32_t error = 0;
  FileHandle fd = CreateFile(path, kModeReadWriteExclusive, &error);
  ASSERT_NE(fd, kInvalidFile);
  std::vector<FileChange> seen;
  SetFaultHook([&](FileChange change, size_t* size) -> uint32_t {
    seen.push_back(change);
    if (change == FileChange::Write && *size == 4) *size = 1;  // a disk that fills up
    return change == FileChange::Truncate || change == FileChange::Rename ? 19u : 0u;
  });
  const std::vector<uint8_t> bytes = {'a', 'b', 'c', 'd'};
  size_t done = 99;
  EXPECT_EQ(WriteAt(fd, 0, bytes, &done), kErrDiskFull);
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(WriteAt(fd, 1, std::span(bytes).first(2), &done), 0u);
  EXPECT_EQ(TruncateFile(fd, 0), 19u);
  EXPECT_EQ(LastError(), 19u);
  EXPECT_EQ(RenameFile(path, dir.File("g.dat")), 19u);
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(FileSize(fd, &error), 3u);  // the refused truncate changed nothing
  EXPECT_EQ(seen, (std::vector<FileChange>{FileChange::Write, FileChange::Write,
                                           FileChange::Truncate, FileChange::Rename}));
  SetFaultHook({});
  EXPECT_EQ(TruncateFile(fd, 0), 0u);
  CloseFile(fd);
}

TEST(PlatformTest, NamesFromWindowsMatchInAnyCase) {
  TempDir dir;
  WriteFileBytes(dir.File("PEERS.dbf"), "x");
#ifdef _WIN32
  // The system finds the name in any case itself.
  EXPECT_EQ(ResolveCase(dir.File("peers.DBF")), dir.File("peers.DBF"));
  EXPECT_TRUE(FileExists(dir.File("peers.DBF")));
#else
  EXPECT_EQ(ResolveCase(dir.File("peers.DBF")), dir.File("PEERS.dbf"));
#endif
  EXPECT_EQ(ResolveCase(dir.File("PEERS.dbf")), dir.File("PEERS.dbf"));
  EXPECT_EQ(ResolveCase(dir.File("other.dbf")), dir.File("other.dbf"));
  EXPECT_TRUE(WildcardMatch("*.DBF", "a.dbf"));
  EXPECT_TRUE(WildcardMatch("T?.tmp", "T1.TMP"));
  EXPECT_FALSE(WildcardMatch("T?.tmp", "T12.TMP"));
  EXPECT_TRUE(WildcardMatch("*.*", "README"));
  EXPECT_TRUE(WildcardMatch("a*b*c", "aXbYbZc"));
}

TEST(PlatformTest, LocalePatternsAndLanguages) {
  EXPECT_EQ(WindowsDatePattern("%d.%m.%Y"), "dd.MM.yyyy");
  EXPECT_EQ(WindowsDatePattern("%m/%d/%y"), "MM/dd/yy");
  EXPECT_EQ(WindowsDatePattern("%Y-%m-%d"), "yyyy-MM-dd");
  EXPECT_EQ(LanguageIdFromLocaleName("en_US.UTF-8"), 0x0409);
  EXPECT_EQ(LanguageIdFromLocaleName("en_GB"), 0x0809);
  EXPECT_EQ(LanguageIdFromLocaleName("de_AT.UTF-8@euro"), 0x0407);
  EXPECT_EQ(LanguageIdFromLocaleName("fr_CA.UTF-8"), 0x0C0C);
  EXPECT_EQ(LanguageIdFromLocaleName("fr_BE"), 0x040C);
  EXPECT_EQ(LanguageIdFromLocaleName("POSIX"), 0x0409);
  LocaleInfo info;
  info.language_id = 0x0419;
  SetLocaleOverride(info);
  EXPECT_EQ(CurrentLocale().language_id, 0x0419);
  SetLocaleOverride(std::nullopt);
  EXPECT_LT(TickCount() - TickCount(), 1000u);
}

TEST(PlatformTest, CodePageTablesAreInversePermutations) {
  for (int c = 0; c < 256; ++c) {
    EXPECT_EQ(OemToAnsi(AnsiToOem(static_cast<uint8_t>(c))), c);
    EXPECT_EQ(AnsiToOem(OemToAnsi(static_cast<uint8_t>(c))), c);
    if (AnsiUpper(static_cast<uint8_t>(c)) != c) {
      EXPECT_EQ(AnsiLower(AnsiUpper(static_cast<uint8_t>(c))), c) << c;
    }
  }
  EXPECT_EQ(Cp1252ToUtf8("\xE9"), "é");
  EXPECT_EQ(Cp850ToUtf8("\x82"), "é");
  EXPECT_EQ(Utf8ToCp1252("é€"), "\xE9\x80");
  EXPECT_EQ(Utf8ToCp1252("日"), "?");
}

}  // namespace
}  // namespace zedra::platform
