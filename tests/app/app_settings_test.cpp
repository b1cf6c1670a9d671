// The settings file: integer reading, defaults, style decoding and encoding, name
// lengths, and the exact bytes that SaveSettings and WritePosition leave in the file.
#include "app_settings.h"

#include <gtest/gtest.h>

#include <QDir>

#include "app/app_test_support.h"
#include "support/temp_dir.h"

namespace dayvane {
namespace {

using testing::WorkingDirectory;
using zedra::testing::ReadFileBytes;
using zedra::testing::WriteFileBytes;

constexpr int32_t kDefault = -12345;

TEST(ParseProfileIntegerTest, DecimalAndTheTwoHexadecimalForms) {
  struct Case {
    const char* text;
    int32_t expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"305", 305},
      {"-16777201", -16777201},
      {"+7", 7},
      {"00012", 12},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", kDefault},
      {"99999999999999999999", kDefault},
      {"0xFF", 255},
      {"0XfF", 255},
      {"0x1", 1},
      {"$FF", 255},
      {"$0080FF", 0x80FF},
      {"0x80000000", INT32_MIN},  // system colours wrap to negative
      {"$FFFFFFFF", -1},
      {"0x100000000", kDefault},
      {"0x", kDefault},  // two characters: not hexadecimal, and not a number
      {"$", kDefault},
      {"-0x10", kDefault},
      {"0xFG", kDefault},
      {"abc", kDefault},
      {"12abc", kDefault},
      {"1 2", kDefault},
      {"-", kDefault},
      {"", kDefault},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseProfileInteger(c.text, kDefault), c.expected) << "\"" << c.text << "\"";
  }
}

TEST(LoadSettingsTest, MissingFileGivesTheDefaults) {
  WorkingDirectory wd;
  LoadSettings();
  const AppSettingsRecord& a = AppSettings();
  EXPECT_EQ(a.CurrentPlacement.Top, 50);
  EXPECT_EQ(a.CurrentPlacement.Left, 50);
  EXPECT_EQ(a.CurrentPlacement.Width, 190);
  EXPECT_EQ(a.CurrentPlacement.Height, 153);
  EXPECT_EQ(a.CMBC, 16777215);
  EXPECT_EQ(a.CTC, 16711680);
  EXPECT_EQ(a.CTBC, 0);
  EXPECT_EQ(a.CTTC, 16777215);
  EXPECT_EQ(a.CTTTC, 16777215);
  EXPECT_EQ(a.WC, 8421376);
  EXPECT_EQ(a.JMsgFN, QStringLiteral("System"));
  EXPECT_EQ(a.CalFN, QStringLiteral("System"));
  EXPECT_EQ(a.JMsgFS, 10);
  EXPECT_EQ(a.CalFS, 10);
  EXPECT_EQ(a.CalFC, 0);
  EXPECT_EQ(a.JMsgFC, 0);
  EXPECT_EQ(a.SPTOP, 305);
  EXPECT_EQ(a.CalStyle, 0);
  EXPECT_EQ(a.JMsgStyle, 0);
  EXPECT_FALSE(Settings().UnsavedChanges);
  EXPECT_FALSE(Settings().SavedThisRun);
}

TEST(LoadSettingsTest, ReadsValuesWhateverTheirCaseAndBlanks) {
  WorkingDirectory wd;
  WriteFileBytes(wd.Ini(),
                 "[winset]\n"
                 "  cmbc = 0xFF \n"
                 "CTBC=abc\n"
                 "CTTC=$10\n"
                 "WC=-2147483633\n"
                 "SPTOP=\n"
                 "Top=-20\n"
                 "CALFN=  Courier New  \n"
                 "JMsgFS=12\n");
  LoadSettings();
  const AppSettingsRecord& a = AppSettings();
  EXPECT_EQ(a.CMBC, 255);
  EXPECT_EQ(a.CTBC, 0);  // unreadable: the default
  EXPECT_EQ(a.CTTC, 16);
  EXPECT_EQ(a.WC, static_cast<int32_t>(0x8000000F));
  EXPECT_EQ(a.SPTOP, 305);
  EXPECT_EQ(a.CurrentPlacement.Top, -20);
  EXPECT_EQ(a.CalFN, QStringLiteral("Courier New"));
  EXPECT_EQ(a.JMsgFS, 12);
  EXPECT_EQ(a.CMBC, 255);

  WriteFileBytes(wd.Ini(), "[WinSet]\r\nCMBC=abc\r\n");
  LoadSettings();
  EXPECT_EQ(AppSettings().CMBC, 16777215);
}

