// File utilities: names, erasing with other processes holding files, unique files,
// free space, code pages and text helpers.
#include <gtest/gtest.h>

#include <set>

#include "base/errors.h"
#include "base/files.h"
#include "engine.h"
#include "support/programs.h"
#include "support/temp_dir.h"

namespace zedra {
namespace {

using testing::TempDir;
using testing::WriteFileBytes;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EngineStartup();
    SetAutoReport(false);
  }
  void TearDown() override { EngineShutdown(); }
};

// args: a gate's path, then files. Opens the files in the engine's shared mode, posts
// "<gate>.ready" and holds them until "<gate>.stop" is posted.
ZEDRA_PROGRAM(hold_files) {
  std::vector<platform::FileHandle> held;
  uint32_t error;
  for (size_t i = 1; i < args.size(); ++i)
    held.push_back(platform::OpenFile(args[i], platform::kModeReadWriteShared, &error));
  testing::FileGate(args.at(0) + ".ready").Post();
  return testing::FileGate(args.at(0) + ".stop").Await() ? 0 : 1;
}

// Another program that holds the given files open while it lives.
class Holder {
 public:
  Holder(const TempDir& dir, const std::vector<std::string>& paths)
      : gate_(dir.File("holder")), program_("hold_files", WithGate(gate_, paths)) {
    EXPECT_TRUE(testing::FileGate(gate_ + ".ready").Await());
  }
  ~Holder() {
    testing::FileGate(gate_ + ".stop").Post();
    EXPECT_EQ(program_.Wait(), 0);
  }

 private:
  static std::vector<std::string> WithGate(const std::string& gate, std::vector<std::string> paths) {
    paths.insert(paths.begin(), gate);
    return paths;
  }
  std::string gate_;
  testing::SeparateProgram program_;
};

TEST_F(FilesTest, NamesAndExtensions) {
  PathParts p = SplitPath("/data/sub/CUSTOMER.DBF");
  EXPECT_EQ(p.dir, "/data/sub/");
  EXPECT_EQ(p.name, "CUSTOMER");
  EXPECT_EQ(p.ext, ".DBF");
  p = SplitPath("archive.tar.gz");
  EXPECT_EQ(p.dir, "");
  EXPECT_EQ(p.name, "archive.tar");
  EXPECT_EQ(p.ext, ".gz");
  EXPECT_EQ(SplitPath(std::string(100, 'n')).name.size(), 64u);
  EXPECT_EQ(DefaultExtension("CUSTOMER", "DBF"), "CUSTOMER.DBF");
  EXPECT_EQ(DefaultExtension("CUSTOMER.DAT", "DBF"), "CUSTOMER.DAT");
  EXPECT_EQ(DefaultExtension("dir/NAME  ", "DBF"), "dir/NAME.DBF");
  EXPECT_EQ(ForceExtension("dir/PEOPLE.DBF", "MDX"), "dir/PEOPLE.MDX");
  EXPECT_EQ(ForceExtension("dir.v1/PEOPLE", "DBT"), "dir.v1/PEOPLE.DBT");
#ifdef _WIN32
  // Rooted on the current drive, with the system's separator; either separator splits.
  EXPECT_EQ(ExpandPath("/a/b/../c/./d").substr(1), ":\\a\\c\\d");
  EXPECT_EQ(ExpandPath("x").substr(1, 2), ":\\");
  EXPECT_EQ(SplitPath("C:\\dir\\sub/PEOPLE.DBF").dir, "C:\\dir\\sub/");
  EXPECT_EQ(ForceExtension("dir.v1\\PEOPLE", "DBT"), "dir.v1\\PEOPLE.DBT");
#else
  EXPECT_EQ(ExpandPath("/a/b/../c/./d"), "/a/c/d");
  EXPECT_EQ(ExpandPath("x").front(), '/');
#endif
}

TEST_F(FilesTest, EraseFileRefusesAFileOpenElsewhere) {
  TempDir dir;
  std::string path = dir.File("held.dbf");
  WriteFileBytes(path, "data");
  {
    Holder holder(dir, {path});
    EXPECT_EQ(EraseFile(path), platform::kErrSharingViolation);
    EXPECT_TRUE(FilePresent(path));
  }
  EXPECT_EQ(EraseFile(path), 0u);
  EXPECT_FALSE(FilePresent(path));
  EXPECT_EQ(EraseFile(path), platform::kErrFileNotFound);
}

TEST_F(FilesTest, EraseFilesCountsWhatStaysAndNamesThePattern) {
  TempDir dir;
  for (int i = 1; i <= 5; ++i) WriteFileBytes(dir.File("T" + std::to_string(i) + ".TMP"), "x");
  WriteFileBytes(dir.File("KEEP.DBF"), "x");
  std::string pattern = dir.File("T*.TMP");
  {
    Holder holder(dir, {dir.File("T2.TMP"), dir.File("T4.TMP")});
    EraseFiles(pattern);
  }
  EXPECT_EQ(ErrorCode(), 5);
  EXPECT_EQ(GetErrorText(),
            "Error # 5 (File access denied)\r\nCould not erase 2 files like " + pattern);
  for (int i = 1; i <= 5; ++i)
    EXPECT_EQ(FilePresent(dir.File("T" + std::to_string(i) + ".TMP")), i == 2 || i == 4) << i;
  EXPECT_TRUE(FilePresent(dir.File("KEEP.DBF")));
}

