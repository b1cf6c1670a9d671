// The index builder against a model: random tables with every key type, duplicates,
// blank dates, negative numbers, deleted records, FOR conditions, unique and descending
// tags; spilled builds giving the same bytes; the memory plan's refusals and the other
// failures of a build.
#include <algorithm>
#include <cstdlib>
#include <map>

#include "expr/day_numbers.h"
#include "index/index_check.h"
#include "index/index_internal.h"
#include "index_test_util.h"
#ifndef _WIN32
#include "../table/forked_child.h"
#endif

namespace zedra::testing {
namespace {

struct Row {
  bool deleted = false;
  std::string name;   // C10
  int64_t cents = 0;  // N10.2
  int year = 0, month = 0, day = 0;  // D, year 0: blank
  bool flag = false;  // L
  std::string longk;  // C100
};

std::string Pad(std::string s, size_t n) {
  s.resize(n, ' ');
  return s;
}

std::string RowBytes(const Row& r) {
  char amount[32], date[16];
  std::snprintf(amount, sizeof amount, "%10.2f", double(r.cents) / 100);
  if (r.year)
    std::snprintf(date, sizeof date, "%04d%02d%02d", r.year, r.month, r.day);
  else
    std::snprintf(date, sizeof date, "        ");
  return std::string(r.deleted ? "*" : " ") + Pad(r.name, 10) + amount + date + (r.flag ? "T" : "F") +
         Pad(r.longk, 100);
}

const std::vector<RawField> kFields = {
    {"NAME", 'C', 10}, {"AMT", 'N', 10, 2}, {"BORN", 'D', 8}, {"FLAG", 'L', 1}, {"LONGK", 'C', 100}};

std::vector<Row> RandomRows(int n, uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int k) { return int(rng() % uint32_t(k)); };
  std::vector<Row> rows(static_cast<size_t>(n));
  for (Row& r : rows) {
    r.deleted = pick(10) == 0;
    const int length = 1 + pick(4);
    for (int i = 0; i < length; ++i) r.name += "aBcD"[pick(4)];
    // At most 999910.00 either way, so that "-999910.00" still fills N10.2 exactly.
    r.cents = int64_t(pick(2001) - 1000) * (pick(3) == 0 ? 99991 : 7);
    if (pick(8) != 0) {
      r.year = 1900 + pick(150);
      r.month = 1 + pick(12);
      r.day = 1 + pick(28);
    }
    r.flag = pick(2) == 0;
    r.longk = std::string(size_t(90 + pick(10)), 'x') + char('a' + pick(3));
  }
  return rows;
}

void WriteTable(const std::string& path, const std::vector<Row>& rows) {
  std::vector<std::string> records;
  size_t length = 1;
  for (const RawField& f : kFields) length += f.length;
  for (const Row& r : rows) {
    // A value wider than its field would shift every field after it in the record.
    records.push_back(RowBytes(r));
    EXPECT_EQ(records.back().size(), length) << records.back();
  }
  WriteFileBytes(path, MakeDbf(0x03, kFields, records));
}

const std::vector<TagInfo> kTags = {
    {"NAMEU", "UPPER(NAME)", "", 0, 0},
    {"AMT", "AMT", "", 0, 0},
    {"BORND", "BORN", "", 1, 0},
    {"UAMT", "AMT", "", 0, 1},
    {"FLAGN", "NAME", "FLAG", 0, 0},
    {"ONE", "LEFT(NAME,1)", "", 1, 1},
    {"LONG", "LONGK", ".NOT. FLAG", 1, 0},
};

// One key of the model: text keys as their bytes, numbers and dates as numbers.
struct Item {
  std::string text;
  double number = 0;
  uint32_t record = 0;
};

bool NumericTag(size_t tag) { return tag >= 1 && tag <= 3; }

// The model: the keys each tag of kTags must hold, in its order.
std::vector<Item> ModelItems(const std::vector<Row>& rows, size_t tag) {
  std::vector<Item> items;
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    Item it;
    it.record = uint32_t(i + 1);
    switch (tag) {
      case 0: {
        it.text = Pad(r.name, 10);
        for (char& c : it.text) c = char(std::toupper(uint8_t(c)));
        break;
      }
      case 1:
      case 3: it.number = double(r.cents); break;
      case 2: it.number = r.year ? YmdToDay(r.year, r.month, r.day) : 1e300; break;
      case 4:
        if (!r.flag) continue;
        it.text = Pad(r.name, 10);
        break;
      case 5: it.text = r.name.substr(0, 1); break;
      case 6:
        if (r.flag) continue;
        it.text = Pad(r.longk, 100);
        break;
    }
    items.push_back(it);
  }
  const bool descending = kTags[tag].descending;
  auto key_less = [&](const Item& a, const Item& b) {
    const bool numeric = NumericTag(tag);
    if (numeric ? a.number == b.number : a.text == b.text) return false;
    const bool less = numeric ? a.number < b.number : a.text < b.text;
    return descending ? !less : less;
  };
  std::stable_sort(items.begin(), items.end(), key_less);
  std::vector<Item> kept;
  for (size_t i = 0; i < items.size(); ++i) {
    if (kTags[tag].unique && i > 0 && !key_less(items[i - 1], items[i])) continue;
    kept.push_back(items[i]);
  }
  return kept;
}

