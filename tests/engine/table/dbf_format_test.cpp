// The DBF header rules: version bytes, memo extensions, header writes and the record
// count taken from the file size.
#include "table_test_util.h"

#include "base/dates.h"

namespace zedra::testing {
namespace {

const std::vector<RawField> kFields = {{"NAME", 'C', 10}, {"QTY", 'N', 5}};

TEST(DbfFormat, VersionBytesAndExtraBytes) {
  EngineStartup();
  for (int v : {0x02, 0x03, 0x04, 0x83, 0x8B, 0x8C, 0xF5}) EXPECT_TRUE(IsDbfVersion(uint8_t(v))) << v;
  for (int v : {0x00, 0x30, 0x31, 0x43, 0xFB, 0x05}) EXPECT_FALSE(IsDbfVersion(uint8_t(v))) << v;
  EXPECT_TRUE(IsDbase2Kind(0x02));
  Tables().ExtraVersion2 = 0x30;
  EXPECT_TRUE(IsDbfVersion(0x30));
  EXPECT_FALSE(IsDbase2Kind(0x02)) << "an extra version byte switches the dBASE II layout off";
  EngineShutdown();
}

TEST(DbfFormat, MemoFileExtension) {
  EngineStartup();
  EXPECT_EQ(MemoFileExt(0xF5), "FPT");
  EXPECT_EQ(MemoFileExt(0x30), "FPT");
  EXPECT_EQ(MemoFileExt(0x83), "DBT");
  EXPECT_EQ(MemoFileExt(0x8B), "DBT");
  EXPECT_EQ(MemoFileExt(0x77), "DBT");  // unknown: the default memo kind 0x8B
  Tables().DefaultMemoKind = 0xF5;
  EXPECT_EQ(MemoFileExt(0x77), "FPT");
  EXPECT_EQ(MemoFileExt(0x83), "DBT");
  EngineShutdown();
}

class HeaderTest : public TableTest {};

TEST_F(HeaderTest, ReadOnlyUseLeavesHeaderUntouched) {
  std::string image = MakeDbf(0x03, kFields, {" ALPHA       1", " BETA        2"});
  WriteFileBytes(File("T.DBF"), image);
  ASSERT_TRUE(Use(File("T.DBF")));
  GoBottom();
  EXPECT_EQ(FieldText(1), "BETA");
  CloseArea();
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(ReadFileBytes(File("T.DBF")), image);
}

TEST_F(HeaderTest, AppendAndCloseWritesCountDateAndMarker) {
  WriteFileBytes(File("T.DBF"), MakeDbf(0x03, kFields, {" ALPHA       1"}));
  ASSERT_TRUE(Use(File("T.DBF"), Exclusive()));
  ASSERT_TRUE(AppendBlank());
  ASSERT_TRUE(SetFieldText(1, "GAMMA"));
  ASSERT_TRUE(Replace());
  ASSERT_TRUE(AppendBlank());
  CloseArea();
  ASSERT_EQ(ErrorCode(), 0);
  std::string bytes = ReadFileBytes(File("T.DBF"));
  auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  TodayDate today = TodayParts();
  EXPECT_EQ(GetLE32(p + 4), 3u);
  EXPECT_EQ(p[1], today.year - 1900);
  EXPECT_EQ(p[2], today.month);
  EXPECT_EQ(p[3], today.day);
  const size_t end = 97 + 3 * 16;
  ASSERT_EQ(bytes.size(), end + 1);
  EXPECT_EQ(bytes[end], '\x1A');
  EXPECT_EQ(bytes.substr(97 + 16, 6), " GAMMA");
}

TEST_F(HeaderTest, MultiUserBytesWrittenByOthersSurvive) {
  WriteFileBytes(File("T.DBF"), MakeDbf(0x03, kFields, {}));
  ASSERT_TRUE(Use(File("T.DBF")));
  // Another program writes its bytes 16-27 after we opened the table.
  std::string bytes = ReadFileBytes(File("T.DBF"));
  bytes.replace(16, 12, "OTHERPROGRAM");
  WriteFileBytes(File("T.DBF"), bytes);
  ASSERT_TRUE(AppendBlank());
  CloseArea();
  std::string after = ReadFileBytes(File("T.DBF"));
  EXPECT_EQ(after.substr(16, 12), "OTHERPROGRAM");
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(after.data()) + 4), 1u);
}

TEST_F(HeaderTest, YearByteAfter2000) {
  DbfArea area;
  area.header[0] = 0x03;
  area.record_count = 7;
  ASSERT_EQ(area.file.Create(File("Y.DBF"), 18), 0u);
  ASSERT_EQ(area.file.WriteAt(0, std::vector<uint8_t>(64, 0)), 0u);
  WriteDbfHeader(area);
  ASSERT_EQ(ErrorCode(), 0);
  EXPECT_EQ(area.header[1], uint8_t(TodayParts().year - 1900));
  EXPECT_GE(area.header[1], 124) << "2024 and later are stored as 124 and more";
}

TEST_F(HeaderTest, Dbase2HeaderUpdateAndItsSwitch) {
  // dBASE II: 8-byte update with a 16-bit count and month, day, year.
  std::string image(600, '\0');
  image[0] = 0x02;
  WriteFileBytes(File("D2.DBF"), image);
  DbfArea area;
  area.header[0] = 0x02;
  area.header[6] = 0x22;  // record length, kept
  area.header[28] = 0x55;  // beyond the 8 bytes: never written
  area.record_count = 0x10005;
  ASSERT_EQ(area.file.Open(File("D2.DBF"), 18), 0u);
  WriteDbfHeader(area);
  std::string after = ReadFileBytes(File("D2.DBF"));
  TodayDate today = TodayParts();
  EXPECT_EQ(uint8_t(after[1]), 0x05);
  EXPECT_EQ(uint8_t(after[2]), 0x00);
  EXPECT_EQ(uint8_t(after[3]), today.month);
  EXPECT_EQ(uint8_t(after[4]), today.day);
  EXPECT_EQ(uint8_t(after[5]), today.year - 1900);
  EXPECT_EQ(uint8_t(after[6]), 0x22);
  EXPECT_EQ(after[28], '\0');
  // With an extra version byte configured, the same file gets the 32-byte layout.
  Tables().ExtraVersion1 = 0x42;
  WriteDbfHeader(area);
  after = ReadFileBytes(File("D2.DBF"));
  EXPECT_EQ(uint8_t(after[1]), today.year - 1900);
  EXPECT_EQ(GetLE32(reinterpret_cast<const uint8_t*>(after.data()) + 4), 0x10005u);
  EXPECT_EQ(uint8_t(after[28]), 0x55);
}

TEST_F(HeaderTest, CountFromFileSizeIgnoresMarkerAndPartialRecord) {
  std::string image = MakeDbf(0x03, kFields, {" A", " B", " C"});  // 3 records + 0x1A
  WriteFileBytes(File("T.DBF"), image);
  ASSERT_TRUE(Use(File("T.DBF")));
  EXPECT_EQ(RecCount(), 3);
  WriteFileBytes(File("T.DBF"), image + std::string(10, 'x'));  // part of a 4th record
  EXPECT_EQ(RecCount(), 3);
}

}  // namespace
}  // namespace zedra::testing
