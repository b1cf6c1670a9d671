// Opening an index file, choosing the controlling order and walking the table in it.
#include <fstream>
#include <sstream>

#include "index_test_util.h"

namespace zedra::testing {
namespace {

class IndexOpenTest : public IndexTest {
 protected:
  std::string fixture_ = std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/";

  void CopyFixture() {
    for (const char* f : {"PEOPLE.DBF", "PEOPLE.DBT", "PEOPLE.MDX"})
      WriteFileBytes(File(f), ReadFileBytes(fixture_ + f));
  }
  std::vector<int32_t> Expected(const std::string& tag) {
    std::ifstream in(fixture_ + "tag-" + tag + ".txt");
    std::vector<int32_t> records;
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) records.push_back(std::stoi(line));
    return records;
  }
  std::vector<int32_t> Forward() {
    std::vector<int32_t> seen;
    for (GoTop(); !Eof() && seen.size() < 1000; Skip(1)) seen.push_back(RecNo());
    return seen;
  }
  std::vector<int32_t> Backward() {
    std::vector<int32_t> seen;
    for (GoBottom(); !Bof() && seen.size() < 1000; Skip(-1)) seen.push_back(RecNo());
    return seen;
  }
};

TEST_F(IndexOpenTest, AnotherWritersTagsWalkInTheirOrderBothWays) {
  CopyFixture();
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  ASSERT_TRUE(SetIndexTo(""));
  EXPECT_EQ(CurrentOrder(), 1);
  const char* tags[] = {"NAME", "AMOUNT", "BORN", "CITYD", "UNIQCITY", "ACT"};
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(tags[k - 1]);
    Set_Order_To(k);
    ASSERT_EQ(ErrorCode(), 0) << Errors().PendingMessage;
    EXPECT_EQ(CurrentOrder(), k);
    const std::vector<int32_t> expected = Expected(tags[k - 1]);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Forward(), expected);
    std::vector<int32_t> reversed(expected.rbegin(), expected.rend());
    EXPECT_EQ(Backward(), reversed);
    // Turning around in the middle.
    GoTop();
    Skip(5);
    EXPECT_EQ(RecNo(), expected[5]);
    Skip(-3);
    EXPECT_EQ(RecNo(), expected[2]);
    // Past the end and back.
    GoBottom();
    Skip(1);
    EXPECT_TRUE(Eof());
    Skip(-1);
    EXPECT_EQ(RecNo(), expected.back());
  }
  // Slot 3 holds tag 1 while tag 3 controls; order 1 puts both back.
  Set_Order_To(3);
  EXPECT_EQ(CurrentOrder(), 3);
  EXPECT_EQ(OrderAt(3)->tag_number, 1);
  Set_Order_To(1);
  EXPECT_EQ(OrderAt(1)->tag_number, 1);
  EXPECT_EQ(OrderAt(3)->tag_number, 3);
  // A prefix picks the first tag that begins with it.
  EXPECT_TRUE(SetOrderToTag("uniq"));
  EXPECT_EQ(CurrentOrder(), 5);
  EXPECT_FALSE(SetOrderToTag("NOSUCH"));
  EXPECT_EQ(ErrorCode(), 220);
  Set_Order_To(9);
  EXPECT_EQ(ErrorCode(), 220);
  // Natural order keeps the index open.
  Set_Order_To(0);
  EXPECT_EQ(CurrentOrder(), 0);
  std::vector<int32_t> natural = Forward();
  ASSERT_EQ(natural.size(), 200u);
  EXPECT_EQ(natural.front(), 1);
  EXPECT_EQ(natural.back(), 200);
  // A record appended with the index open, in natural order, has its keys in every tag.
  EXPECT_TRUE(AppendBlank()) << TakeError();
  EXPECT_EQ(RecCount(), 201);
  Set_Order_To(1);
  GoTop();
  EXPECT_EQ(RecNo(), 201);  // the blank name sorts first
  CloseIndexes();
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_TRUE(AppendBlank());
  CloseArea();
}

