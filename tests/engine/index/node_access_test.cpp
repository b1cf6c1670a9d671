// Node access on a built file: reads and writes, the current node, the node path in
// chunks of 9 levels, the node cache, anchors and the messages of their failures.
#include "base/dates.h"
#include "index/index_internal.h"
#include "index_test_util.h"

namespace zedra::testing {
namespace {

class NodeAccessTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    std::vector<std::string> records;
    for (int i = 0; i < 300; ++i) records.push_back(" " + std::string(1, char('A' + i % 26)) + std::to_string(1000 + i));
    WriteFileBytes(File("T.DBF"), MakeDbf(0x03, {{"NAME", 'C', 10}}, records));
    ASSERT_TRUE(Use(File("T.DBF"), Exclusive()));
    ASSERT_TRUE(MakeIndex({{"NAME", "NAME", "", 0, 0}}, ""));
    ASSERT_TRUE(CreateMdxHeader(File("T.MDX")));
    ASSERT_TRUE(ReadTagAnchor(1, 1));
    tag_ = OrderAt(1);
  }
  void TearDown() override {
    CloseIndexes();
    IndexTest::TearDown();
  }
  TagControl* tag_ = nullptr;
};

TEST_F(NodeAccessTest, NodesPathAndAnchor) {
  const std::string file = ReadFileBytes(File("T.MDX"));
  const int32_t root = tag_->Root();
  GetNode(root, 1);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(tag_->current_node_number, root);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(tag_->current_node), 1024), file.substr(size_t(root) * 512, 1024));
  EXPECT_EQ(tag_->current_entry, tag_->current_node + 8);
  const int32_t child = int32_t(GetLE32(tag_->current_node + 8));

  // Node 0 is refused with the area, order and tag named.
  GetNode(0, 1);
  EXPECT_EQ(TakeError(), "254: Invalid Node Number (0) in DBF Area 1, Order 1 " + File("T.MDX") +
                             " [tag: NAME] [GetNode]");
  GetNode(-1, 1);
  EXPECT_EQ(int32_t(GetLE32(tag_->current_entry)), -1);

  // A path of 12 levels spans two chunks; popping below the ninth frees the second.
  ResetPath(1);
  EXPECT_EQ(tag_->path_base->owner, PathOwner(1));
  GetNode(root, 1);
  for (int level = 0; level < 12; ++level) ASSERT_TRUE(add_path(1000 + level, 1));
  EXPECT_NE(tag_->path_top, tag_->path_base);
  for (int level = 10; level >= 0; --level) EXPECT_EQ(PopPath(1), 1000 + level);
  EXPECT_EQ(tag_->path_top, tag_->path_base);
  EXPECT_EQ(tag_->path_base->next, nullptr);
  EXPECT_EQ(PopPath(1), 0);

  // A block on the path is read from the path's copy; a write refreshes the copy.
  ResetPath(1);
  GetNode(child, 1);
  ASSERT_TRUE(add_path(child, 1));
  std::array<uint8_t, 1024> image{};
  std::memcpy(image.data(), tag_->current_node, 1024);
  image[2] = 1;  // the modified marker is cleared before writing
  image[100] ^= 0xFF;
  ASSERT_TRUE(SeekAndWrite(1, child, image.data()));
  EXPECT_EQ(image[2], 0);
  std::array<uint8_t, 1024> back{};
  ASSERT_TRUE(SeekAndRead(1, child, back.data()));
  EXPECT_EQ(back, image);
  EXPECT_EQ(ReadFileBytes(File("T.MDX")).substr(size_t(child) * 512, 1024),
            std::string(reinterpret_cast<char*>(image.data()), 1024));

  // A read past the end names the file and tag.
  EXPECT_FALSE(SeekAndRead(1, 100000, back.data()));
  EXPECT_EQ(TakeError(), "38: Error reading index file: " + File("T.MDX") + " [tag: NAME] [SeekAndRead]");
  EXPECT_EQ(TagDescription(1), File("T.MDX") + " [tag: NAME]");
  EXPECT_EQ(TagDescription(2), "");

  // The anchor copy goes back to its block and is read again.
  tag_->anchor[246] = 7;
  tag_->anchor_changed = true;
  WriteAnchor(1);
  EXPECT_FALSE(tag_->anchor_changed);
  tag_->anchor[246] = 0;
  ReadAnchorNodes();
  EXPECT_EQ(tag_->anchor[246], 7);
  const uint32_t anchor = GetLE32(CurrentAreaIndex().file.Entry(1));
  EXPECT_EQ(uint8_t(ReadFileBytes(File("T.MDX"))[anchor * 512 + 246]), 7);
  tag_->anchor[246] = 0;
  WriteAnchor(1);
}

