// zedra index, tags and check, run as a user runs them: on the fixture another library
// wrote, on files built here, and on damaged files, which must be reported, never crash.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <vector>

#include "base/files.h"
#include "cli.h"
#include "tool_run.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace zedra::cli {
namespace {

using zedra::testing::ReadFileBytes;
using zedra::testing::TempDir;
using zedra::testing::WriteFileBytes;

class ToolIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string fixture = std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/";
    for (const char* f : {"PEOPLE.DBF", "PEOPLE.DBT", "PEOPLE.MDX"})
      WriteFileBytes(dir_.File(f), ReadFileBytes(fixture + f));
    fixture_tags_ = ReadFileBytes(fixture + "tags.txt");
    mdx_ = ReadFileBytes(dir_.File("PEOPLE.MDX"));
  }
  std::string Table() const { return dir_.File("PEOPLE.DBF"); }
  // Writes a damaged copy of the fixture's index and checks it.
  ToolRun CheckDamaged(std::string bytes) {
    WriteFileBytes(dir_.File("BAD.MDX"), bytes);
    return Tool({"check", Table(), "--file", dir_.File("BAD.MDX")});
  }
  static void Put32(std::string& s, size_t at, uint32_t v) {
    PutLE32(reinterpret_cast<uint8_t*>(s.data() + at), v);
  }
  static uint32_t Get32(const std::string& s, size_t at) {
    return GetLE32(reinterpret_cast<const uint8_t*>(s.data() + at));
  }

  TempDir dir_;
  std::string fixture_tags_, mdx_;
};