// The record order each tag of kTags must give.
std::vector<uint32_t> ModelOrder(const std::vector<Row>& rows, size_t tag) {
  std::vector<uint32_t> order;
  for (const Item& item : ModelItems(rows, tag)) order.push_back(item.record);
  return order;
}

class IndexBuildTest : public IndexTest {
 protected:
  void SetUp() override {
    IndexTest::SetUp();
    SetSystemTempDirectory(dir_.path());
  }
  void TearDown() override {
    SetSystemTempDirectory("");
    IndexTest::TearDown();
  }
  bool TempFilesLeft() {
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(dir_.path(), "ZED*.tmp", &entries);
    return !entries.empty();
  }
};

TEST_F(IndexBuildTest, RandomTablesGiveTheModelsOrder) {
  // Seed 11 draws the widest amounts of both signs.
  const std::vector<std::pair<uint32_t, int>> tables = {{1, 400}, {2, 800}, {3, 3000}, {11, 2500}};
  for (const auto& [seed, count] : tables) {
    const std::vector<Row> rows = RandomRows(count, seed);
    WriteTable(File("R.DBF"), rows);
    ASSERT_TRUE(Use(File("R.DBF"), Exclusive()));
    ASSERT_TRUE(MakeIndex(kTags, "")) << TakeError();
    EXPECT_EQ(Indexes().last_build_runs, 0u);
    const std::string file = ReadFileBytes(File("R.MDX"));
    ASSERT_EQ(uint8_t(file[28]), kTags.size());
    for (size_t t = 0; t < kTags.size(); ++t)
      EXPECT_EQ(Records(WalkTag(file, int(t + 1))), ModelOrder(rows, t)) << "seed " << seed << " tag " << kTags[t].name;
    // The key bytes: the anchor's sizes and a numeric key as NumericKey makes it.
    const size_t amt = size_t(LE32(file, 512 + 64)) * 512;
    EXPECT_EQ(file[amt + 9], 'N');
    EXPECT_EQ(LE16(file, amt + 12), 12);
    EXPECT_EQ(LE16(file, amt + 14), 63);
    EXPECT_EQ(uint8_t(file[amt + 8]), 0x10);
    for (const LeafEntry& e : WalkTag(file, 2)) {
      char text[32];
      std::snprintf(text, sizeof text, "%.2f", double(rows[e.record - 1].cents) / 100);
      const auto key = mdx::NumericKey(text);
      ASSERT_EQ(e.key, std::string(reinterpret_cast<const char*>(key.data()), 12)) << text;
    }
    const size_t longk = size_t(LE32(file, 512 + 32 * 7)) * 512;
    EXPECT_EQ(LE16(file, longk + 12), 100);
    EXPECT_EQ(LE16(file, longk + 14), 9);
    EXPECT_EQ(uint8_t(file[longk + 8]), 0x18);
    EXPECT_EQ(uint8_t(file[longk + 245]), 1);
    EXPECT_EQ(file.substr(longk + 762, 11), std::string(".NOT. FLAG\0", 11));
    const size_t one = size_t(LE32(file, 512 + 32 * 6)) * 512;
    EXPECT_EQ(uint8_t(file[one + 8]), 0x58);
    EXPECT_EQ(uint8_t(file[one + 23]), 1);
    // Header bytes 32-35: the last tag's root + 2.
    EXPECT_EQ(LE32(file, 32), LE32(file, longk) + 2);
    // The table's header marks its production index.
    EXPECT_EQ(uint8_t(ReadFileBytes(File("R.DBF"))[28]), 1);
    const IndexCheck check = CheckIndexFile(File("R.MDX"), "", true);
    EXPECT_TRUE(check.Ok()) << (check.tags.empty() || check.tags[0].problems.empty() ? "" : check.tags[0].problems[0]);
    CloseAllAreas();
  }
}

