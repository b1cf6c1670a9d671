// Indexes kept in step with record changes: random appends, replacements, deletions and
// recalls checked against a model of every tag, the layout of splits and removals, and
// failures in the middle of a change.
#include <cstdlib>
#include <map>

#include "index/index_check.h"
#include "index/mdx_format.h"
#include "index_test_util.h"
#include "platform/platform.h"

namespace zedra::testing {
namespace {

// A record as the model knows it.
struct ModelRecord {
  std::string name;  // padded to the field
  long cents = 0;
  int born = 0;      // YYYYMMDD, 0 blank
  bool deleted = false;
};

// One tag of the model: its definition, how its key compares, and its entries.
struct ModelTag {
  TagInfo info;
  char type;  // C, N or D
  std::string for_kind;  // "", "amount", "active"

  struct Key {
    std::string text;
    double number = 0;
  };
  struct Less {
    const ModelTag* tag;
    bool operator()(const Key& a, const Key& b) const {
      const int c = tag->type == 'C' ? a.text.compare(b.text) : a.number < b.number ? -1 : a.number > b.number;
      return tag->info.descending ? c > 0 : c < 0;
    }
  };
  std::multimap<Key, int32_t, Less> entries{Less{this}};

  Key KeyOf(const ModelRecord& r) const {
    if (type == 'C') return {r.name, 0};
    if (type == 'N') return {"", double(r.cents) / 100};
    return {"", r.born == 0 ? 1e100 : double(r.born)};
  }
  bool Member(const ModelRecord& r) const {
    if (for_kind == "amount") return r.cents >= 0;
    if (for_kind == "active") return !r.deleted;
    return true;
  }
  bool Equal(const Key& a, const Key& b) const { return !entries.key_comp()(a, b) && !entries.key_comp()(b, a); }
  void Add(const ModelRecord& r, int32_t n) {
    if (!Member(r)) return;
    const Key k = KeyOf(r);
    auto at = entries.lower_bound(k);
    if (info.unique && at != entries.end() && Equal(at->first, k)) return;
    entries.emplace_hint(at, k, n);  // before the keys equal to it
  }
  void Remove(const ModelRecord& r, int32_t n) {
    if (!Member(r)) return;
    const Key k = KeyOf(r);
    for (auto it = entries.lower_bound(k); it != entries.end() && Equal(it->first, k); ++it)
      if (it->second == n) {
        entries.erase(it);
        return;
      }
  }
  std::vector<uint32_t> Order() const {
    std::vector<uint32_t> out;
    for (const auto& [key, n] : entries) out.push_back(uint32_t(n));
    return out;
  }
};

class MaintenanceTest : public IndexTest {
 protected:
  std::vector<ModelRecord> records_;  // [0] unused
  std::vector<ModelTag> tags_;
  uint8_t name_length_ = 20;
  uint32_t cache_bytes_ = 0;  // the node cache of the controlling order

  void OpenIndex() {
    ASSERT_TRUE(SetIndexTo("")) << TakeError();
    SetIndexCache(cache_bytes_);
    EXPECT_EQ(CurrentAreaIndex().cache.slots.size(), cache_bytes_ / 1024);
  }
  std::mt19937 random_{20261209};

  void CreateTable(uint8_t name_length, std::vector<ModelTag> tags) {
    name_length_ = name_length;
    tags_ = std::move(tags);
    records_.assign(1, ModelRecord{});
    ASSERT_TRUE(CreateDbf(File("M.DBF"), 0x03,
                          {{"NAME", 'C', name_length, 0}, {"AMOUNT", 'N', 8, 2}, {"BORN", 'D', 8, 0}}))
        << TakeError();
    ASSERT_TRUE(Use(File("M.DBF"), Exclusive())) << TakeError();
    std::vector<TagInfo> infos;
    for (const ModelTag& t : tags_) infos.push_back(t.info);
    ASSERT_TRUE(MakeIndex(infos, "")) << TakeError();
    OpenIndex();
    for (ModelTag& t : tags_) t.entries = std::multimap<ModelTag::Key, int32_t, ModelTag::Less>(ModelTag::Less{&t});
  }