TEST(LoadSettingsTest, OnlyTheFirstTrueStyleCounts) {
  WorkingDirectory wd;
  WriteFileBytes(wd.Ini(),
                 "[WinSet]\r\n"
                 "CalFSItalic=1\r\nCalFSBold=1\r\nCalFSStrikeOut=1\r\n"
                 "JMsgFSUnderline=7\r\nJMsgFSStrikeOut=1\r\n");
  LoadSettings();
  EXPECT_EQ(AppSettings().CalStyle, kStyleBold);
  EXPECT_EQ(AppSettings().JMsgStyle, kStyleUnderline);

  // With no style true the set stays as it was.
  WriteFileBytes(wd.Ini(), "[WinSet]\r\nCalFSBold=0\r\nJMsgFSItalic=x\r\n");
  AppSettings().CalStyle = kStyleItalic | kStyleBold;
  AppSettings().JMsgStyle = kStyleStrikeOut;
  LoadSettings();
  EXPECT_EQ(AppSettings().CalStyle, kStyleItalic | kStyleBold);
  EXPECT_EQ(AppSettings().JMsgStyle, kStyleStrikeOut);
}

const char kDefaultFile[] =
    "[THEMES]\r\n"
    "ThemeLINES=0\r\n"
    "[WinSet]\r\n"
    "Top=60\r\n"
    "Left=70\r\n"
    "Width=300\r\n"
    "Height=250\r\n"
    "CMBC=16777215\r\n"
    "CTC=16711680\r\n"
    "CTBC=0\r\n"
    "CTTC=16777215\r\n"
    "CTTTC=16777215\r\n"
    "WC=8421376\r\n"
    "JMsgFN=System\r\n"
    "JMsgFS=10\r\n"
    "CalFN=System\r\n"
    "CalFS=10\r\n"
    "SPTOP=200\r\n"
    "CalFC=0\r\n"
    "JMsgFC=0\r\n"
    "JMsgFSBold=0\r\n"
    "JMsgFSItalic=0\r\n"
    "JMsgFSUnderline=0\r\n"
    "JMsgFSStrikeOut=0\r\n"
    "CalFSBold=0\r\n"
    "CalFSItalic=0\r\n"
    "CalFSUnderline=0\r\n"
    "CalFSStrikeOut=0\r\n";

const Placement kLive{60, 70, 300, 250};

TEST(SaveSettingsTest, WritesEveryKeyInOrderAndTwiceTheSame) {
  WorkingDirectory wd;
  LoadSettings();
  AppSettings().CurrentPlacement = {1, 2, 3, 4};  // the live window wins
  Settings().UnsavedChanges = true;
  EXPECT_TRUE(SaveSettings(kLive, 200));
  EXPECT_EQ(ReadFileBytes(wd.Ini()), kDefaultFile);
  EXPECT_TRUE(Settings().SavedThisRun);
  EXPECT_FALSE(Settings().UnsavedChanges);

  SaveSettings(kLive, 200);
  EXPECT_EQ(ReadFileBytes(wd.Ini()), kDefaultFile);

  // A reload of what was written gives what was saved.
  InitSettingsModule();
  LoadSettings();
  EXPECT_EQ(AppSettings().CurrentPlacement.Top, 60);
  EXPECT_EQ(AppSettings().CurrentPlacement.Left, 70);
  EXPECT_EQ(AppSettings().SPTOP, 200);
}

// Every key of WinSet with a value of its own, no two alike and none a default: a key read
// from another key's name, or not read at all, shows as a wrong field, and as a file that
// does not come back byte for byte.
constexpr const char* kDistinctFile =
    "[THEMES]\r\n"
    "ThemeLINES=0\r\n"
    "[WinSet]\r\n"
    "Top=11\r\n"
    "Left=12\r\n"
    "Width=313\r\n"
    "Height=214\r\n"
    "CMBC=101\r\n"
    "CTC=102\r\n"
    "CTBC=103\r\n"
    "CTTC=104\r\n"
    "CTTTC=105\r\n"
    "WC=106\r\n"
    "JMsgFN=Message Font\r\n"
    "JMsgFS=17\r\n"
    "CalFN=Calendar Font\r\n"
    "CalFS=19\r\n"
    "SPTOP=222\r\n"
    "CalFC=107\r\n"
    "JMsgFC=108\r\n"
    "JMsgFSBold=0\r\n"
    "JMsgFSItalic=0\r\n"
    "JMsgFSUnderline=0\r\n"
    "JMsgFSStrikeOut=1\r\n"
    "CalFSBold=0\r\n"
    "CalFSItalic=0\r\n"
    "CalFSUnderline=1\r\n"
    "CalFSStrikeOut=0\r\n";

