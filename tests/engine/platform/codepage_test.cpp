// Code pages from the system's converter: the DOS/Windows pairs, case mapping and UTF-8.
#include <gtest/gtest.h>

#include "platform/codepage_data.h"
#include "platform/platform.h"

namespace zedra::platform {
namespace {

constexpr uint16_t kDosCodePages[] = {437, 737, 850, 852, 857, 860, 861, 863, 865, 866};
constexpr uint16_t kAllCodePages[] = {437, 737, 850, 852, 857, 860, 861, 863, 865,
                                      866, 1250, 1251, 1252, 1253, 1254, 1257};

std::string Byte(int b) { return std::string(1, static_cast<char>(b)); }

TEST(CodePageTest, EveryDosPairIsABijectionKeepingTheCharactersBothHave) {
  for (uint16_t dos : kDosCodePages) {
    SCOPED_TRACE(dos);
    const OemAnsiPair* pair = FindOemAnsiPair(dos);
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(pair->oem->number, dos);
    EXPECT_EQ(pair->ansi->number, WindowsCodePageOf(dos));
    int shared = 0;
    for (int b = 0; b < 256; ++b) {
      ASSERT_EQ(pair->to_oem[pair->to_ansi[b]], b) << b;
      ASSERT_EQ(pair->to_ansi[pair->to_oem[b]], b) << b;
      if (b < 0x80) {
        EXPECT_EQ(pair->to_ansi[b], b);
      }
      const char32_t c = pair->oem->unicode[b];
      bool in_ansi = false;
      for (int w = 0; w < 256; ++w) in_ansi |= pair->ansi->defined[w] && pair->ansi->unicode[w] == c;
      if (pair->oem->defined[b] && in_ansi) {
        EXPECT_EQ(pair->ansi->unicode[pair->to_ansi[b]], c) << b;
        ++shared;
      }
    }
    EXPECT_GT(shared, 128 + 30);  // ASCII and a good part of the upper half
  }
  // The script's letters land on their Windows twins: Cyrillic A, L with stroke, alpha.
  EXPECT_EQ(FindOemAnsiPair(866)->to_ansi[0x80], 0xC0);
  EXPECT_EQ(FindOemAnsiPair(852)->to_ansi[0x9D], 0xA3);
  EXPECT_EQ(FindOemAnsiPair(737)->to_ansi[0x80], 0xC1);
  EXPECT_EQ(FindOemAnsiPair(1252), nullptr);
  EXPECT_EQ(FindCodePage(932), nullptr);  // not a single-byte code page
  EXPECT_EQ(FindCodePage(1), nullptr);
}

TEST(CodePageTest, TheEnginesOwnPairIsTheOneTheCharactersGive) {
  // The stored 850/1252 tables are what pairing the two code pages' characters gives, and
  // the 850 pair the tables read through is the stored one.
  const OemAnsiPair built = BuildOemAnsiPair(*FindCodePage(850), *FindCodePage(1252));
  const OemAnsiPair* used = FindOemAnsiPair(850);
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(built.to_ansi[b], OemToAnsi(uint8_t(b))) << b;
    EXPECT_EQ(built.to_oem[b], AnsiToOem(uint8_t(b))) << b;
    EXPECT_EQ(used->to_ansi[b], OemToAnsi(uint8_t(b))) << b;
  }
}

TEST(CodePageTest, CaseMapsFollowEachScript) {
  const CodePage& w1252 = Windows1252();
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(w1252.upper[b], AnsiUpper(uint8_t(b))) << b;
    EXPECT_EQ(w1252.lower[b], AnsiLower(uint8_t(b))) << b;
  }
  const CodePage& cyrillic = *FindCodePage(1251);
  for (int b = 0xE0; b <= 0xFF; ++b) {
    EXPECT_EQ(cyrillic.upper[b], b - 0x20) << b;
    EXPECT_EQ(cyrillic.lower[b - 0x20], b) << b;
  }
  EXPECT_EQ(cyrillic.upper[0xB8], 0xA8);  // yo
  EXPECT_EQ(cyrillic.upper[0xB9], 0xB9);  // the numero sign has no case
  const CodePage& latin2 = *FindCodePage(1250);
  EXPECT_EQ(latin2.upper[0xB3], 0xA3);  // l with stroke
  EXPECT_EQ(latin2.upper[0x9F], 0x8F);  // z acute
  EXPECT_EQ(latin2.lower[0x8A], 0x9A);  // S caron
  EXPECT_EQ(latin2.upper[0xDF], 0xDF);  // sharp s stays
  EXPECT_EQ(FindCodePage(1253)->upper[0xFE], 0xBF);  // omega with tonos
  EXPECT_EQ(FindCodePage(1254)->upper[0xF0], 0xD0);  // g breve
  EXPECT_EQ(FindCodePage(866)->upper[0xE1], 0x91);   // es, in the DOS page itself
  for (uint16_t number : kAllCodePages)
    for (int b = 0; b < 0x80; ++b) {
      const bool small = b >= 'a' && b <= 'z', capital = b >= 'A' && b <= 'Z';
      EXPECT_EQ(FindCodePage(number)->upper[b], small ? b - 0x20 : b) << number << " " << b;
      EXPECT_EQ(FindCodePage(number)->lower[b], capital ? b + 0x20 : b) << number << " " << b;
    }
}

