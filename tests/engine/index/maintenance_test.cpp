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
    ASSERT_TRUE(SetIndexTo("")) << TakeError();
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
    for (ModelTag& t : tags_) t.Add(r, RecNo());
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
    EXPECT_TRUE(SetIndexTo("")) << TakeError();
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
}

TEST_F(MaintenanceTest, LongKeysGrowDeepTreesAndEmptiedNodesAreBypassed) {
  CreateTable(100, {Tag("NAME", "NAME", 'C'), Tag("DNAME", "NAME", 'C', "", 1),
                    Tag("ACTIVE", "NAME", 'C', "active"), Tag("UNAME", "NAME", 'C', "", 0, 1)});
  RunModel(ModelOperations(100000) / 2);
  CloseIndexes();
  const IndexCheck check = CheckIndexFile(File("M.MDX"), "NAME", false);
  ASSERT_EQ(check.tags.size(), 1u);
  EXPECT_GE(check.tags[0].depth, 4);
}

}  // namespace
}  // namespace zedra::testing