TEST_F(IndexBuildTest, SpilledRunsGiveTheSameBytesAndTheTemporaryFileGoes) {
  const std::vector<Row> rows = RandomRows(5000, 7);
  WriteTable(File("R.DBF"), rows);
  ASSERT_TRUE(Use(File("R.DBF"), Exclusive()));
  ASSERT_TRUE(MakeIndex(kTags, "MEM"));
  int ticks = 0;
  SetIndexProgress([&](uint32_t tick, uint32_t total) {
    ++ticks;
    EXPECT_EQ(tick, uint32_t((ticks - 1) % 7 + 1));
    EXPECT_EQ(total, 7u);
  }, 7);
  SetMemoryBudget(60000);
  ASSERT_TRUE(MakeIndex(kTags, "DISK")) << TakeError();
  EXPECT_GE(Indexes().last_build_runs, 3u);  // the last tag's runs
  SetMemoryBudget(-1);
  EXPECT_EQ(ticks, 7 * int(kTags.size()));
  SetIndexProgress(nullptr, 0);
  EXPECT_FALSE(TempFilesLeft());
  EXPECT_EQ(ReadFileBytes(File("MEM.MDX")), ReadFileBytes(File("DISK.MDX")));
}

TEST_F(IndexBuildTest, TheMemoryPlanRefusesWithItsFigures) {
  WriteTable(File("R.DBF"), RandomRows(5000, 9));
  ASSERT_TRUE(Use(File("R.DBF"), Exclusive()));
  // 5000 keys of 10 bytes: 5 levels of 1024 bytes, then sqrt(5000 * 18 * 28) = 1587.
  SetMemoryBudget(6000);
  EXPECT_FALSE(MakeIndex({{"N", "NAME", "", 0, 0}}, ""));
  EXPECT_EQ(TakeError(), "217: Additional 5315 bytes of memory are needed. [MakeIndex]");
  SetMemoryBudget(4000);
  EXPECT_FALSE(MakeIndex({{"N", "NAME", "", 0, 0}}, ""));
  EXPECT_EQ(TakeError(), "217:  for allocating reindex stack [MakeIndex]");
  SetMemoryBudget(1000);
  EXPECT_FALSE(MakeIndex({{"N", "NAME", "", 0, 0}}, ""));
  EXPECT_EQ(TakeError(), "217:  to allocate index header buffer [CreateMdxHeader]");
  EXPECT_FALSE(TempFilesLeft());
}