TEST_F(IndexOpenTest, SeekFindsEveryKeyOfAnotherWritersTags) {
  CopyFixture();
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  ASSERT_TRUE(SetIndexTo(""));
  // Every key of the name tag, found on the first record that has it.
  std::ifstream in(fixture_ + "tag-NAME.txt");
  std::vector<std::pair<int32_t, std::string>> keys;
  for (std::string line; std::getline(in, line);) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) keys.emplace_back(std::stoi(line), line.substr(tab + 1));
  }
  ASSERT_EQ(keys.size(), 200u);
  for (size_t i = 0; i < keys.size(); ++i) {
    if (i > 0 && keys[i - 1].second == keys[i].second) continue;
    EXPECT_TRUE(Seek(keys[i].second)) << keys[i].second;
    EXPECT_EQ(RecNo(), keys[i].first) << keys[i].second;
  }
  // A prefix lands on the first key that begins with it; an absent key on the next one.
  EXPECT_TRUE(Seek(std::string("AB")));
  EXPECT_EQ(RecNo(), keys[0].first);
  EXPECT_FALSE(Seek(std::string("ABB")));
  EXPECT_EQ(RecNo(), keys[1].first);  // "ABKOHO ..." is the first key not below ABB
  EXPECT_FALSE(Eof());
  EXPECT_FALSE(Seek(std::string("ZZZZZZ")));
  EXPECT_TRUE(Eof());
  // A descending tag: the prefix still finds the first key of its group in that order.
  ASSERT_TRUE(SetOrderToTag("CITYD"));
  std::vector<int32_t> cityd = Expected("CITYD");
  GoTop();
  const std::string first_city = FieldText(2);
  EXPECT_TRUE(Seek(first_city.substr(0, 3)));
  EXPECT_EQ(RecNo(), cityd.front());
  // Numbers and dates by their key type.
  ASSERT_TRUE(SetOrderToTag("AMOUNT"));
  std::vector<int32_t> amount = Expected("AMOUNT");
  Goto(amount[100]);
  const double value = std::stod(FieldText(3));
  EXPECT_TRUE(Seek(value));
  EXPECT_EQ(std::stod(FieldText(3)), value);
  EXPECT_FALSE(Seek(1e12));
  EXPECT_TRUE(Eof());
  CloseArea();
}

TEST_F(IndexOpenTest, FilesThatCannotBeIndexesAreRefused) {
  CopyFixture();
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  EXPECT_FALSE(SetIndexTo("MISSING"));
  EXPECT_EQ(ErrorCode(), 2);
  EXPECT_NE(Errors().PendingMessage.find("MISSING.MDX"), std::string::npos);
  const std::string mdx = ReadFileBytes(File("PEOPLE.MDX"));
  WriteFileBytes(File("SHORT.MDX"), mdx.substr(0, 3071));
  EXPECT_FALSE(SetIndexTo("SHORT"));
  EXPECT_EQ(ErrorCode(), 222);
  EXPECT_EQ(Errors().PendingMessage, "Unable to open index: " + File("SHORT.MDX"));
  // 3072 bytes with no tags opens with no orders.
  std::string empty = mdx.substr(0, 3072);
  empty[28] = 0;
  WriteFileBytes(File("EMPTY.MDX"), empty);
  EXPECT_TRUE(SetIndexTo("EMPTY"));
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_EQ(OrderAt(1), nullptr);
  // A key expression that does not compile, and a stored key length the blank record
  // does not give.
  std::string bad = mdx;
  const size_t anchor = 4 * 512;
  std::memcpy(&bad[anchor + 24], "UPPER((\0", 8);
  WriteFileBytes(File("BAD.MDX"), bad);
  EXPECT_FALSE(SetIndexTo("BAD"));
  EXPECT_EQ(ErrorCode(), 222);
  EXPECT_EQ(Errors().PendingMessage,
            "Invalid dBASE key expression or corrupted index file " + File("BAD.MDX"));
  EXPECT_EQ(OrderAt(1), nullptr);
  bad = mdx;
  bad[anchor + 12] = 21;
  WriteFileBytes(File("LONG.MDX"), bad);
  EXPECT_FALSE(SetIndexTo("LONG"));
  EXPECT_EQ(ErrorCode(), 266);
  EXPECT_EQ(OrderAt(1), nullptr);
  CloseArea();
}

