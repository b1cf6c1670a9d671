// Tables of every code page through the tool: python3-dbf writes them, the tool lists
// and appends UTF-8 text, python3-dbfread reads the result.
#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"
#include "tool_run.h"

namespace zedra::cli {
namespace {

using zedra::testing::ReadFileBytes;
using zedra::testing::RunCommand;
using zedra::testing::TempDir;
using zedra::testing::WriteFileBytes;

const std::string kPeer = std::string("/usr/bin/python3 ") + ZEDRA_PEER_SCRIPT;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream s(text);
  std::string line;
  while (std::getline(s, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// python3-dbfread's rows of a table as "NAME\tNOTES" lines, after its count line.
std::vector<std::string> PeerRows(const std::string& path) {
  std::string out;
  EXPECT_EQ(RunCommand(kPeer + " read " + path + " 2>&1", &out), 0) << out;
  std::vector<std::string> lines = Lines(out);
  std::vector<std::string> rows;
  for (size_t i = 1; i < lines.size(); ++i) rows.push_back(lines[i].substr(2));  // flag, tab
  return rows;
}

std::string ToCsvRow(std::string row) {
  for (char& c : row)
    if (c == '\t') c = ',';
  return row;
}

struct Case {
  const char* codepage;  // python's name
  uint8_t mark;          // what python3-dbf writes
  const char* info;      // the tool's code page line
};

const Case kCases[] = {
    {"cp437", 0x01, "437 (mark 0x01; DOS text, read as Windows-1252)"},
    {"cp850", 0x02, "850 (mark 0x02; DOS text, read as Windows-1252)"},
    {"cp852", 0x1F, "852 (mark 0x1F; DOS text, read as Windows-1250)"},
    {"cp857", 0x6B, "857 (mark 0x6B; DOS text, read as Windows-1254)"},
    {"cp860", 0x24, "860 (mark 0x24; DOS text, read as Windows-1252)"},
    {"cp861", 0x67, "861 (mark 0x67; DOS text, read as Windows-1252)"},
    {"cp863", 0x1C, "863 (mark 0x1C; DOS text, read as Windows-1252)"},
    {"cp865", 0x08, "865 (mark 0x08; DOS text, read as Windows-1252)"},
    {"cp866", 0x26, "866 (mark 0x26; DOS text, read as Windows-1251)"},
    {"cp737", 0x6A, "737 (mark 0x6A; DOS text, read as Windows-1253)"},
    {"cp1250", 0xC8, "1250 (mark 0xC8; Windows-1250)"},
    {"cp1251", 0xC9, "1251 (mark 0xC9; Windows-1251)"},
    {"cp1252", 0x03, "1252 (mark 0x03; Windows-1252)"},
    {"cp1253", 0xCB, "1253 (mark 0xCB; Windows-1253)"},
    {"cp1254", 0xCA, "1254 (mark 0xCA; Windows-1254)"},
};

TEST(ToolCodePageTest, EveryCodePageListsAndAppendsAsPythonDbfreadReads) {
  TempDir dir;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.codepage);
    const std::string t = dir.File(std::string("letters_") + c.codepage);
    std::string out;
    ASSERT_EQ(RunCommand(kPeer + " letters " + c.codepage + " " + t + " 2>&1", &out), 0) << out;
    const std::vector<std::string> written = Lines(out);
    ASSERT_EQ(written.size(), 3u);
    ASSERT_EQ(uint8_t(ReadFileBytes(t + ".dbf").at(29)), c.mark);
    const std::vector<std::string> theirs = PeerRows(t + ".dbf");
    ASSERT_EQ(theirs, written);

    ToolRun info = Tool({"info", t});
    EXPECT_NE(info.out.find(std::string("Code page:     ") + c.info + "\n"), std::string::npos)
        << info.out;
    ToolRun list = Tool({"list", t, "--csv"});
    ASSERT_EQ(list.status, 0) << list.err;
    std::vector<std::string> expected = {"NAME,NOTES"};
    for (const std::string& row : theirs) expected.push_back(ToCsvRow(row));
    EXPECT_EQ(Lines(list.out), expected);
    for (int n = 1; n <= 3; ++n) {
      ToolRun memo = Tool({"memo", t, "NOTES", std::to_string(n), "--utf8"});
      EXPECT_EQ(memo.out, theirs[size_t(n - 1)].substr(theirs[size_t(n - 1)].find('\t') + 1)) << n;
    }

    // The tool's UTF-8 goes in as the code page's bytes, swapped name and memo: both the
    // field and the memo file hold the script's letters.
    const std::string name = theirs[0].substr(0, theirs[0].find('\t'));
    const std::string note = theirs[0].substr(theirs[0].find('\t') + 1);
    ToolRun append = Tool({"append", t, "NAME=" + note, "NOTES=" + name});
    ASSERT_EQ(append.status, 0) << append.err;
    std::vector<std::string> after = PeerRows(t + ".dbf");
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[3], note + "\t" + name);

    // A character the code page cannot hold is refused; nothing is appended.
    ToolRun refused = Tool({"append", t, "NAME=\xE6\x97\xA5"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("Not representable in "), std::string::npos) << refused.err;
    ToolRun refused_memo = Tool({"append", t, "NAME=x", "NOTES=a \xE6\x97\xA5"});
    EXPECT_EQ(refused_memo.status, 1);
    EXPECT_NE(refused_memo.err.find("(character \"\xE6\x97\xA5\", memo field NOTES)"),
              std::string::npos)
        << refused_memo.err;
    EXPECT_EQ(PeerRows(t + ".dbf").size(), 4u);
  }
}

TEST(ToolCodePageTest, CodePageOptionOverridesAMissingMarkAndCreateSetsIt) {
  TempDir dir;
  const std::string t = dir.File("cyrillic");
  std::string out;
  ASSERT_EQ(RunCommand(kPeer + " letters cp866 " + t + " 2>&1", &out), 0) << out;
  std::string bytes = ReadFileBytes(t + ".dbf");
  bytes[29] = 0;  // the mark lost: read as Windows-1252
  WriteFileBytes(t + ".dbf", bytes);
  EXPECT_EQ(Lines(Tool({"list", t, "--csv", "--fields", "NAME"}).out)[1], "Œ®áª¢\xC2\xA0");
  ToolRun right = Tool({"list", t, "--csv", "--codepage", "866"});
  EXPECT_EQ(Lines(right.out)[1], "Москва,Ёжик ╬ №");
  EXPECT_NE(Tool({"info", t, "--codepage", "cp866"}).out.find(
                "Code page:     866 (mark 0x00, overridden by --codepage; DOS text, read as "
                "Windows-1251)"),
            std::string::npos);
  EXPECT_EQ(Tool({"memo", t, "NOTES", "1", "--utf8", "--codepage=866"}).out, "Ёжик ╬ №");
  // Expressions are given and shown in UTF-8 too, and UPPER knows the script's capitals.
  ToolRun filtered = Tool({"list", t, "--csv", "--codepage", "866", "--filter", "UPPER(NAME) = \"МОСКВА\""});
  EXPECT_EQ(filtered.out, "NAME,NOTES\r\nМосква,Ёжик ╬ №\r\nМОСКВА,ёжик ╬ №\r\n") << filtered.err;
  EXPECT_EQ(Tool({"eval", "--codepage", "866", "--table", t, "LOWER(TRIM(NAME)) + \"ё\""}).out,
            "C\t0\t0\tмоскваё\n");
  EXPECT_EQ(Tool({"list", t, "--codepage", "866", "--filter", "NAME = \"\xE6\x97\xA5\""}).status, 1);
  // Unknown code pages are a usage error.
  for (const char* bad : {"932", "cp", "1", "866x"}) EXPECT_EQ(Tool({"list", t, "--codepage", bad}).status, 2) << bad;

  const std::string created = dir.File("made");
  ToolRun create = Tool({"create", created, "--codepage", "Windows-1251", "--field", "NAME:C:10"});
  ASSERT_EQ(create.status, 0) << create.err;
  EXPECT_EQ(uint8_t(ReadFileBytes(created + ".DBF").at(29)), 0xC9);
  ASSERT_EQ(Tool({"create", dir.File("dos"), "--codepage", "866", "--field", "NAME:C:10"}).status, 0);
  EXPECT_EQ(uint8_t(ReadFileBytes(dir.File("dos.DBF")).at(29)), 0x65);
  ASSERT_EQ(Tool({"append", dir.File("dos"), "name=Юрий"}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("dos.DBF")).substr(ReadFileBytes(dir.File("dos.DBF")).size() - 12, 5),
            " \x9E\xE0\xA8\xA9");
  EXPECT_EQ(PeerRows(dir.File("dos.DBF")), std::vector<std::string>{"Юрий"});
  EXPECT_EQ(Tool({"create", dir.File("x"), "--codepage", "932", "--field", "A:C:1"}).status, 2);
}

TEST(ToolCodePageTest, SeekReplaceAndTagsGoThroughTheTablesCodePage) {
  TempDir dir;
  const std::string t = dir.File("towns");
  ASSERT_EQ(Tool({"create", t, "--codepage", "866", "--field", "NAME:C:12", "--field", "CITY:C:12"}).status, 0);
  for (const char* row : {"Москва", "Мурманск", "Минск"})
    ASSERT_EQ(Tool({"append", t, std::string("NAME=") + row, "CITY=Омск"}).status, 0) << row;
  ToolRun index = Tool({"index", t, "--tag", "NAME", "--key", "UPPER(NAME)", "--for", "TRIM(CITY) <> \"Тверь\""});
  ASSERT_EQ(index.status, 0) << index.err;
  ToolRun tags = Tool({"tags", t});
  EXPECT_NE(tags.out.find(" key=[UPPER(NAME)] for=[TRIM(CITY) <> \"Тверь\"]\n"), std::string::npos) << tags.out;

  // A Cyrillic prefix finds the first key that begins with it; the row shows as UTF-8.
  ToolRun seek = Tool({"seek", t, "--order", "NAME", "МУ", "--fields", "NAME,CITY"});
  EXPECT_EQ(seek.status, 0) << seek.err;
  EXPECT_EQ(Lines(seek.out), (std::vector<std::string>{"Found", "Record#  NAME      CITY", "2        Мурманск  Омск"}));
  ToolRun foreign = Tool({"seek", t, "--order", "NAME", "М\xE6\x97\xA5"});
  EXPECT_EQ(foreign.status, 1);
  EXPECT_EQ(foreign.out, "");
  EXPECT_EQ(foreign.err, "zedra seek: Not representable in code page 866: \"М\xE6\x97\xA5\" (character "
                         "\"\xE6\x97\xA5\", VALUE)\n");

  ToolRun replace = Tool({"replace", t, "2", "NAME=Ёлкино", "CITY=Тверь"});
  ASSERT_EQ(replace.status, 0) << replace.err;
  // A refused character leaves the whole record as it was, the field before it included.
  ToolRun refused = Tool({"replace", t, "3", "NAME=Мир", "CITY=\xE6\x97\xA5"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Not representable in code page 866: \"\xE6\x97\xA5\" (character \"\xE6\x97\xA5\", "
                             "field CITY) [replace]"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(Tool({"list", t, "--csv"}).out,
            "NAME,CITY\r\nМосква,Омск\r\nЁлкино,Тверь\r\nМинск,Омск\r\n");
  const std::string bytes = ReadFileBytes(t + ".DBF");
  EXPECT_NE(bytes.find(" \xF0\xAB\xAA\xA8\xAD\xAE      \x92\xA2\xA5\xE0\xEC"), std::string::npos);
  // The index follows the replacement (the FOR condition drops Тверь) and not the refusal.
  EXPECT_EQ(Tool({"seek", t, "--order", "NAME", "ЁЛ"}).out.rfind("Not found", 0), 0u);
  EXPECT_EQ(Lines(Tool({"seek", t, "--order", "NAME", "МИ", "--count", "9", "--fields", "NAME"}).out),
            (std::vector<std::string>{"Found", "Record#  NAME", "3        Минск", "1        Москва"}));
  ToolRun check = Tool({"check", t, "--built"});
  EXPECT_EQ(check.status, 0) << check.out << check.err;
}

}  // namespace
}  // namespace zedra::cli
