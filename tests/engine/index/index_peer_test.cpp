// Another reader: XBase::Index (Debian's libdbd-xbase-perl) walks every tag of files we
// build and must give our record order; and the tags of a file another library wrote,
// rebuilt here, give that library's order.
#include <fstream>
#include <sstream>

#include "index/index_check.h"
#include "index_test_util.h"

namespace zedra::testing {
namespace {

std::vector<uint32_t> PeerOrder(const std::string& mdx, const std::string& tag) {
  std::string out;
  const int status = RunCommand("perl " ZEDRA_INDEX_TEST_DIR "/xbase_walk.pl '" + mdx + "' " + tag, &out);
  EXPECT_EQ(status, 0) << out;
  std::vector<uint32_t> records;
  std::istringstream in(out);
  for (uint32_t r; in >> r;) records.push_back(r);
  return records;
}

class IndexPeerTest : public IndexTest {};

TEST_F(IndexPeerTest, XBaseIndexReadsOurOrder) {
  for (int n : {0, 100000}) {
    std::vector<std::string> records;
    for (int i = 0; i < n; ++i) {
      char r[64];
      const int v = int((uint32_t(i) * 2654435761u) % 100003u);
      std::snprintf(r, sizeof r, "%c%-8s%10.2f%04d%02d%02d%c", i % 7 == 0 ? '*' : ' ',
                    ("N" + std::to_string(v % 5000)).c_str(), (v - 50000) / 7.0, 1900 + v % 120,
                    1 + v % 12, 1 + v % 28, v % 3 ? 'T' : 'F');
      records.push_back(r);
    }
    WriteFileBytes(File("P.DBF"), MakeDbf(0x03, {{"NAME", 'C', 8}, {"AMT", 'N', 10, 2}, {"BORN", 'D', 8}, {"F", 'L', 1}}, records));
    ASSERT_TRUE(Use(File("P.DBF"), Exclusive()));
    const std::vector<TagInfo> tags = {{"NAME", "NAME", "", 0, 0},      {"AMT", "AMT", "", 0, 0},
                                       {"BORN", "BORN", "", 0, 0},      {"DESC", "NAME", "", 1, 0},
                                       {"UNIQ", "LEFT(NAME,3)", "", 0, 1}, {"FORF", "AMT", "F", 0, 0}};
    ASSERT_TRUE(MakeIndex(tags, "")) << TakeError();
    CloseAllAreas();
    const std::string file = ReadFileBytes(File("P.MDX"));
    for (size_t t = 0; t < tags.size(); ++t)
      EXPECT_EQ(PeerOrder(File("P.MDX"), tags[t].name), Records(WalkTag(file, int(t + 1))))
          << n << " records, tag " << tags[t].name;
  }
}

TEST_F(IndexPeerTest, AnotherWritersTagsRebuiltGiveItsOrder) {
  const std::string fixture = std::string(ZEDRA_FIXTURES_DIR) + "/dbase4-people/";
  WriteFileBytes(File("PEOPLE.DBF"), ReadFileBytes(fixture + "PEOPLE.DBF"));
  WriteFileBytes(File("PEOPLE.DBT"), ReadFileBytes(fixture + "PEOPLE.DBT"));
  WriteFileBytes(File("PEOPLE.MDX"), ReadFileBytes(fixture + "PEOPLE.MDX"));
  // The checker reads the file itself: the table opens without its production index.
  UseOptions alone = Exclusive();
  alone.production_index = false;
  ASSERT_TRUE(Use(File("PEOPLE.DBF"), alone));
  // The fixture itself passes the check, its blank dates included.
  const IndexCheck theirs = CheckIndexFile(File("PEOPLE.MDX"), "", false);
  EXPECT_TRUE(theirs.Ok());
  EXPECT_EQ(theirs.tags.size(), 6u);
  std::vector<TagSummary> summaries;
  std::string problem;
  ASSERT_TRUE(ReadTagSummaries(File("PEOPLE.MDX"), &summaries, &problem));
  std::vector<TagInfo> tags;
  for (const TagSummary& s : summaries)
    tags.push_back({s.name, s.key, s.for_expr, uint8_t(s.descending), uint8_t(s.unique)});
  ASSERT_TRUE(MakeIndex(tags, "")) << TakeError();
  const std::string file = ReadFileBytes(File("PEOPLE.MDX"));
  for (size_t t = 0; t < tags.size(); ++t) {
    std::ifstream in(fixture + "tag-" + tags[t].name + ".txt");
    std::vector<uint32_t> expected;
    std::string line;
    while (std::getline(in, line)) expected.push_back(uint32_t(std::stoul(line)));
    EXPECT_EQ(Records(WalkTag(file, int(t + 1))), expected) << tags[t].name;
  }
  EXPECT_TRUE(CheckIndexFile(File("PEOPLE.MDX"), "", true).Ok());
}

}  // namespace
}  // namespace zedra::testing