TEST_F(IndexOpenTest, DamagedTreesEndInAnErrorNeverInAHangOrACrash) {
  CopyFixture();
  const std::string mdx = ReadFileBytes(File("PEOPLE.MDX"));
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  // The NAME tag's root (block 30) made its own first child: a loop.
  std::string loop = mdx;
  PutLE32(reinterpret_cast<uint8_t*>(&loop[30 * 512 + 8]), 30);
  WriteFileBytes(File("LOOP.MDX"), loop);
  EXPECT_FALSE(SetIndexTo("LOOP"));
  EXPECT_EQ(ErrorCode(), 222);
  EXPECT_EQ(OrderAt(1), nullptr);
  // Cut at several lengths: the open or the walk fails with an error; no walk runs away.
  for (size_t length : {3072u, 12000u, 20000u, 30000u, 36000u}) {
    SCOPED_TRACE(length);
    if (length >= mdx.size()) continue;
    WriteFileBytes(File("CUT.MDX"), mdx.substr(0, length));
    Errors().ErrorCode = 0;
    if (!SetIndexTo("CUT")) {
      EXPECT_NE(ErrorCode(), 0);
      continue;
    }
    for (int k = 1; k <= 6 && OrderAt(1); ++k) {
      Set_Order_To(k);
      int steps = 0;
      for (GoTop(); !Eof() && ErrorCode() == 0 && steps < 1000; Skip(1)) ++steps;
      EXPECT_LT(steps, 1000);
    }
    CloseIndexes();
  }
  CloseArea();
}

}  // namespace
}  // namespace zedra::testing