TEST(LoadSettingsTest, EveryKeyIsReadFromItsOwnNameAndWrittenBack) {
  WorkingDirectory wd;
  WriteFileBytes(wd.Ini(), kDistinctFile);
  LoadSettings();
  const AppSettingsRecord& a = AppSettings();
  EXPECT_EQ(a.CurrentPlacement.Top, 11);
  EXPECT_EQ(a.CurrentPlacement.Left, 12);
  EXPECT_EQ(a.CurrentPlacement.Width, 313);
  EXPECT_EQ(a.CurrentPlacement.Height, 214);
  EXPECT_EQ(a.CMBC, 101);
  EXPECT_EQ(a.CTC, 102);
  EXPECT_EQ(a.CTBC, 103);
  EXPECT_EQ(a.CTTC, 104);
  EXPECT_EQ(a.CTTTC, 105);
  EXPECT_EQ(a.WC, 106);
  EXPECT_EQ(a.JMsgFN, QStringLiteral("Message Font"));
  EXPECT_EQ(a.JMsgFS, 17);
  EXPECT_EQ(a.CalFN, QStringLiteral("Calendar Font"));
  EXPECT_EQ(a.CalFS, 19);
  EXPECT_EQ(a.SPTOP, 222);
  EXPECT_EQ(a.CalFC, 107);
  EXPECT_EQ(a.JMsgFC, 108);
  EXPECT_EQ(a.JMsgStyle, kStyleStrikeOut);
  EXPECT_EQ(a.CalStyle, kStyleUnderline);

  ASSERT_TRUE(SaveSettings({11, 12, 313, 214}, 222));
  EXPECT_EQ(ReadFileBytes(wd.Ini()), kDistinctFile);
}

TEST(SaveSettingsTest, AMegabyteOfLineFeedsIsKeptAndTheKeysGoAfterIt) {
  // The file is read and written once per save, whatever it holds.
  WorkingDirectory wd;
  const std::string feeds(1 << 20, '\n');
  WriteFileBytes(wd.Ini(), "[WinSet]\nTop=1" + feeds + "[Other]\nx=1\n");
  LoadSettings();
  EXPECT_EQ(AppSettings().CurrentPlacement.Top, 1);
  ASSERT_TRUE(SaveSettings(kLive, 200));
  const std::string saved = ReadFileBytes(wd.Ini());
  EXPECT_EQ(saved.find("[WinSet]\nTop=60\nLeft=70\r\nWidth=300\r\n"), 0u);
  const std::string tail = feeds + "[Other]\nx=1\n[THEMES]\r\nThemeLINES=0\r\n";
  ASSERT_GE(saved.size(), tail.size());
  EXPECT_EQ(saved.substr(saved.size() - tail.size()), tail);
}

TEST(SaveSettingsTest, OnlyASingleStyleIsWrittenTrue) {
  WorkingDirectory wd;
  LoadSettings();
  struct Case {
    FontStyleSet style;
    const char* bold;
    const char* italic;
    const char* underline;
    const char* strike;
  };
  const Case cases[] = {
      {0, "0", "0", "0", "0"},
      {kStyleBold, "1", "0", "0", "0"},
      {kStyleItalic, "0", "1", "0", "0"},
      {kStyleUnderline, "0", "0", "1", "0"},
      {kStyleStrikeOut, "0", "0", "0", "1"},
      {kStyleBold | kStyleItalic, "0", "0", "0", "0"},
      {kStyleUnderline | kStyleStrikeOut, "0", "0", "0", "0"},
  };
  for (const Case& c : cases) {
    AppSettings().CalStyle = c.style;
    AppSettings().JMsgStyle = c.style;
    SaveSettings(kLive, 200);
    const std::string file = ReadFileBytes(wd.Ini());
    for (const char* font : {"CalFS", "JMsgFS"}) {
      const std::string f = font;
      EXPECT_NE(file.find(f + "Bold=" + c.bold + "\r\n"), std::string::npos) << file;
      EXPECT_NE(file.find(f + "Italic=" + c.italic + "\r\n"), std::string::npos);
      EXPECT_NE(file.find(f + "Underline=" + c.underline + "\r\n"), std::string::npos);
      EXPECT_NE(file.find(f + "StrikeOut=" + c.strike + "\r\n"), std::string::npos);
    }
  }
  // Bold italic comes back regular.
  AppSettings().CalStyle = kStyleBold | kStyleItalic;
  SaveSettings(kLive, 200);
  InitSettingsModule();
  LoadSettings();
  EXPECT_EQ(AppSettings().CalStyle, 0);
}