TEST_F(IndexBuildTest, EdgeTablesAndTheTagChecks) {
  // Unique over A, A, B keeps records 1 and 3; equal keys of a plain tag by record.
  WriteFileBytes(File("U.DBF"), MakeDbf(0x03, {{"NAME", 'C', 3}, {"F", 'L', 1}}, {" A  T", " A  T", " B  F", " A  F"}));
  ASSERT_TRUE(Use(File("U.DBF"), Exclusive()));
  ASSERT_TRUE(MakeIndex({{"U", "NAME", "", 0, 1}, {"P", "NAME", "", 0, 0}}, ""));
  std::string file = ReadFileBytes(File("U.MDX"));
  EXPECT_EQ(Records(WalkTag(file, 1)), (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(Records(WalkTag(file, 2)), (std::vector<uint32_t>{1, 2, 4, 3}));

  // The failures of AddIndexTag, each with its message; the tags before stay.
  ASSERT_TRUE(CreateMdxHeader(File("U.MDX")));
  EXPECT_FALSE(AddIndexTag({"L", std::string(221, 'A'), "", 0, 0}, false));
  EXPECT_EQ(TakeError(), "300:  [AddIndexTag()]");
  EXPECT_FALSE(AddIndexTag({"L", "F", "", 0, 0}, false));
  EXPECT_EQ(TakeError(), "254: Wrong parser return type [AddIndexTag()]");
  EXPECT_FALSE(AddIndexTag({"L", "NAME", "NAME", 0, 0}, false));
  EXPECT_EQ(TakeError(), "362: Invalid FOR expression for L [AddIndexTag()]");
  EXPECT_FALSE(AddIndexTag({"L", "NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME+NAME", "", 0, 0}, false));
  EXPECT_EQ(TakeError(), "266: Incorrect key length: Must be 1 to 100. [AddIndexTag()]");
  EXPECT_FALSE(AddIndexTag({"L", "TRIM(RIGHT(NAME,2))", "", 0, 0}, false));
  EXPECT_EQ(TakeError(), "266: Incorrect key length: Must be 1 to 100. [AddIndexTag()]");
  CloseIndexes();
  EXPECT_EQ(uint8_t(ReadFileBytes(File("U.MDX"))[28]), 2);
  CloseAllAreas();

  // No records: one empty leaf per tag, and a FOR tag's byte 246 stays 0.
  WriteFileBytes(File("E.DBF"), MakeDbf(0x03, {{"NAME", 'C', 3}, {"F", 'L', 1}}, {}));
  ASSERT_TRUE(Use(File("E.DBF"), Exclusive()));
  ASSERT_TRUE(MakeIndex({{"A", "NAME", "F", 0, 0}}, "")) << TakeError();
  file = ReadFileBytes(File("E.MDX"));
  const size_t anchor = size_t(LE32(file, 512 + 32)) * 512;
  const size_t root = size_t(LE32(file, anchor)) * 512;
  EXPECT_EQ(LE16(file, root), 0);
  EXPECT_EQ(LE32(file, root + 8), 0u);
  EXPECT_EQ(uint8_t(file[anchor + 245]), 1);
  EXPECT_EQ(uint8_t(file[anchor + 246]), 0);
  EXPECT_EQ(file.size(), 2048u + 1024 + 1024);
  CloseAllAreas();
  EXPECT_FALSE(MakeIndex({{"A", "NAME", "", 0, 0}}, ""));
  EXPECT_EQ(TakeError(), "215: No database in use [MakeIndex]  WorkArea = 1");

  // A header that claims more records than the file holds: the table's count is taken
  // from the file, and the tag holds the records there are.
  std::string claims = MakeDbf(0x03, {{"NAME", 'C', 3}}, {" ABC", " DEF"});
  PutLE32(reinterpret_cast<uint8_t*>(claims.data()) + 4, 1000000);
  WriteFileBytes(File("C.DBF"), claims);
  if (Use(File("C.DBF"), Exclusive())) {
    EXPECT_TRUE(MakeIndex({{"A", "NAME", "", 0, 0}}, "")) << TakeError();
    EXPECT_EQ(Records(WalkTag(ReadFileBytes(File("C.MDX")), 1)), (std::vector<uint32_t>{1, 2}));
  } else {
    TakeError();
  }
  EXPECT_FALSE(TempFilesLeft());
}

}  // namespace
}  // namespace zedra::testing

namespace zedra::testing {
namespace {

// Forks the other program from inside the test (POSIX only).
#ifndef _WIN32
// Another program holds the index file (and in the second case the table too): the build
// reopens the table exclusively for itself, or refuses with 225 when it cannot. Either
// way the table is shared again afterwards; the file the other program holds cannot be
// replaced, so the first build fails when it opens it.
TEST_F(IndexBuildTest, ASharedTableIsReopenedExclusivelyForTheBuild) {
  WriteTable(File("S.DBF"), RandomRows(50, 4));
  ASSERT_TRUE(Use(File("S.DBF")));
  ASSERT_TRUE(MakeIndex({{"NAME", "NAME", "", 0, 0}}, ""));
  for (bool holds_table : {false, true}) {
    Signal ready, done;
    pid_t child = StartChild([&] {
      // The copy of the parent's table handle would keep the parent's sharing lock.
      close(AreaAt(1)->file.handle());
      if (holds_table) {
        Select(2);
        if (!Use(File("S.DBF"))) return 3;
      }
      EngineFile held;
      if (held.Open(File("S.MDX"), platform::kModeReadWriteShared) != 0) return 4;
      ready.Send();
      done.Wait();
      return 0;
    });
    ASSERT_TRUE(ready.Wait());
    const bool built = MakeIndex({{"NAME", "NAME", "", 0, 0}}, "");
    done.Send();
    EXPECT_EQ(WaitChild(child), 0);
    if (holds_table) {
      EXPECT_FALSE(built);
      EXPECT_EQ(TakeError(), "225: " + File("S.DBF") + " MakeIndex(" + File("S.MDX") + ")");
    } else {
      EXPECT_FALSE(built);
      EXPECT_EQ(TakeError(), "32: Unable to open index: " + File("S.MDX") + " [CreateMdxHeader]");
    }
    EXPECT_FALSE(CurrentArea()->exclusive);  // shared again
  }
}
#endif

}  // namespace
}  // namespace zedra::testing