TEST_F(ToolIndexTest, AnotherWritersFileListsAndChecks) {
  ToolRun r = Tool({"tags", Table()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, fixture_tags_);
  r = Tool({"check", Table()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("BORN: OK (200 keys"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("UNIQCITY: OK (25 keys"), std::string::npos) << r.out;
  r = Tool({"check", Table(), "--tag", "act"});
  EXPECT_EQ(r.out, "ACT: OK (126 keys, 5 nodes, 2 levels)\n");
}

TEST_F(ToolIndexTest, ListFollowsATagOfTheProductionIndex) {
  const std::string fixture = std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/";
  for (const char* tag : {"NAME", "AMOUNT", "BORN", "CITYD", "UNIQCITY", "ACT"}) {
    SCOPED_TRACE(tag);
    std::string expected, line;
    std::istringstream order(ReadFileBytes(fixture + "tag-" + tag + ".txt"));
    while (std::getline(order, line))
      if (!line.empty()) expected += line.substr(0, line.find('\t')) + "\r\n";
    ToolRun r = Tool({"list", Table(), "--order", tag, "--csv", "--recno", "--fields", "NAME"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string listed;
    std::istringstream rows(r.out);
    std::getline(rows, line);
    EXPECT_EQ(line, "_recno,NAME\r");
    while (std::getline(rows, line)) listed += line.substr(0, line.find(',')) + "\r\n";
    EXPECT_EQ(listed, expected);
    r = Tool({"list", Table(), "--order", tag, "--reverse", "--csv", "--recno", "--fields", "NAME"});
    std::vector<std::string> backward;
    std::istringstream back(r.out);
    std::getline(back, line);
    while (std::getline(back, line)) backward.insert(backward.begin(), line.substr(0, line.find(',')) + "\r\n");
    std::string reversed;
    for (const std::string& b : backward) reversed += b;
    EXPECT_EQ(reversed, expected);
  }
  ToolRun r = Tool({"list", Table(), "--order", "NOSUCH"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Error # 220"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[SetOrderToTag(NOSUCH)]"), std::string::npos) << r.err;
}

TEST_F(ToolIndexTest, IndexBuildsKeepsOtherTagsAndReplacesByName) {
  ToolRun r = Tool({"index", Table(), "--tag", "NAME", "--key", "UPPER(NAME)", "--descending",
                    "--tag", "RICH", "--key", "AMOUNT", "--for", "AMOUNT > 1000", "--unique"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no progress bar when standard error is not a terminal
  r = Tool({"tags", Table()});
  EXPECT_NE(r.out.find("NAME       type=C keylen=20 entry=24 maxkeys=42 desc=1 unique=0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("RICH       type=N keylen=12 entry=16 maxkeys=63 desc=0 unique=1"), std::string::npos);
  EXPECT_NE(r.out.find("for=[AMOUNT > 1000]"), std::string::npos);
  EXPECT_NE(r.out.find("ACT        type=C"), std::string::npos);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 7);
  r = Tool({"check", "--built", Table()});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(uint8_t(ReadFileBytes(Table())[28]), 1);
  // Usage and engine errors.
  EXPECT_EQ(Tool({"index", Table(), "--key", "NAME"}).status, 2);
  EXPECT_EQ(Tool({"index", Table(), "--tag", "X"}).status, 2);
  r = Tool({"index", Table(), "--tag", "X", "--key", "NOTES"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error # "), std::string::npos) << r.err;
}

TEST_F(ToolIndexTest, RecordChangesKeepTheProductionIndexCurrent) {
  ASSERT_EQ(uint8_t(ReadFileBytes(Table())[28]), 1);
  ToolRun r = Tool({"append", Table(), "NAME=Aaron Zed", "CITY=Zurich", "AMOUNT=-5", "ACTIVE=T"});
  EXPECT_EQ(r.status, 0) << r.err;
  r = Tool({"replace", Table(), "3", "NAME=aaaa first", "BORN=1999-12-31", "ACTIVE=F"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Tool({"delete", Table(), "2", "5", "7"}).status, 0);
  EXPECT_EQ(Tool({"recall", Table(), "5"}).status, 0);
  r = Tool({"check", Table()});
  EXPECT_EQ(r.status, 0) << r.out;
  // A value that does not fit, a record that is not there and zap without --yes change
  // nothing.
  const std::string table = ReadFileBytes(Table()), index = ReadFileBytes(dir_.File("PEOPLE.MDX"));
  EXPECT_EQ(Tool({"replace", Table(), "4", "NAME=Short", "BORN=not a date"}).status, 1);
  EXPECT_EQ(Tool({"delete", Table(), "9999"}).status, 2);
  EXPECT_EQ(Tool({"zap", Table()}).status, 1);
  EXPECT_EQ(ReadFileBytes(Table()), table);
  EXPECT_EQ(ReadFileBytes(dir_.File("PEOPLE.MDX")), index);
  // The tags walk in their key order: the changed and the new record sort first by name.
  r = Tool({"list", Table(), "--order", "NAME", "--csv", "--recno", "--fields", "NAME"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> names;
  std::stringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) names.push_back(line.substr(line.find(',') + 1));
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0].substr(0, 10), "aaaa first");
  EXPECT_EQ(names[1].substr(0, 8), "Aaron Ze");
  for (size_t i = 1; i < names.size(); ++i) {
    std::string a = names[i - 1], b = names[i];
    for (char& c : a) c = char(std::toupper(uint8_t(c)));
    for (char& c : b) c = char(std::toupper(uint8_t(c)));
    EXPECT_LE(a, b) << i;
  }
  // Pack rebuilds the index for the records that moved; zap leaves every tag empty.
  const size_t kept = names.size() - 2;  // records 2 and 7 stay deleted
  r = Tool({"pack", Table()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Tool({"check", "--built", Table()}).status, 0);
  r = Tool({"list", Table(), "--order", "NAME", "--csv", "--fields", "NAME"});
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), long(kept) + 1) << r.out;
  EXPECT_EQ(r.out.substr(0, 16), "NAME\r\naaaa first");
  r = Tool({"zap", Table(), "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Tool({"check", "--built", Table()}).status, 0);
  EXPECT_EQ(Tool({"append", Table(), "NAME=Only"}).status, 0);
  r = Tool({"list", Table(), "--order", "NAME", "--csv", "--fields", "NAME"});
  EXPECT_EQ(r.out, "NAME\r\nOnly\r\n");
}

TEST_F(ToolIndexTest, DamagedFilesAreReportedWithTheirBlocks) {
  const uint32_t name_anchor = Get32(mdx_, 512 + 32);
  const uint32_t name_root = Get32(mdx_, size_t(name_anchor) * 512);
  const size_t root = size_t(name_root) * 512;
  for (size_t length : {size_t(0), size_t(100), size_t(2048), size_t(3071)}) {
    ToolRun r = CheckDamaged(mdx_.substr(0, length));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("an index file has at least 3072"), std::string::npos) << r.out;
  }
  // Cut in the middle of the nodes: pointers past the end.
  ToolRun r = CheckDamaged(mdx_.substr(0, mdx_.size() / 2));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("past the end of the file"), std::string::npos) << r.out;

  std::string bad = mdx_;
  bad[root] = char(0xFF);  // -1 keys ... as signed 16 bits with the high byte
  bad[root + 1] = char(0x7F);
  r = CheckDamaged(bad);
  EXPECT_NE(r.out.find("block " + std::to_string(name_root) + " holds 32767 keys"), std::string::npos) << r.out;

  bad = mdx_;
  Put32(bad, root + 8, 2);  // the first child inside the header area
  r = CheckDamaged(bad);
  EXPECT_NE(r.out.find("pointer to block 2, inside the header area"), std::string::npos) << r.out;

  bad = mdx_;
  Put32(bad, root + 8, name_root);  // a loop back to the root
  r = CheckDamaged(bad);
  EXPECT_NE(r.out.find("block " + std::to_string(name_root) + " is reached twice"), std::string::npos) << r.out;

  bad = mdx_;
  bad[28] = char(60);
  r = CheckDamaged(bad);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("claims 60 tags"), std::string::npos) << r.out;

  // Two keys exchanged in a leaf: out of order, and the records no longer match.
  bad = mdx_;
  const uint32_t leaf = Get32(mdx_, root + 8);
  const size_t e0 = size_t(leaf) * 512 + 8 + 4, e1 = e0 + 24;
  std::string k0 = bad.substr(e0, 20);
  bad.replace(e0, 20, bad.substr(e1, 20));
  bad.replace(e1, 20, k0);
  r = CheckDamaged(bad);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("NAME: "), std::string::npos);
  EXPECT_NE(r.out.find("comes after the greater key"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("is stored with key"), std::string::npos) << r.out;
}

TEST_F(ToolIndexTest, AFailedBuildLeavesTheOldFileAsItWas) {
  const std::string mdx = dir_.File("PEOPLE.MDX");
  // A typing error in the key of the first tag, and a disk that fills up half-way
  // through the nodes: each fails with its error, and the six tags stay as they were.
  ToolRun r = Tool({"index", Table(), "--tag", "NAME", "--key", "UPPER(NAM)"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Syntax error"), std::string::npos) << r.err;
  EXPECT_TRUE(ReadFileBytes(mdx) == mdx_);
  int writes = 0;
  platform::SetFaultHook([&](platform::FileChange change, size_t* size) -> uint32_t {
    if (change == platform::FileChange::Write && ++writes == 6) *size = 100;
    return 0;
  });
  r = Tool({"index", Table(), "--tag", "NAME", "--key", "UPPER(NAME)"});
  platform::SetFaultHook({});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Error # "), std::string::npos) << r.err;
  EXPECT_TRUE(ReadFileBytes(mdx) == mdx_);
  EXPECT_FALSE(platform::FileExists(mdx + "~"));
  // A successful build leaves nothing beside the file either.
  ASSERT_EQ(Tool({"index", Table(), "--tag", "NAME", "--key", "UPPER(NAME)"}).status, 0);
  EXPECT_FALSE(ReadFileBytes(mdx) == mdx_);
  EXPECT_FALSE(platform::FileExists(mdx + "~"));
}

TEST_F(ToolIndexTest, ACutFileNamesTheTagsItLost) {
  // Cut after the header area and the first anchor: five anchors lie outside the file.
  WriteFileBytes(dir_.File("PEOPLE.MDX"), mdx_.substr(0, 3072));
  ToolRun r = Tool({"tags", Table()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("NAME       type=C keylen=20"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("AMOUNT: anchor block 8 lies outside the file\n"), std::string::npos) << r.out;
  r = Tool({"check", Table()});
  EXPECT_EQ(r.status, 1);
  // The tree of NAME is gone: five records are named, the other 195 counted.
  EXPECT_NE(r.out.find("NAME: 7 problems\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("... and 195 more records have no entry in the tag"), std::string::npos) << r.out;
  // A rebuild says which tags it cannot rebuild.
  r = Tool({"index", Table(), "--tag", "AMOUNT", "--key", "AMOUNT"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("tag BORN of"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("tag AMOUNT of"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 4) << r.err;
  EXPECT_EQ(Tool({"check", "--built", Table()}).status, 0);
}

}  // namespace
}  // namespace zedra::cli

namespace zedra::cli {
namespace {

// seek by each key type, reindex, info naming the index, list in natural order without
// --order, and a damaged production index reported as a warning.
TEST_F(ToolIndexTest, SeekReindexInfoAndAWarningForADamagedIndex) {
  ToolRun r = Tool({"seek", Table(), "--order", "NAME", "ABK", "--count", "2", "--fields", "NAME"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Found");
  EXPECT_NE(r.out.find("\n99 "), std::string::npos) << r.out;   // ABKOHO ABHOKA, then
  EXPECT_NE(r.out.find("\n139 "), std::string::npos) << r.out;  // the next in order
  r = Tool({"seek", Table(), "--order", "BORN", "1900-05-04", "--fields", "NAME"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\n153 "), std::string::npos) << r.out;
  r = Tool({"seek", Table(), "--order", "BORN", "19000505"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Not found");
  EXPECT_NE(r.out.find("\n160 "), std::string::npos) << r.out;  // the next date
  r = Tool({"seek", Table(), "--order", "NAME", "ZZZ"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Not found (past the last key)\n");
  r = Tool({"seek", Table(), "--order", "AMOUNT", "ten"});
  EXPECT_EQ(r.status, 2);
  r = Tool({"info", Table()});
  EXPECT_NE(r.out.find("Tags:          NAME, AMOUNT, BORN, CITYD, UNIQCITY, ACT\n"), std::string::npos) << r.out;
  // Without --order the listing is in natural order although the index is open.
  r = Tool({"list", Table(), "--csv", "--recno", "--fields", "NAME", "--count", "3"});
  std::vector<std::string> recnos;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) recnos.push_back(line.substr(0, line.find(',')));
  EXPECT_EQ(recnos, (std::vector<std::string>{"_recno", "1", "2", "3"}));
  r = Tool({"reindex", Table()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Rebuilt 6 tags"), std::string::npos) << r.out;
  EXPECT_EQ(Tool({"check", Table(), "--built"}).status, 0);
  r = Tool({"seek", Table(), "--order", "NAME", "ABMITAL GRISTOVEL", "--fields", "NAME"});
  EXPECT_NE(r.out.find("\n101 "), std::string::npos) << r.out;
  // A damaged production index: a warning, and the table is listed in natural order.
  std::string bad = ReadFileBytes(dir_.File("PEOPLE.MDX"));
  const size_t anchor = size_t(Get32(bad, 512 + 32)) * 512;
  bad.replace(anchor + 24, 8, std::string("UPPER((\0", 8));
  WriteFileBytes(dir_.File("PEOPLE.MDX"), bad);
  r = Tool({"list", Table(), "--count", "1", "--csv", "--recno", "--fields", "NAME"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: the production index is not used: Error # 222"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.substr(0, 15), "_recno,NAME\r\n1,");
  r = Tool({"list", Table(), "--order", "NAME"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("Error # 221"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace zedra::cli