TEST(SaveSettingsTest, LongNamesAreCutAndEightBitNamesKeepTheirBytes) {
  WorkingDirectory wd;
  const std::string fifty = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwx";
  ASSERT_EQ(fifty.size(), 50u);
  WriteFileBytes(wd.Ini(), "[WinSet]\r\nCalFN=" + fifty + "\r\nJMsgFN=Caf\xE9 Sans\r\n");
  LoadSettings();
  EXPECT_EQ(AppSettings().CalFN, QString::fromStdString(fifty.substr(0, 40)));
  EXPECT_EQ(AppSettings().JMsgFN, QStringLiteral("Caf\u00E9 Sans"));
  SaveSettings(kLive, 200);
  const std::string file = ReadFileBytes(wd.Ini());
  EXPECT_NE(file.find("\r\nCalFN=" + fifty.substr(0, 40) + "\r\n"), std::string::npos);
  EXPECT_NE(file.find("\r\nJMsgFN=Caf\xE9 Sans\r\n"), std::string::npos);
  EXPECT_EQ(file.find(fifty), std::string::npos);

  // A name only UTF-8 can hold is written as UTF-8 and read back unchanged.
  AppSettings().CalFN = QStringLiteral("\u6587\u6cc9\u9a7f");
  SaveSettings(kLive, 200);
  LoadSettings();
  EXPECT_EQ(AppSettings().CalFN, QStringLiteral("\u6587\u6cc9\u9a7f"));
}

TEST(SaveSettingsTest, NamesReadFromTheFileAreWrittenBackByteForByte) {
  // Whatever 8-bit code page wrote a name, a load and a save give back its bytes.
  const char* const names[] = {
      "Caf\xE9 Sans",                          // Windows-1252
      "Trade\x99 Mark",                        // 1252 byte that Latin-1 leaves a control
      "\xC3\xA9t\xC3\xA9",                     // 1252 text that also reads as UTF-8 Latin letters
      "\xCB\xCE\xCC\xE5",                      // GBK
      "\xE6\x96\x87\xE6\xB3\x89\xE9\xA9\xBF",  // UTF-8 beyond Latin-1
  };
  for (const char* name : names) {
    WorkingDirectory wd;
    std::string file = kDefaultFile;
    file.replace(file.find("JMsgFN=System"), 13, std::string("JMsgFN=") + name);
    WriteFileBytes(wd.Ini(), file);
    LoadSettings();
    SaveSettings(kLive, 200);
    EXPECT_EQ(ReadFileBytes(wd.Ini()), file) << name;
  }
}

TEST(SaveSettingsTest, KeepsWhatElseTheFileHolds) {
  WorkingDirectory wd;
  const std::string before =
      "; written by hand\r\n"
      "[Other]\r\n"
      "Key=Value\r\n"
      "\r\n"
      "[winset]\r\n"
      "top=5\r\n"
      "Extra=keep me\r\n"
      "CMBC=0xFF\r\n"
      "\r\n"
      "[Tail]\r\n"
      "Last=1\r\n";
  WriteFileBytes(wd.Ini(), before);
  LoadSettings();
  SaveSettings(kLive, 200);
  const std::string after = ReadFileBytes(wd.Ini());
  EXPECT_EQ(after.rfind("; written by hand\r\n[Other]\r\nKey=Value\r\n\r\n[winset]\r\nTop=60\r\n"
                        "Extra=keep me\r\nCMBC=255\r\nLeft=70\r\n",
                        0),
            0u)
      << after;
  EXPECT_NE(after.find("CalFSStrikeOut=0\r\n\r\n[Tail]\r\nLast=1\r\n[THEMES]\r\nThemeLINES=0\r\n"),
            std::string::npos)
      << after;
}

TEST(SaveSettingsTest, AFailedSaveLeavesTheChangesUnsaved) {
  WorkingDirectory wd;
  LoadSettings();
  ASSERT_TRUE(QDir().mkdir(QString::fromStdString(wd.Ini())));  // the file cannot be written
  Settings().UnsavedChanges = true;
  EXPECT_FALSE(SaveSettings(kLive, 200));
  EXPECT_TRUE(Settings().UnsavedChanges);
  EXPECT_FALSE(Settings().SavedThisRun);
}

TEST(WritePositionTest, ChangesOnlyTopAndLeft) {
  WorkingDirectory wd;
  LoadSettings();
  SaveSettings(kLive, 200);
  WritePosition(-3, 1024);
  std::string expected = kDefaultFile;
  expected.replace(expected.find("Top=60"), 6, "Top=-3");
  expected.replace(expected.find("Left=70"), 7, "Left=1024");
  EXPECT_EQ(ReadFileBytes(wd.Ini()), expected);
}

}  // namespace
}  // namespace dayvane