namespace zedra::testing {
namespace {

// The tree opened as orders and walked through the table layer gives the model's order
// for every tag kind, forwards, backwards, and after turning around.
TEST_F(IndexBuildTest, OpenedTagsWalkInTheModelsOrder) {
  const std::vector<Row> rows = RandomRows(3000, 7);
  WriteTable(File("R.DBF"), rows);
  ASSERT_TRUE(Use(File("R.DBF"), Exclusive()));
  ASSERT_TRUE(MakeIndex(kTags, "")) << TakeError();
  ASSERT_TRUE(SetIndexTo("")) << TakeError();
  for (size_t t = 0; t < kTags.size(); ++t) {
    SCOPED_TRACE(kTags[t].name);
    Set_Order_To(int(t + 1));
    ASSERT_EQ(ErrorCode(), 0) << TakeError();
    const std::vector<uint32_t> model = ModelOrder(rows, t);
    std::vector<uint32_t> forward, backward;
    for (GoTop(); !Eof() && forward.size() <= model.size(); Skip(1)) forward.push_back(uint32_t(RecNo()));
    EXPECT_EQ(forward, model);
    for (GoBottom(); !Bof() && backward.size() <= model.size(); Skip(-1)) backward.push_back(uint32_t(RecNo()));
    EXPECT_EQ(backward, std::vector<uint32_t>(model.rbegin(), model.rend()));
    if (model.size() < 2000) continue;
    // Large steps across leaves both ways.
    GoTop();
    Skip(1500);
    EXPECT_EQ(uint32_t(RecNo()), model[1500]);
    Skip(-1499);
    EXPECT_EQ(uint32_t(RecNo()), model[1]);
    Skip(-5);
    EXPECT_TRUE(Bof());
    EXPECT_EQ(uint32_t(RecNo()), model[0]);
    Skip(int32_t(model.size()) + 10);
    EXPECT_TRUE(Eof());
  }
  CloseArea();
}

}  // namespace
}  // namespace zedra::testing