  ModelRecord RandomRecord() {
    ModelRecord r;
    std::string name = "N" + std::to_string(random_() % 60);
    if (name_length_ > 20) name += std::string(size_t(random_() % 40), char('a' + random_() % 3)) + "x";
    r.name = name + std::string(name_length_ - name.size(), ' ');
    const int kind = int(random_() % 10);
    r.cents = kind == 0 ? 0 : long(random_() % 200001) - 100000;
    r.born = kind == 1 ? 0 : int(19000101 + 10000 * (random_() % 120) + 100 * (random_() % 12) + random_() % 28);
    return r;
  }

  void PutFields(const ModelRecord& r) {
    ASSERT_TRUE(SetFieldText(1, r.name));
    ASSERT_TRUE(SetFieldNum(2, double(r.cents) / 100));
    ASSERT_TRUE(SetFieldDate(3, r.born == 0 ? "" : std::to_string(r.born)));
  }

  void Append() {
    ClearRecord();
    const ModelRecord r = RandomRecord();
    PutFields(r);
    ASSERT_TRUE(AppendRecord()) << TakeError();
    records_.push_back(r);
    const int32_t n = RecNo();
    for (ModelTag& t : tags_) t.Add(r, n);
    // The controlling order is on the new key: a step away and back returns to it.
    if (random_() % 8 == 0) {
      Skip(1);
      if (!Eof()) {
        Skip(-1);
        ASSERT_EQ(RecNo(), n);
      }
    }
  }

  // Reaches a record by number, or sometimes by a step from the one before it, so that
  // orders other than the controlling one are left wherever they were.
  int32_t Reach() {
    const int32_t count = int32_t(records_.size()) - 1;
    int32_t n = int32_t(random_() % uint32_t(count)) + 1;
    Goto(n);
    if (random_() % 4 == 0) {
      Skip(1);
      if (Eof()) Goto(n);
    }
    return RecNo();
  }

  void Change(int what) {
    const int32_t n = Reach();
    ModelRecord r = records_[size_t(n)];
    const ModelRecord old = r;
    bool ok;
    if (what == 0) {
      const ModelRecord fresh = RandomRecord();
      r.name = fresh.name;
      if (random_() % 2) r.cents = fresh.cents;
      if (random_() % 2) r.born = fresh.born;
      PutFields(r);
      ok = Replace();
    } else {
      r.deleted = what == 1;
      ok = what == 1 ? DeleteRec() : Recall();
    }
    ASSERT_TRUE(ok) << TakeError();
    // An entry moves only when its key or its membership changes.
    for (ModelTag& t : tags_) {
      if (t.Member(old) == t.Member(r) && (!t.Member(r) || t.Equal(t.KeyOf(old), t.KeyOf(r)))) continue;
      t.Remove(old, n);
      t.Add(r, n);
    }
    records_[size_t(n)] = r;
  }

  // The file's trees walked from their bytes against the model, and the checker.
  void Verify(const std::string& when) {
    const std::string file = ReadFileBytes(File("M.MDX"));
    for (size_t k = 0; k < tags_.size(); ++k)
      ASSERT_EQ(Records(WalkTag(file, int(k) + 1)), tags_[k].Order()) << tags_[k].info.name << " " << when;
    CloseIndexes();
    const IndexCheck check = CheckIndexFile(File("M.MDX"), "", false);
    OpenIndex();
    for (const std::string& p : check.file_problems) ADD_FAILURE() << when << ": " << p;
    for (const TagCheck& t : check.tags)
      for (const std::string& p : t.problems) ADD_FAILURE() << t.tag.name << " " << when << ": " << p;
    ASSERT_TRUE(check.Ok()) << when;
  }

