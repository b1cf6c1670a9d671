// Profile files: lookups and updates on text, and the file round trip.
#include "profile_file.h"

#include <gtest/gtest.h>

#include <QString>

#include "support/temp_dir.h"

namespace dayvane {
namespace {

using zedra::testing::ReadFileBytes;
using zedra::testing::TempDir;

QString Q(const std::string& path) { return QString::fromStdString(path); }

TEST(ProfileLookupTest, MatchesSectionsAndKeysLikeThePlatform) {
  const std::string text =
      "Top=1\r\n"  // before any section: never a key
      "; a comment\r\n"
      "[ WinSet ]\r\n"
      "  cmbc  =  255  \r\n"
      "CMBC=7\r\n"  // a second key of the same name is never seen
      "Name=\"  quoted  \"\r\n"
      "Single='x'\r\n"
      "Half=\"open\r\n"
      "no equals sign\r\n"
      ";Hidden=1\r\n"
      "[winset]\r\n"
      "Other=1\r\n"
      "[Themes]\n"
      "ThemeLINES=0\n";
  EXPECT_EQ(ProfileLookup(text, "WinSet", "CMBC"), "255");
  EXPECT_EQ(ProfileLookup(text, "WINSET", "cMbC"), "255");
  EXPECT_EQ(ProfileLookup(text, "WinSet", "Name"), "  quoted  ");
  EXPECT_EQ(ProfileLookup(text, "WinSet", "Single"), "x");
  EXPECT_EQ(ProfileLookup(text, "WinSet", "Half"), "\"open");
  EXPECT_EQ(ProfileLookup(text, "WinSet", "Top"), std::nullopt);
  EXPECT_EQ(ProfileLookup(text, "WinSet", "Hidden"), std::nullopt);
  EXPECT_EQ(ProfileLookup(text, "WinSet", "Other"), std::nullopt);  // only the first section
  EXPECT_EQ(ProfileLookup(text, "THEMES", "ThemeLINES"), "0");      // LF-only lines
  EXPECT_EQ(ProfileLookup(text, "Missing", "Top"), std::nullopt);
  EXPECT_EQ(ProfileLookup("", "WinSet", "Top"), std::nullopt);
}

TEST(ProfileUpdateTest, ReplacesInPlaceAndKeepsEveryOtherByte) {
  const std::string text =
      "; settings\n"
      "[A]\n"
      "x = 1\n"
      "keep=yes\n"
      "[B]\r\n"
      "y=2\r\n";
  EXPECT_EQ(ProfileUpdate(text, "a", "X", "10"),
            "; settings\n"
            "[A]\n"
            "X=10\n"
            "keep=yes\n"
            "[B]\r\n"
            "y=2\r\n");
}

TEST(ProfileUpdateTest, AddsKeyAfterTheLastLineOfItsSection) {
  const std::string text =
      "[A]\r\n"
      "x=1\r\n"
      "\r\n"
      "[B]\r\n"
      "y=2";  // no line end at the end of the file
  EXPECT_EQ(ProfileUpdate(text, "A", "z", "3"),
            "[A]\r\n"
            "x=1\r\n"
            "z=3\r\n"
            "\r\n"
            "[B]\r\n"
            "y=2");
  EXPECT_EQ(ProfileUpdate(text, "B", "w", "4"),
            "[A]\r\n"
            "x=1\r\n"
            "\r\n"
            "[B]\r\n"
            "y=2\r\n"
            "w=4\r\n");
  EXPECT_EQ(ProfileUpdate("[Empty]", "Empty", "k", "v"), "[Empty]\r\nk=v\r\n");
}

TEST(ProfileUpdateTest, AppendsAMissingSection) {
  EXPECT_EQ(ProfileUpdate("", "WinSet", "Top", "50"), "[WinSet]\r\nTop=50\r\n");
  EXPECT_EQ(ProfileUpdate("[A]\nx=1", "WinSet", "Top", "50"), "[A]\nx=1\r\n[WinSet]\r\nTop=50\r\n");
}

TEST(ProfileUpdateTest, AValueCannotBreakItsLine) {
  const std::string text =
      ProfileUpdate("[WinSet]\r\nTop=1\r\n", "WinSet", "CalFN", "Evil\r\n[WinSet]\r\nTop=999");
  EXPECT_EQ(text, "[WinSet]\r\nTop=1\r\nCalFN=Evil  [WinSet]  Top=999\r\n");
  EXPECT_EQ(ProfileLookup(text, "WinSet", "Top"), "1");
}

TEST(ProfileUpdateTest, ManyKeysAtOnceGiveWhatOneByOneGives) {
  const std::string texts[] = {
      "",
      "[A]\r\nx=1\r\n\r\n[B]\r\ny=2",
      "; lead\n[a]\nX=1\n[A]\nz=9\n[b]\n\n\n",
      "Top=7\n[WinSet]\n  top = 1 \nno key\n;Left=3\n[WinSet]\nLeft=4\n",
  };
  const std::vector<ProfileEntry> entries = {
      {"A", "x", "10"},      {"a", "new", "n"},  {"B", "y", "20"},      {"C", "c", "1"},
      {"WinSet", "Top", "5"}, {"c", "D", "2"},    {"WINSET", "Left", "6"}, {"A", "NEW", "m"},
      {"B", "w", "line\nbreak"},
  };
  for (const std::string& text : texts) {
    std::string one_by_one = text;
    for (const ProfileEntry& e : entries) {
      one_by_one = ProfileUpdate(one_by_one, e.section, e.key, e.value);
    }
    EXPECT_EQ(ProfileUpdateAll(text, entries), one_by_one) << text;
    const ProfileIndex index(one_by_one);
    EXPECT_EQ(index.Lookup("a", "new"), "m");
    EXPECT_EQ(index.Lookup("WinSet", "left"), "6");
    EXPECT_EQ(index.Lookup("B", "W"), "line break");
    EXPECT_EQ(index.Lookup("C", "d"), "2");
  }
}

TEST(ProfileFileTest, CreatesReadsAndRewritesTheFile) {
  TempDir dir;
  const std::string path = dir.File("Test.ini");
  EXPECT_EQ(GetProfileString(Q(path), "S", "k", "dflt"), "dflt");  // missing file
  ASSERT_TRUE(WriteProfileString(Q(path), "S", "k", "v1"));
  ASSERT_TRUE(WriteProfileString(Q(path), "S", "k2", "v2"));
  ASSERT_TRUE(WriteProfileString(Q(path), "S", "K", "v3"));
  EXPECT_EQ(ReadFileBytes(path), "[S]\r\nK=v3\r\nk2=v2\r\n");
  EXPECT_EQ(GetProfileString(Q(path), "s", "K2", "dflt"), "v2");
  EXPECT_EQ(GetProfileString(Q(path), "S", "nope", "dflt"), "dflt");
}

TEST(ProfileFileTest, FailedWriteReportsAndLeavesNothingBehind) {
  TempDir dir;
  EXPECT_FALSE(WriteProfileString(Q(dir.File("no/such/folder.ini")), "S", "k", "v"));
  // A directory in the file's place can be neither read nor replaced.
  const std::string path = dir.File("Dir.ini");
  ASSERT_EQ(std::system(("mkdir '" + path + "'").c_str()), 0);
  EXPECT_FALSE(WriteProfileString(Q(path), "S", "k", "v"));
  EXPECT_EQ(GetProfileString(Q(path), "S", "k", "dflt"), "dflt");
}

}  // namespace
}  // namespace dayvane
