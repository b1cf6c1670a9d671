// The Windows platform layer on the system itself: what the POSIX layer emulates (locks
// that belong to a handle, share modes, unique names, the locale's date styles) must be
// what Windows does.
#include <gtest/gtest.h>

#include <set>

#include "base/dates.h"
#include "engine.h"
#include "platform/platform.h"
#include "platform/win32_locale.h"
#include "support/temp_dir.h"

namespace zedra::platform {
namespace {

using zedra::testing::TempDir;
using zedra::testing::WriteFileBytes;

constexpr uint64_t kLockBase = 0x40000000ull;

// A date pattern with each run of a letter shortened to one ("dd.MM.yyyy" gives
// "d.M.y"): systems differ in whether days and months have leading zeros.
std::string Shape(const std::string& pattern) {
  std::string out;
  for (char c : pattern)
    if (out.empty() || c != out.back() || (c != 'd' && c != 'M' && c != 'y')) out += c;
  return out;
}

// Locks between two handles, the unlock of what is not held, and share modes against a
// second opener.
TEST(Win32PlatformTest, LocksAndShareModesAreTheSystems) {
  TempDir dir;
  const std::string path = dir.File("T.DBF");
  WriteFileBytes(path, "0123456789");
  uint32_t error = 0;
  FileHandle a = OpenFile(path, kModeReadWriteShared, &error);
  FileHandle b = OpenFile(path, kModeReadWriteShared, &error);
  ASSERT_NE(a, kInvalidFile);
  ASSERT_NE(b, kInvalidFile);

  ASSERT_EQ(LockRegion(a, kLockBase + 5, 10), 0u);
  EXPECT_EQ(LockRegion(b, kLockBase + 5, 10), kErrLockViolation);
  EXPECT_EQ(LockRegion(b, kLockBase + 14, 1), kErrLockViolation);  // overlaps the end
  EXPECT_EQ(LastError(), kErrLockViolation);
  EXPECT_EQ(LockRegion(b, kLockBase + 15, 1), 0u);                  // just beyond it
  // Only the owner unlocks, and only the range as it was locked.
  EXPECT_EQ(UnlockRegion(b, kLockBase + 5, 10), kErrNotLocked);
  EXPECT_EQ(UnlockRegion(a, kLockBase + 5, 5), kErrNotLocked);
  EXPECT_EQ(UnlockRegion(a, kLockBase + 5, 10), 0u);
  EXPECT_EQ(UnlockRegion(a, kLockBase + 5, 10), kErrNotLocked);
  EXPECT_EQ(LockRegion(b, kLockBase + 5, 10), 0u);
  // Offsets beyond 4 GB reach the system whole.
  EXPECT_EQ(LockRegion(a, 0x1'0000'0000ull + 5, 1), 0u);
  EXPECT_EQ(LockRegion(b, 0x1'0000'0000ull + 5, 1), kErrLockViolation);
  EXPECT_EQ(LockRegion(b, 5, 1), 0u);
  // A reader's lock is shared: another reader's fits beside it, a writer's does not.
  FileHandle reader1 = OpenFile(path, kModeReadShared, &error);
  FileHandle reader2 = OpenFile(path, kModeReadShared, &error);
  ASSERT_NE(reader2, kInvalidFile);
  EXPECT_EQ(LockRegion(reader1, kLockBase + 100, 1), 0u);
  EXPECT_EQ(LockRegion(reader2, kLockBase + 100, 1), 0u);
  EXPECT_EQ(LockRegion(a, kLockBase + 100, 1), kErrLockViolation);
  for (FileHandle f : {a, b, reader1, reader2}) EXPECT_EQ(CloseFile(f), 0u);

  // Deny write: a second writer is refused, a reader that shares writing is let in.
  FileHandle deny_write = OpenFile(path, 0x22, &error);
  ASSERT_NE(deny_write, kInvalidFile);
  EXPECT_EQ(OpenFile(path, kModeReadWriteShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrSharingViolation);
  EXPECT_EQ(OpenFile(path, 0x21, &error), kInvalidFile);
  EXPECT_EQ(error, kErrSharingViolation);
  FileHandle reader = OpenFile(path, kModeReadShared, &error);
  EXPECT_NE(reader, kInvalidFile);
  // A reader that itself denies writing does not get past a handle that writes.
  EXPECT_EQ(OpenFile(path, 0x20, &error), kInvalidFile);
  EXPECT_EQ(error, kErrSharingViolation);
  CloseFile(reader);
  // Creating over it neither succeeds nor truncates.
  EXPECT_EQ(CreateFile(path, kModeReadWriteExclusive, &error), kInvalidFile);
  EXPECT_EQ(error, kErrSharingViolation);
  CloseFile(deny_write);
  EXPECT_EQ(zedra::testing::ReadFileBytes(path), "0123456789");

  // Compatibility and exclusive opens share nothing; devices and directories are refused.
  FileHandle compat = OpenFile(path, kModeReadWrite, &error);
  ASSERT_NE(compat, kInvalidFile);
  EXPECT_EQ(OpenFile(path, kModeReadShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrSharingViolation);
  CloseFile(compat);
  EXPECT_EQ(OpenFile(dir.path(), kModeReadShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrAccessDenied);
  EXPECT_EQ(OpenFile("NUL", kModeReadWriteShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrAccessDenied);
  EXPECT_EQ(OpenFile(dir.File("missing.dbf"), kModeReadShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrFileNotFound);
  EXPECT_EQ(OpenFile(dir.File("no\\such.dbf"), kModeReadShared, &error), kInvalidFile);
  EXPECT_EQ(error, kErrPathNotFound);
}

// A rewrite renames its new file over one that others still hold open: the name then
// gives the new file, the holders keep reading the old one, and nothing else is left.
TEST(Win32PlatformTest, RenameReplacesAFileHeldOpen) {
  TempDir dir;
  const std::string table = dir.File("T.DBF"), fresh = dir.File("T.$$D");
  WriteFileBytes(table, "old");
  WriteFileBytes(fresh, "new!");
  uint32_t error = 0;
  FileHandle holder = OpenFile(table, kModeReadWriteShared, &error);
  FileHandle next = OpenFile(fresh, kModeReadWriteExclusive, &error);
  ASSERT_NE(holder, kInvalidFile);
  ASSERT_EQ(RenameFile(fresh, table), 0u);
  EXPECT_FALSE(FileExists(fresh));
  EXPECT_EQ(FileSize(next, &error), 4u);
  uint8_t bytes[8] = {};
  size_t done = 0;
  EXPECT_EQ(ReadAt(holder, 0, bytes, &done), 0u);
  EXPECT_EQ(done, 3u);
  CloseFile(holder);
  CloseFile(next);
  EXPECT_EQ(zedra::testing::ReadFileBytes(table), "new!");
  std::vector<DirEntry> entries;
  ASSERT_EQ(ListDirectory(dir.path(), "*.*", &entries), 0u);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "T.DBF");
  EXPECT_EQ(ListDirectory(dir.File("gone"), "*", &entries), kErrPathNotFound);
}

TEST(Win32PlatformTest, UniqueFilesAreNamedAsTheSystemNamesThem) {
  TempDir dir;
  std::set<std::string> names;
  for (int i = 0; i < 3; ++i) {
    uint32_t error = 99;
    const std::string name = CreateUniqueFile(dir.path(), "ZEDRA", &error);
    ASSERT_EQ(error, 0u);
    ASSERT_GT(name.size(), dir.path().size() + 1);
    EXPECT_EQ(name.substr(0, dir.path().size()), dir.path());
    EXPECT_TRUE(IsPathSeparator(name[dir.path().size()]));
    const std::string file = name.substr(dir.path().size() + 1);
    // "ZED", one to four hex digits, ".TMP" (the case as the system gives it).
    ASSERT_GE(file.size(), 8u) << file;
    ASSERT_LE(file.size(), 11u) << file;
    EXPECT_EQ(file.substr(0, 3), "ZED");
    for (char c : file.substr(3, file.size() - 7)) EXPECT_TRUE(std::isxdigit(uint8_t(c))) << file;
    EXPECT_TRUE(WildcardMatch("*.tmp", file)) << file;
    EXPECT_TRUE(IsRegularFile(name));
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 3u);
  uint32_t error = 0;
  EXPECT_EQ(CreateUniqueFile(dir.File("gone"), "ZED", &error), "");
  EXPECT_NE(error, 0u);
  const std::string temp = TempDirectory();
  EXPECT_TRUE(IsPathSeparator(temp.back()));
  EXPECT_TRUE(FreeBytes(temp).has_value());
  EXPECT_EQ(DriveRoot(3), "C:\\");
  EXPECT_TRUE(FreeBytes(DriveRoot(3)).has_value());
  EXPECT_EQ(DriveRoot(27), "");
}

// The system's German and French short dates, through the engine's own start-up, give
// the GERMAN and FRENCH styles.
TEST(Win32PlatformTest, LocalesGiveTheirDateStyles) {
  const LocaleInfo german = LocaleInfoOf(0x0407);
  EXPECT_EQ(german.language_id, 0x0407);
  EXPECT_EQ(Shape(german.short_date_format), "d.M.y") << german.short_date_format;
  EXPECT_NE(german.short_date_format.find("yyyy"), std::string::npos);
  EXPECT_EQ(german.date_separator, '.');
  EXPECT_EQ(german.decimal_point, ',');
  const LocaleInfo french = LocaleInfoOf(0x040C);
  EXPECT_EQ(Shape(french.short_date_format), "d/M/y") << french.short_date_format;
  EXPECT_NE(french.short_date_format.find("yyyy"), std::string::npos);
  EXPECT_EQ(french.date_separator, '/');
  EXPECT_EQ(french.decimal_point, ',');
  const LocaleInfo us = LocaleInfoOf(0x0409);
  EXPECT_EQ(Shape(us.short_date_format), "M/d/y") << us.short_date_format;
  EXPECT_EQ(us.decimal_point, '.');

  struct Case {
    LocaleInfo locale;
    int language_style, synced_style;
  };
  for (const Case& c : {Case{german, 5, 5}, Case{french, 4, 2}, Case{us, 0, 0}}) {
    SetLocaleOverride(c.locale);
    EngineStartup();
    EXPECT_EQ(Dates().LanguageStyle, c.language_style) << c.locale.short_date_format;
    EXPECT_EQ(Dates().DateStyle, c.synced_style) << c.locale.short_date_format;
    EXPECT_TRUE(Dates().CenturyOn) << c.locale.short_date_format;
  }
  SetLocaleOverride(std::nullopt);
  EXPECT_NE(CurrentLocale().short_date_format, "");
}

}  // namespace
}  // namespace zedra::platform
