// Every key of a 1,000,000-record tag found through Seek.
#include <algorithm>
#include <numeric>

#include "index_test_util.h"

namespace zedra::testing {
namespace {

TEST_F(IndexTest, SeekFindsEveryKeyOfAMillionRecordTag) {
  constexpr int kRecords = 1000000;
  // Distinct names in a shuffled order, mixed case so that UPPER matters.
  std::vector<int> ids(kRecords);
  std::iota(ids.begin(), ids.end(), 0);
  std::shuffle(ids.begin(), ids.end(), std::mt19937(3));
  auto name_of = [](int id) {
    std::string s = "n";
    for (int k = 0; k < 5; ++k, id /= 26) s += char((k % 2 ? 'a' : 'A') + id % 26);
    return s;
  };
  std::vector<std::string> records;
  records.reserve(kRecords);
  for (int id : ids) records.push_back(" " + name_of(id) + "    ");
  WriteFileBytes(File("BIG.DBF"), MakeDbf(0x03, {{"NAME", 'C', 10}}, records));
  records.clear();
  records.shrink_to_fit();
  ASSERT_TRUE(Use(File("BIG"), Exclusive()));
  ASSERT_TRUE(MakeIndexAndOpen({{"UNAME", "UPPER(NAME)", "", 0, 0}}, "")) << TakeError();
  SetIndexCache(4u << 20);
  for (int r = 1; r <= kRecords; ++r) {
    const std::string key = UpperText(name_of(ids[size_t(r - 1)]));
    if (!Seek(key) || RecNo() != r) {
      ADD_FAILURE() << key << " at record " << r << " found at " << RecNo();
      break;
    }
  }
  // Beyond every key, and before every key.
  EXPECT_FALSE(Seek(std::string("NZZZZZZ")));
  EXPECT_TRUE(Eof());
  EXPECT_FALSE(Seek(std::string("A")));
  EXPECT_EQ(RecNo(), int32_t(std::find(ids.begin(), ids.end(), 0) - ids.begin()) + 1);
  CloseArea();
}

}  // namespace
}  // namespace zedra::testing