  void RunModel(long operations) {
    const long batch = std::max(250L, operations / 40);
    for (long done = 0; done < operations;) {
      for (long i = 0; i < batch && done < operations; ++i, ++done) {
        const uint32_t dice = records_.size() < 20 ? 0 : random_() % 20;
        if (dice < 8) Append();
        else if (dice < 15) Change(0);
        else if (dice < 18) Change(1);
        else Change(2);
        if (HasFatalFailure()) return;
      }
      Verify("after " + std::to_string(done) + " operations");
      if (HasFatalFailure()) return;
    }
  }
};

long ModelOperations(long fallback) {
  const char* text = std::getenv("ZEDRA_MODEL_OPS");
  return text && std::atol(text) > 0 ? std::atol(text) : fallback;
}

ModelTag Tag(const char* name, const char* key, char type, const char* for_kind = "", uint8_t descending = 0,
             uint8_t unique = 0) {
  std::string for_expr;
  if (std::string(for_kind) == "amount") for_expr = "AMOUNT >= 0";
  if (std::string(for_kind) == "active") for_expr = ".NOT. DELETED()";
  return ModelTag{TagInfo{name, key, for_expr, descending, unique}, type, for_kind, {}};
}

TEST_F(MaintenanceTest, RandomChangesKeepEveryTagEqualToTheModel) {
  CreateTable(20, {Tag("NAME", "NAME", 'C'), Tag("AMOUNT", "AMOUNT", 'N'), Tag("BORN", "BORN", 'D'),
                   Tag("DNAME", "NAME", 'C', "", 1), Tag("UAMOUNT", "AMOUNT", 'N', "", 0, 1),
                   Tag("PLUS", "BORN", 'D', "amount"), Tag("ACTIVE", "NAME", 'C', "active", 1)});
  RunModel(ModelOperations(100000) / 2);
  CloseIndexes();
  if (PeerProgramsAvailable()) {
    for (const ModelTag& t : tags_) EXPECT_EQ(XBaseOrder(File("M.MDX"), t.info.name), t.Order()) << t.info.name;
  }
}

TEST_F(MaintenanceTest, LongKeysGrowDeepTreesAndEmptiedNodesAreBypassed) {
  cache_bytes_ = 16 * 1024;  // a small node cache: its copies are changed and evicted
  CreateTable(100, {Tag("NAME", "NAME", 'C'), Tag("DNAME", "NAME", 'C', "", 1),
                    Tag("ACTIVE", "NAME", 'C', "active"), Tag("UNAME", "NAME", 'C', "", 0, 1)});
  RunModel(ModelOperations(100000) / 2);
  CloseIndexes();
  const IndexCheck check = CheckIndexFile(File("M.MDX"), "NAME", false);
  ASSERT_EQ(check.tags.size(), 1u);
  EXPECT_GE(check.tags[0].depth, 4);
}

// The bytes of node `block` of a file.
std::string NodeAt(const std::string& file, uint32_t block) { return file.substr(size_t(block) * 512, 1024); }
double NumericAt(const std::string& node, int i) {
  return mdx::NumericKeyValue(reinterpret_cast<const uint8_t*>(node.data()) + 8 + 16 * size_t(i) + 4);
}

class MaintenanceLayoutTest : public MaintenanceTest {
 protected:
  void AppendAmount(long whole) {
    ClearRecord();
    ASSERT_TRUE(SetFieldNum(2, double(whole)));
    ASSERT_TRUE(AppendRecord()) << TakeError();
  }
  uint32_t Anchor(const std::string& file, int k) { return LE32(file, 512 + 32 * size_t(k)); }
};

TEST_F(MaintenanceLayoutTest, SplitsNewRootsAndEmptiedLeavesFollowTheLayout) {
  CreateTable(20, {Tag("AMOUNT", "AMOUNT", 'N'), Tag("BIG", "AMOUNT", 'N', "")});
  // The second tag holds only amounts of 200 and more.
  CloseIndexes();
  ASSERT_TRUE(MakeIndex({{"AMOUNT", "AMOUNT", "", 0, 0}, {"BIG", "AMOUNT", "AMOUNT >= 200", 0, 0}}, ""));
  ASSERT_TRUE(SetIndexTo("")) << TakeError();
  for (long a = 1; a <= 63; ++a) AppendAmount(a);
  std::string file = ReadFileBytes(File("M.MDX"));
  const uint32_t leaf = LE32(file, Anchor(file, 1) * 512);
  ASSERT_EQ(LE16(NodeAt(file, leaf), 0), 63);  // a full root leaf of 12-byte keys
  const uint32_t end = uint32_t(file.size() / 512);

  // 63 keys split into 32 and 31; the new key 0 lands at index 0 of the left half, and
  // order 1 is positioned there.
  AppendAmount(0);
  file = ReadFileBytes(File("M.MDX"));
  const std::string left = NodeAt(file, leaf), right = NodeAt(file, end);
  EXPECT_EQ(LE16(left, 0), 33);
  EXPECT_NEAR(NumericAt(left, 0), 0.0, 1e-9);
  EXPECT_EQ(LE32(left, 8), 64u);
  EXPECT_EQ(LE16(right, 0), 31);
  EXPECT_NEAR(NumericAt(right, 0), 33.0, 1e-9);
  EXPECT_EQ(LE32(right, 8 + 16 * 31), 0u);
  const uint32_t root = LE32(file, Anchor(file, 1) * 512);  // written at once
  EXPECT_EQ(root, end + 2);
  EXPECT_EQ(LE32(file, 32), root + 1);
  const std::string top = NodeAt(file, root);
  EXPECT_EQ(LE16(top, 0), 1);
  EXPECT_EQ(LE32(top, 8), leaf);
  EXPECT_NEAR(NumericAt(top, 0), 32.0, 1e-9);
  EXPECT_EQ(LE32(top, 8 + 16), end);
  EXPECT_EQ(OrderAt(1)->current_node_number, int32_t(leaf));
  EXPECT_EQ(OrderAt(1)->current_index, 0);
  EXPECT_EQ(GetLE32(OrderAt(1)->current_entry), 64u);

  // A full leaf split by a key greater than its right half: the key ends the right half
  // and the parent gets the left half's greatest key before the right half.
  for (long a = 64; a <= 95; ++a) AppendAmount(a);
  AppendAmount(300);
  file = ReadFileBytes(File("M.MDX"));
  const std::string parent = NodeAt(file, root);
  ASSERT_EQ(LE16(parent, 0), 2);
  EXPECT_EQ(LE32(parent, 8 + 16), end);
  EXPECT_NEAR(NumericAt(parent, 1), 64.0, 1e-9);
  const std::string newest = NodeAt(file, LE32(parent, 8 + 32));
  EXPECT_EQ(LE16(newest, 0), 32);
  EXPECT_NEAR(NumericAt(newest, 31), 300.0, 1e-9);
  EXPECT_EQ(Records(WalkTag(file, 2)), (std::vector<uint32_t>{97}));

  // The only key of a one-leaf tree leaving the FOR condition zeroes the leaf and clears
  // the anchor's FOR flag.
  Goto(97);
  ASSERT_TRUE(SetFieldNum(2, 5));
  ASSERT_TRUE(Replace()) << TakeError();
  file = ReadFileBytes(File("M.MDX"));
  const uint32_t big = Anchor(file, 2) * 512;
  EXPECT_EQ(NodeAt(file, LE32(file, big)), std::string(1024, '\0'));
  EXPECT_EQ(file[big + mdx::kAncForHasKeys], 0);
  CloseIndexes();
  EXPECT_TRUE(CheckIndexFile(File("M.MDX"), "", false).Ok());
}

TEST_F(MaintenanceLayoutTest, UniqueTagsKeepTheFirstHolderOfAKey) {
  CreateTable(20, {Tag("U", "AMOUNT", 'N', "", 0, 1)});
  AppendAmount(7);
  AppendAmount(7);  // skipped
  AppendAmount(3);
  Goto(2);
  ASSERT_TRUE(SetFieldNum(2, 9));
  ASSERT_TRUE(Replace()) << TakeError();  // record 2 was never in the tag: now it is
  Goto(1);
  ASSERT_TRUE(SetFieldNum(2, 9));
  ASSERT_TRUE(Replace()) << TakeError();  // 9 is held by record 2: record 1 leaves
  EXPECT_EQ(Records(WalkTag(ReadFileBytes(File("M.MDX")), 1)), (std::vector<uint32_t>{3, 2}));
}

TEST_F(MaintenanceLayoutTest, RecordsFromAnotherAreaGetTheirKeysInEveryOrder) {
  CreateTable(20, {Tag("NAME", "NAME", 'C'), Tag("DAMOUNT", "AMOUNT", 'N', "", 1)});
  AppendAmount(5);
  ASSERT_TRUE(CreateDbf(File("S.DBF"), 0x03, {{"NAME", 'C', 20, 0}, {"AMOUNT", 'N', 8, 2}}));
  ASSERT_TRUE(Select(2));
  ASSERT_TRUE(Use(File("S.DBF"), Exclusive()));
  for (const char* name : {"b", "a", "c"}) {
    ClearRecord();
    SetFieldText(1, name);
    SetFieldNum(2, name[0] - 'a' + 10);
    ASSERT_TRUE(AppendRecord());
  }
  ASSERT_TRUE(Select(1));
  ASSERT_TRUE(AppendFrom(2)) << TakeError();
  const std::string file = ReadFileBytes(File("M.MDX"));
  EXPECT_EQ(Records(WalkTag(file, 1)), (std::vector<uint32_t>{1, 3, 2, 4}));
  EXPECT_EQ(Records(WalkTag(file, 2)), (std::vector<uint32_t>{4, 2, 3, 1}));
}

// Fails the n-th write of `size` bytes (index nodes are 1024 bytes).
void FailWrite(int n, size_t size) {
  auto count = std::make_shared<int>(0);
  platform::SetFaultHook([=](platform::FileChange change, size_t* bytes) -> uint32_t {
    if (change == platform::FileChange::Write && *bytes == size && ++*count == n) return 112;
    return 0;
  });
}

TEST_F(MaintenanceLayoutTest, AFailedInsertionInTheThirdOfFourOrdersRollsBackTheOthers) {
  CreateTable(20, {Tag("A", "AMOUNT", 'N'), Tag("B", "NAME", 'C'), Tag("C", "AMOUNT", 'N', "", 1),
                   Tag("D", "BORN", 'D')});
  AppendAmount(1);
  FailWrite(3, 1024);
  ClearRecord();
  SetFieldNum(2, 2);
  EXPECT_FALSE(AppendRecord());
  platform::SetFaultHook(nullptr);
  EXPECT_EQ(ErrorCode(), 101) << TakeError();
  const std::string file = ReadFileBytes(File("M.MDX"));
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(Records(WalkTag(file, k)), (std::vector<uint32_t>{1})) << k;
  CloseIndexes();
  const IndexCheck check = CheckIndexFile(File("M.MDX"), "", false);
  ASSERT_EQ(check.tags.size(), 4u);
  for (const TagCheck& t : check.tags) {
    ASSERT_EQ(t.problems.size(), 1u) << t.tag.name;
    EXPECT_EQ(t.problems[0].find("record 2 "), 0u) << t.problems[0];
  }
}

TEST_F(MaintenanceLayoutTest, AWriteFailingInASplitIsReportedAndTheCheckNamesTheLostKeys) {
  CreateTable(20, {Tag("AMOUNT", "AMOUNT", 'N')});
  for (long a = 1; a <= 63; ++a) AppendAmount(a);
  FailWrite(2, 1024);  // the left half is written, the new right half is not
  ClearRecord();
  SetFieldNum(2, 99);
  EXPECT_FALSE(AppendRecord());
  platform::SetFaultHook(nullptr);
  EXPECT_EQ(ErrorCode(), 101);
  EXPECT_NE(Errors().PendingMessage.find("[SeekAndWrite]"), std::string::npos) << Errors().PendingMessage;
  TakeError();
  CloseAllAreas();
  ASSERT_TRUE(Use(File("M.DBF"), Exclusive())) << TakeError();
  ASSERT_TRUE(SetIndexTo("")) << TakeError();
  EXPECT_EQ(RecCount(), 64);
  CloseIndexes();
  const IndexCheck check = CheckIndexFile(File("M.MDX"), "", false);
  ASSERT_EQ(check.tags.size(), 1u);
  const std::vector<std::string>& problems = check.tags[0].problems;
  ASSERT_FALSE(problems.empty());
  // The keys of the lost half (33 to 63) and the new record's key have no entry.
  EXPECT_EQ(problems.front().find("record 33 "), 0u) << problems.front();
  for (const std::string& p : problems) EXPECT_NE(p.find("no entry in the tag"), std::string::npos) << p;
}

// Counts the renames a step makes; with fail_at, fails that one.
int Renames(const std::function<void()>& step, int fail_at = 0) {
  auto count = std::make_shared<int>(0);
  platform::SetFaultHook([=](platform::FileChange change, size_t*) -> uint32_t {
    if (change == platform::FileChange::Rename && ++*count == fail_at) return 5;
    return 0;
  });
  step();
  platform::SetFaultHook(nullptr);
  return *count;
}

TEST_F(MaintenanceLayoutTest, PackAndZapRebuildTheProductionIndexAlsoWhenItWasNotOpen) {
  CreateTable(20, {Tag("AMOUNT", "AMOUNT", 'N'), Tag("DNAME", "NAME", 'C', "", 1)});
  for (long a : {5, 3, 9, 1, 7}) AppendAmount(a);
  for (int32_t n : {2, 4}) {
    Goto(n);
    ASSERT_TRUE(DeleteRec());
  }
  // A program that does not know indexes packs the table: the index is opened and rebuilt.
  CloseIndexes();
  ASSERT_TRUE(Pack()) << TakeError();
  EXPECT_EQ(Records(WalkTag(ReadFileBytes(File("M.MDX")), 1)), (std::vector<uint32_t>{1, 3, 2}));
  CloseIndexes();
  EXPECT_TRUE(CheckIndexFile(File("M.MDX"), "", true).Ok());

  // A rebuild whose final rename fails leaves the old file with every tag, open again.
  ASSERT_TRUE(SetIndexTo("")) << TakeError();
  WriteFileBytes(File("SAVED.DBF"), ReadFileBytes(File("M.DBF")));
  WriteFileBytes(File("SAVED.MDX"), ReadFileBytes(File("M.MDX")));
  const int renames = Renames([] { ASSERT_TRUE(Zap()) << ErrorCode(); });
  ASSERT_GE(renames, 1);
  EXPECT_EQ(RecCount(), 0);
  EXPECT_TRUE(Records(WalkTag(ReadFileBytes(File("M.MDX")), 2)).empty());
  CloseAllAreas();
  WriteFileBytes(File("M.DBF"), ReadFileBytes(File("SAVED.DBF")));
  WriteFileBytes(File("M.MDX"), ReadFileBytes(File("SAVED.MDX")));
  ASSERT_TRUE(Use(File("M.DBF"), Exclusive())) << TakeError();
  ASSERT_TRUE(SetIndexTo("")) << TakeError();
  const std::string index = ReadFileBytes(File("M.MDX"));
  Renames([] { EXPECT_FALSE(Zap()); }, renames);
  EXPECT_EQ(ErrorCode(), 5) << TakeError();
  EXPECT_EQ(ReadFileBytes(File("M.MDX")), index);
  EXPECT_TRUE(IndexHookTable().IndexOpen());
  EXPECT_FALSE(FilePresent(File("M.$$I")));
}

}  // namespace
}  // namespace zedra::testing