TEST_F(FilesTest, EraseFilesMatchingNothingLeavesTheSearchCode) {
  TempDir dir;
  EraseFiles(dir.File("*.none"));
  EXPECT_EQ(ErrorCode(), 2);
  EXPECT_EQ(GetErrorText(), "");  // nothing was reported
  EraseFiles(dir.File("missing.dbf"));
  EXPECT_EQ(ErrorCode(), 2);
  EXPECT_EQ(GetErrorText(), "Error # 2 (File not found)\r\nError erasing " + dir.File("missing.dbf"));
}

// The names the POSIX layer makes (win32_platform_test checks those of Windows).
#ifndef _WIN32
TEST_F(FilesTest, UniqueFilenamesAreNewEmptyAndDistinct) {
  TempDir dir;
  testing::SetSystemTempDirectory(dir.path());
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    std::string name = UniqueFilename();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.rfind(dir.path() + "/ZED", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
    EXPECT_TRUE(FilePresent(name));
    EXPECT_EQ(testing::ReadFileBytes(name), "");
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 20u);
  testing::SetSystemTempDirectory(dir.path() + "/no/such/dir");
  EXPECT_EQ(UniqueFilename(), "");
  EXPECT_EQ(ErrorCode(), platform::kErrFileNotFound);
  EXPECT_NE(GetErrorText().find("Error requesting unique file name [UniqueFilename]"),
            std::string::npos);
  testing::SetSystemTempDirectory("");
}
#endif

TEST_F(FilesTest, FreeSpace) {
  EXPECT_GT(DiskFreeKB(""), 0);
  // The same volume; other programs may write in between.
  EXPECT_NEAR(DriveFreeKB(0), DiskFreeKB(""), 100 * 1024);
  EXPECT_LT(DiskFreeKB("/tmp"), 2147483647 + 0LL + 1);
  EXPECT_EQ(DiskFreeKB("/no/such/volume/here"), 2147483647);
#ifdef _WIN32
  EXPECT_GT(DriveFreeKB(3), 0);  // C:
  EXPECT_NEAR(DriveFreeKB(3), DiskFreeKB("C:\\"), 100 * 1024);
#else
  EXPECT_EQ(DriveFreeKB(3), 2147483647);  // C: names no volume here
#endif
}

TEST_F(FilesTest, FileDatesAndFlush) {
  TempDir dir;
  EXPECT_FALSE(FileDateIsToday(dir.File("missing")));
  std::string path = dir.File("today.dbf");
  WriteFileBytes(path, "x");
  EXPECT_TRUE(FileDateIsToday(path));
  EXPECT_EQ(Files().FileMode, 18u);  // restored after the shared open
  EngineFile file;
  ASSERT_EQ(file.Open(path), 0u);
  EXPECT_GT(FileDateOf(file), 0);
  EXPECT_EQ(Files().LastOsError, 0);
  FlushFile(file);
  EXPECT_EQ(ErrorCode(), 0);
}

TEST_F(FilesTest, DirectorySearch) {
  TempDir dir;
  WriteFileBytes(dir.File("a.dbf"), "1");
  WriteFileBytes(dir.File("B.DBF"), "22");
  WriteFileBytes(dir.File("c.txt"), "3");
  SearchRec rec;
  std::set<std::string> found;
  for (int32_t r = DirSearchFirst(dir.File("*.dbf"), 0x20, &rec); r == 0; r = DirSearchNext(&rec))
    found.insert(rec.name);
  DirSearchClose(&rec);
  EXPECT_EQ(found, (std::set<std::string>{"a.dbf", "B.DBF"}));
  EXPECT_EQ(Files().LastOsError, 18);
  EXPECT_EQ(DirSearchFirst(dir.File("*.xyz"), 0x20, &rec), 2);
  EXPECT_EQ(DirSearchFirst(dir.File("nodir/*.xyz"), 0x20, &rec), 3);
}

TEST_F(FilesTest, CodePagesRoundTripEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  std::string oem = AnsiToOemText(all);
  EXPECT_EQ(oem.size(), 256u);
  EXPECT_EQ(OemToAnsiText(oem), all);
  EXPECT_EQ(AnsiToOemText(OemToAnsiText(all)), all);
  EXPECT_EQ(AnsiToOemText("\xE9\xFB\xE4"), "\x82\x96\x84");  // e acute, u circumflex, a umlaut
  EXPECT_EQ(AnsiToOemText(""), "");
}

TEST_F(FilesTest, TextHelpers) {
  EXPECT_EQ(UpperText("stra\xDF" "e \xE9t\xE9 \xFF"), "STRA\xDF" "E \xC9T\xC9 \x9F");
  EXPECT_EQ(LowerChar('\xC4'), '\xE4');
  EXPECT_EQ(UpperChar('\xF7'), '\xF7');  // the division sign has no case
  EXPECT_EQ(TrimRightText("ab \t\r\n"), "ab");
  EXPECT_EQ(TrimLeftText("\x01  ab "), "ab ");
  EXPECT_EQ(AllTrim("  ab  "), "ab");
  EXPECT_EQ(NumToText(7, 3), "  7");
  EXPECT_EQ(NumToText(1234, 2), "1234");
  EXPECT_EQ(NumToText(-5, 4), "  -5");
}

}  // namespace
}  // namespace zedra