TEST(CodePageTest, Utf8RoundTripsAndRefusesWhatThePageLacks) {
  for (uint16_t number : kAllCodePages) {
    SCOPED_TRACE(number);
    const CodePage& page = *FindCodePage(number);
    std::string all;
    for (int b = 0; b < 256; ++b)
      if (page.unicode[b] != kNoCharacter) all += Byte(b);
    std::string back, missing;
    ASSERT_TRUE(Utf8ToCodePage(page, CodePageToUtf8(page, all), &back, &missing)) << missing;
    EXPECT_EQ(back, all);
  }
  const CodePage& dos866 = *FindCodePage(866);
  EXPECT_EQ(CodePageToUtf8(dos866, "\x8C\xAE\xE1\xAA\xA2\xA0"), "Москва");
  EXPECT_EQ(CodePageToUtf8(*FindCodePage(437), "\xE0\x9B\x9D\xE1\xCE"), "α¢¥ß╬");
  std::string bytes, missing;
  EXPECT_TRUE(Utf8ToCodePage(dos866, "Ёж", &bytes, &missing));
  EXPECT_EQ(bytes, "\xF0\xA6");
  // A character the page lacks, and bytes that are not UTF-8 (overlong, a surrogate, cut
  // short, beyond U+10FFFF, a stray continuation byte): refused, naming the culprit.
  for (std::string bad : {std::string("日"), std::string("\xC0\x80"), std::string("\xED\xA0\x80"),
                          std::string("\xE2\x82"), std::string("\xF4\x90\x80\x80"),
                          std::string("\x80")}) {
    missing.clear();
    EXPECT_FALSE(Utf8ToCodePage(dos866, "ok " + bad + " ok", &bytes, &missing)) << bad;
    EXPECT_FALSE(missing.empty()) << bad;
    EXPECT_EQ(("ok " + bad + " ok").find(missing), 3u) << bad;
  }
  EXPECT_TRUE(Utf8ToCodePage(*FindCodePage(1250), "Łódź", &bytes, &missing));
  EXPECT_EQ(bytes, "\xA3\xF3\x64\x9F");
  EXPECT_FALSE(Utf8ToCodePage(*FindCodePage(1250), "Москва", &bytes, &missing));
  EXPECT_EQ(missing, "М");
  // Windows-1252's bytes without a character stand for themselves, as they always have.
  EXPECT_EQ(Cp1252ToUtf8("\x81\x8D"), "\xC2\x81\xC2\x8D");
  EXPECT_EQ(Utf8ToCp1252("\xC2\x81z"), "\x81z");
  EXPECT_EQ(Cp866ToUtf8("\x8C"), "М");
}

TEST(CodePageTest, EveryPageIsTheOneOfTheEnginesTables) {
  // The Windows build compiles these tables in; the POSIX build reads glibc, which must
  // still agree with them byte for byte, so that both systems give the same text and case.
  ASSERT_EQ(std::size(tables::kCodePageData), std::size(kAllCodePages));
  for (size_t i = 0; i < std::size(kAllCodePages); ++i) {
    const tables::CodePageData& data = tables::kCodePageData[i];
    ASSERT_EQ(data.number, kAllCodePages[i]);
    SCOPED_TRACE(data.number);
    const CodePage* page = FindCodePage(data.number);
    ASSERT_NE(page, nullptr);
    for (int b = 0; b < 256; ++b) {
      const bool high = b >= 0x80;
      const char32_t c = high ? data.unicode[b - 0x80] : char32_t(b);
      const bool defined = c != 0 || b == 0;
      EXPECT_EQ(page->defined[b], defined) << b;
      EXPECT_EQ(page->unicode[b], defined ? c : b < 0xA0 ? char32_t(b) : kNoCharacter) << b;
      const int ascii_upper = b >= 'a' && b <= 'z' ? b - 0x20 : b;
      const int ascii_lower = b >= 'A' && b <= 'Z' ? b + 0x20 : b;
      EXPECT_EQ(page->upper[b], high ? data.upper[b - 0x80] : ascii_upper) << b;
      EXPECT_EQ(page->lower[b], high ? data.lower[b - 0x80] : ascii_lower) << b;
    }
  }
}

}  // namespace
}  // namespace zedra::platform