namespace zedra::testing {
namespace {

// Where the model says a seek lands: the first key not before the value in the tag's
// order, then the first visible record from there; found when that key matches (a text
// over the value's length). npos: past the end.
size_t ModelSeek(const std::vector<Item>& items, const std::vector<Row>& rows, size_t tag, const Item& value,
                 bool hide_deleted, bool* found) {
  const bool descending = kTags[tag].descending;
  const size_t key_length = items.empty() ? 0 : items[0].text.size();
  std::string sought = value.text.substr(0, std::min(value.text.size(), key_length));
  const size_t match = sought.size();
  sought.resize(key_length, descending ? '\xFF' : '\0');
  size_t p = 0;
  for (; p < items.size(); ++p) {
    const Item& it = items[p];
    const int c = NumericTag(tag) ? (it.number < value.number ? -1 : it.number > value.number)
                                  : it.text.compare(sought) < 0 ? -1 : it.text.compare(sought) > 0;
    if (descending ? c <= 0 : c >= 0) break;
  }
  while (p < items.size() && hide_deleted && rows[items[p].record - 1].deleted) ++p;
  *found = p < items.size() && (NumericTag(tag) ? items[p].number == value.number
                                                : items[p].text.compare(0, match, value.text, 0, match) == 0);
  return p < items.size() ? p : std::string::npos;
}

bool SeekItem(size_t tag, const Item& value) {
  if (!NumericTag(tag)) return Seek(value.text);
  return Seek(tag == 2 ? value.number : value.number / 100);
}

// Seeks of present, absent, smaller-than-all and greater-than-all keys; moves by record
// number followed by a step; walks with deleted records hidden: each as the model says.
TEST_F(IndexBuildTest, SeeksMovesAndHiddenDeletedRecordsFollowTheModel) {
  const std::vector<Row> rows = RandomRows(2500, 7);
  WriteTable(File("R.DBF"), rows);
  ASSERT_TRUE(Use(File("R.DBF"), Exclusive()));
  ASSERT_TRUE(MakeIndexAndOpen(kTags, "")) << TakeError();
  std::mt19937 rng(5);
  for (bool hide : {false, true}) {
    SetDeleted(hide);
    for (size_t t = 0; t < kTags.size(); ++t) {
      SCOPED_TRACE(std::string(kTags[t].name) + (hide ? " deleted hidden" : " deleted shown"));
      Set_Order_To(int(t + 1));
      ASSERT_EQ(ErrorCode(), 0) << TakeError();
      const std::vector<Item> items = ModelItems(rows, t);
      std::vector<Item> values;
      for (int i = 0; i < 60; ++i) values.push_back(items[rng() % items.size()]);
      for (int i = 0; i < 30; ++i) {
        Item absent = items[rng() % items.size()];
        absent.number += 1;  // one cent, or one day, beside a present key
        if (!NumericTag(t)) absent.text = absent.text.substr(0, 1 + rng() % absent.text.size()) + "b";
        values.push_back(absent);
      }
      // Day numbers beyond the last date read as the blank date: the extremes stay within.
      const double high = t == 2 ? YmdToDay(9000, 1, 1) : 1e9;
      values.push_back(Item{"\x01", t == 2 ? YmdToDay(1000, 1, 1) : -1e9, 0});
      values.push_back(Item{"\xFE\xFE", high, 0});
      values.push_back(Item{"A", 0, 0});  // a one-letter prefix
      for (const Item& v : values) {
        if (t == 2 && v.number >= 1e100) continue;  // the blank date has no day number
        bool found = false;
        const size_t p = ModelSeek(items, rows, t, v, hide, &found);
        EXPECT_EQ(SeekItem(t, v), found) << "[" << v.text << "] " << v.number;
        if (p == std::string::npos) {
          EXPECT_TRUE(Eof()) << "[" << v.text << "] " << v.number;
        } else {
          EXPECT_EQ(uint32_t(RecNo()), items[p].record) << "[" << v.text << "] " << v.number;
          Skip(1);  // the seek left the order on that key
          size_t q = p + 1;
          while (q < items.size() && hide && rows[items[q].record - 1].deleted) ++q;
          EXPECT_EQ(Eof(), q == items.size());
          if (q < items.size()) {
            EXPECT_EQ(uint32_t(RecNo()), items[q].record);
          }
        }
      }
      // A move by record number puts the order on that record's entry.
      std::vector<size_t> place(rows.size() + 1, std::string::npos);
      for (size_t i = 0; i < items.size(); ++i) place[items[i].record] = i;
      for (int i = 0; i < 40; ++i) {
        const uint32_t r = 1 + rng() % uint32_t(rows.size());
        Goto(int32_t(r));
        ASSERT_EQ(ErrorCode(), 0) << TakeError();
        if (place[r] == std::string::npos) {
          // Outside the FOR condition the order has no place for it; a unique tag
          // stands on the record that holds the key.
          if (kTags[t].for_expr.empty() || kTags[t].unique) continue;
          EXPECT_TRUE(Eof()) << r;
          continue;
        }
        Skip(-1);
        size_t q = place[r];
        do --q; while (q != size_t(-1) && hide && rows[items[q].record - 1].deleted);
        if (q == size_t(-1)) {
          EXPECT_TRUE(Bof()) << r;
        } else {
          EXPECT_EQ(uint32_t(RecNo()), items[q].record) << r;
        }
      }
      // Walks and long steps over the visible records.
      std::vector<uint32_t> visible;
      for (const Item& it : items)
        if (!hide || !rows[it.record - 1].deleted) visible.push_back(it.record);
      std::vector<uint32_t> forward, backward;
      for (GoTop(); !Eof() && forward.size() <= visible.size(); Skip(1)) forward.push_back(uint32_t(RecNo()));
      EXPECT_EQ(forward, visible);
      for (GoBottom(); !Bof() && backward.size() <= visible.size(); Skip(-1)) backward.push_back(uint32_t(RecNo()));
      EXPECT_EQ(backward, std::vector<uint32_t>(visible.rbegin(), visible.rend()));
      if (visible.size() > 800) {
        GoTop();
        Skip(700);
        EXPECT_EQ(uint32_t(RecNo()), visible[700]);
        Skip(-650);
        EXPECT_EQ(uint32_t(RecNo()), visible[50]);
        Skip(-100000);
        EXPECT_TRUE(Bof());
        EXPECT_EQ(uint32_t(RecNo()), visible[0]);
        Skip(100000);
        EXPECT_TRUE(Eof());
      }
    }
  }
  CloseArea();
}

}  // namespace
}  // namespace zedra::testing