TEST_F(NodeAccessTest, CacheMovesHitsForwardAndWritesBackChangedVictims) {
  GetNode(tag_->Root(), 1);
  const int32_t a = int32_t(GetLE32(tag_->current_node + 8));
  const int32_t b = int32_t(GetLE32(tag_->current_node + 8 + 16));
  const int32_t c = int32_t(GetLE32(tag_->current_node + 8 + 32));
  SetIndexCache(3000);
  NodeCache& cache = CurrentAreaIndex().cache;
  EXPECT_EQ(cache.size, 2560u);
  ASSERT_EQ(cache.slots.size(), 2u);
  GetNode(a, 1);
  GetNode(b, 1);
  EXPECT_EQ(cache.slots[0].block, a);
  EXPECT_EQ(cache.slots[1].block, b);
  GetNode(b, 1);  // hit in slot 1: one step forward
  EXPECT_EQ(cache.slots[0].block, b);
  EXPECT_EQ(cache.slots[1].block, a);
  // The last slot is the victim; its changed image is written first.
  uint8_t* changed = cache.slots[1].image;
  changed[2] = 1;
  changed[12] ^= 0x55;
  const uint8_t written = changed[12];
  GetNode(c, 1);
  EXPECT_EQ(cache.slots[1].block, c);
  EXPECT_EQ(uint8_t(ReadFileBytes(File("T.MDX"))[size_t(a) * 512 + 12]), written);
  // A read that fails in the victim's slot leaves the other slot's image alone: every
  // node comes back with its own bytes afterwards.
  GetNode(100000, 1);
  EXPECT_EQ(ErrorCode(), 38);
  TakeError();
  const std::string file = ReadFileBytes(File("T.MDX"));
  for (int32_t block : {a, b, c, b, a}) {
    GetNode(block, 1);
    ASSERT_EQ(ErrorCode(), 0);
    EXPECT_TRUE(std::string(reinterpret_cast<char*>(tag_->current_node), 1024) == file.substr(size_t(block) * 512, 1024))
        << "block " << block;
  }
  SetIndexCache(0);
  EXPECT_TRUE(cache.slots.empty());
}

}  // namespace
}  // namespace zedra::testing

#include "expr/day_numbers.h"
#include "expr/expr.h"

namespace zedra::testing {
namespace {

// BuildKey and the key text of each key type on the current record.
TEST_F(IndexTest, BuildKeyAndKeyText) {
  WriteFileBytes(File("K.DBF"), MakeDbf(0x03, {{"NAME", 'C', 6}, {"AMT", 'N', 8, 2}, {"BORN", 'D', 8}},
                                        {" Alpha   -12.5020261208", " Beta      3.00        "}));
  ASSERT_TRUE(Use(File("K.DBF"), Exclusive()));
  ASSERT_TRUE(MakeIndex({{"N", "UPPER(NAME)", "", 0, 0}, {"A", "AMT", "", 0, 0}, {"B", "BORN", "", 1, 0}}, ""));
  ASSERT_TRUE(CreateMdxHeader(File("K.MDX")));
  const char* keys[] = {"UPPER(NAME)", "AMT", "BORN"};
  for (int order = 1; order <= 3; ++order) {
    ASSERT_TRUE(ReadTagAnchor(order, order));
    OrderAt(order)->key_expression = AssignExpr(keys[order - 1]);
  }
  Dbf4Go(1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(BuildKey(1)), 7), std::string("ALPHA \0", 7));
  const auto amount = mdx::NumericKey("-12.50");
  EXPECT_EQ(std::memcmp(BuildKey(2), amount.data(), 12), 0);
  EXPECT_EQ(DateKeyValue(BuildKey(3)), YmdToDay(2026, 12, 8));
  EXPECT_EQ(Indexes().key_order, 3);
  EXPECT_EQ(KeyText(1), "ALPHA ");
  EXPECT_EQ(KeyText(2), "  -12.50");
  SetDateStyle(0);
  Dates().CenturyOn = false;
  EXPECT_EQ(KeyText(3), "12/08/26");
  EXPECT_EQ(KeyText(4), std::nullopt);
  Dbf4Go(2);
  EXPECT_EQ(DateKeyValue(BuildKey(3)), kBlankDay);
  CurrentAreaIndex().natural_order = true;
  EXPECT_EQ(KeyText(1), "Rec:         2");
  CloseIndexes();
}

}  // namespace
}  // namespace zedra::testing