namespace zedra::testing {
namespace {

// The production index comes with Use: found whatever its name's case, walked with the
// node cache and without, rebuilt with the controlling tag kept; a damaged or missing one
// leaves the table in natural order with a warning; a read-only table's index is never
// written.
TEST_F(IndexOpenTest, UseOpensTheProductionIndexAndCopesWithoutIt) {
  CopyFixture();
  // The index under a lower-case name is still the production index (on Windows both
  // names are one file).
#ifndef _WIN32
  WriteFileBytes(File("people.mdx"), ReadFileBytes(File("PEOPLE.MDX")));
  platform::RemoveFile(File("PEOPLE.MDX"));
#endif
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  EXPECT_EQ(ProductionIndexWarning(), "");
  EXPECT_EQ(CurrentOrder(), 1);
  const std::vector<int32_t> name = Expected("NAME");
  EXPECT_EQ(RecNo(), name.front());  // Use leaves the table on the first key
  EXPECT_EQ(Forward(), name);
  SetIndexCache(64 * 1024);
  ASSERT_FALSE(CurrentAreaIndex().cache.slots.empty());
  for (const char* tag : {"CITYD", "BORN", "NAME"}) {
    SCOPED_TRACE(tag);
    ASSERT_TRUE(SetOrderToTag(tag));
    const std::vector<int32_t> expected = Expected(tag);
    EXPECT_EQ(Forward(), expected);
    EXPECT_EQ(Backward(), std::vector<int32_t>(expected.rbegin(), expected.rend()));
    // The directory names each cached block's slot.
    const NodeCache& cache = CurrentAreaIndex().cache;
    for (const auto& [block, slot] : cache.where) EXPECT_EQ(cache.slots[slot].block, block);
  }
  // Rebuilt: the same orders, and the controlling tag is still BORN.
  ASSERT_TRUE(SetOrderToTag("BORN"));
  Reindex();
  ASSERT_EQ(ErrorCode(), 0) << TakeError();
  EXPECT_EQ(CurrentOrder(), 3);
  EXPECT_EQ(Forward(), Expected("BORN"));
  Set_Order_To(0);
  Reindex();
  EXPECT_EQ(CurrentOrder(), 0);
  CloseArea();

  // Read-only: opened and walked, the file keeps its bytes.
  const std::string before = ReadFileBytes(File("people.mdx"));
  UseOptions read_only;
  read_only.read_only = true;
  ASSERT_TRUE(Use(File("PEOPLE"), read_only));
  ASSERT_TRUE(SetOrderToTag("AMOUNT"));
  EXPECT_EQ(Forward(), Expected("AMOUNT"));
  CloseArea();
  EXPECT_EQ(ReadFileBytes(File("people.mdx")), before);

  // Damaged (a key expression that does not compile): natural order and the warning.
  const size_t anchor = size_t(LE32(before, 512 + 32)) * 512;  // tag 1's
  std::string bad = before;
  std::memcpy(&bad[anchor + 24], "UPPER((\0", 8);
  WriteFileBytes(File("people.mdx"), bad);
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  EXPECT_NE(ProductionIndexWarning().find("222"), std::string::npos) << ProductionIndexWarning();
  EXPECT_EQ(CurrentOrder(), 0);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(RecNo(), 1);
  EXPECT_EQ(Forward().size(), 200u);
  CloseArea();
  // A loop in the tree that only a walk reaches ends in an error of the walk.
  std::string loop = before;
  const uint32_t root = LE32(loop, anchor);
  PutLE32(reinterpret_cast<uint8_t*>(&loop[size_t(root) * 512 + 8 + 16]), root);
  WriteFileBytes(File("people.mdx"), loop);
  AutoReportScope quiet(false);
  if (Use(File("PEOPLE"), Exclusive()) && CurrentOrder() == 1) {
    int steps = 0;
    for (GoTop(); !Eof() && ErrorCode() == 0 && steps < 1000; Skip(1)) ++steps;
    EXPECT_LT(steps, 1000);
    for (GoBottom(); !Bof() && ErrorCode() == 0 && steps < 2000; Skip(-1)) ++steps;
    EXPECT_LT(steps, 2000);
  }
  Errors().ErrorCode = 0;
  CloseArea();
  // Missing: natural order, and the warning names the file.
  platform::RemoveFile(File("people.mdx"));
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  EXPECT_NE(ProductionIndexWarning().find("PEOPLE.MDX"), std::string::npos) << ProductionIndexWarning();
  EXPECT_EQ(CurrentOrder(), 0);
  CloseArea();
}

// The records of the first and the last key deleted and hidden: walks both ways end
// there instead of stepping on the order's end for ever.
TEST_F(IndexOpenTest, HiddenRecordsAtBothEndsOfAnOrderEndTheWalks) {
  CopyFixture();
  std::vector<int32_t> name = Expected("NAME");
  std::string table = ReadFileBytes(File("PEOPLE.DBF"));
  for (int32_t r : {name.front(), name.back()}) table[225 + size_t(r - 1) * 65] = '*';
  WriteFileBytes(File("PEOPLE.DBF"), table);
  ASSERT_TRUE(Use(File("PEOPLE"), Exclusive()));
  SetDeleted(true);
  GoTop();
  name = std::vector<int32_t>(name.begin() + 1, name.end() - 1);
  EXPECT_EQ(Forward(), name);
  EXPECT_EQ(Backward(), std::vector<int32_t>(name.rbegin(), name.rend()));
  GoBottom();
  Skip(1);
  EXPECT_TRUE(Eof());
  GoTop();
  Skip(-1);
  EXPECT_TRUE(Bof());
  EXPECT_EQ(RecNo(), name.front());
  CloseArea();
}

}  // namespace
}  // namespace zedra::testing
