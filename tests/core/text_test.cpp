// Text helpers: code pages, tag search, replacement, Base64, hexadecimal
// and certificate dates.
#include "core/text.h"

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

using core::Base64Decode;
using core::Base64Encode;
using core::FindTag;
using core::FindTagWide;

std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

TEST(Base64, EncodesWithOneOrTwoPadCharacters) {
  EXPECT_EQ(Base64Encode(Bytes("abc")), "YWJj");
  EXPECT_EQ(Base64Encode(Bytes("ab")), "YWI=");
  EXPECT_EQ(Base64Encode(Bytes("a")), "YQ==");
  EXPECT_EQ(Base64Encode(Bytes("")), "");
  EXPECT_EQ(Base64Encode(std::vector<uint8_t>{0xFB, 0xFF}), "+/8=");
}

TEST(Base64, DecodingSkipsForeignCharactersAndStopsAtThePad) {
  EXPECT_EQ(Base64Decode("YW Jj"), Bytes("abc"));
  EXPECT_EQ(Base64Decode("YWI="), Bytes("ab"));
  EXPECT_EQ(Base64Decode("YQ==YWJj"), Bytes("a"));
  EXPECT_EQ(Base64Decode("Y"), Bytes(""));
  EXPECT_EQ(Base64Decode("!!!"), Bytes(""));
  EXPECT_EQ(Base64Decode("YW\r\nJj"), Bytes("abc"));
  // Breaks between groups and inside one, and whole groups after them.
  EXPECT_EQ(Base64Decode("YWJj\r\nZGVm\r\nZ2hp"), Bytes("abcdefghi"));
  EXPECT_EQ(Base64Decode("YWJjZG\nVmZ2hp"), Bytes("abcdefghi"));
}

TEST(Base64, EveryByteValueSurvivesARoundTrip) {
  std::vector<uint8_t> all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  for (size_t size = 0; size <= all.size(); size += 37) {
    std::vector<uint8_t> part(all.begin(), all.begin() + static_cast<long>(size));
    EXPECT_EQ(Base64Decode(Base64Encode(part)), part);
  }
}

TEST(Hex, UpperCaseOutAndEitherCaseIn) {
  EXPECT_EQ(core::HexEncode(std::vector<uint8_t>{0x0A, 0xFF}), "0AFF");
  EXPECT_EQ(core::HexDecode("0aff"), (std::vector<uint8_t>{0x0A, 0xFF}));
  EXPECT_EQ(core::HexDecode("0AFF"), (std::vector<uint8_t>{0x0A, 0xFF}));
  // An odd length gives ceil(length / 2) bytes, the lone digit a number of its own.
  EXPECT_EQ(core::HexDecode("abc"), (std::vector<uint8_t>{0xAB, 0x0C}));
  EXPECT_TRUE(core::IsHexText("0123456789abcdefABCDEF0123456789abcdefAB", 40));
  EXPECT_FALSE(core::IsHexText("0123456789abcdefABCDEF0123456789abcdefA", 40));
  EXPECT_FALSE(core::IsHexText("0123456789abcdefABCDEF0123456789abcdefAG", 40));
}

TEST(FindTag, TakesTheFirstElementAsItStands) {
  EXPECT_EQ(FindTag("<a>1</a><a>2</a>", "a"), "1");
  EXPECT_EQ(FindTag("<r><a></a></r>", "a"), "");
  EXPECT_EQ(FindTag("<a>1", "a"), std::nullopt);
  EXPECT_EQ(FindTag("</a><a>1", "a"), std::nullopt);
  EXPECT_EQ(FindTag("<a x=\"1\">v</a>", "a"), std::nullopt);
  EXPECT_EQ(FindTag("<a> &lt;x&gt; </a>", "a"), " &lt;x&gt; ");
}

TEST(FindTag, WideTakesTheTextUpToTheNextMarkup) {
  EXPECT_EQ(FindTagWide(L"<root><b>x<c></c></b></root>", L"b"), L"x");
  EXPECT_EQ(FindTagWide(L"<b>value</b>", L"b"), L"value");
  EXPECT_EQ(FindTagWide(L"<b>value", L"b"), std::nullopt);
}

TEST(ReplaceAll, ReplacesEveryOccurrenceOrTheFirst) {
  EXPECT_EQ(core::ReplaceAll(L"a\r\nb\r\nc", L"\r\n", L"<BR>", false), L"a<BR>b<BR>c");
  EXPECT_EQ(core::ReplaceAll(L"a\r\nb\r\nc", L"\r\n", L"<BR>", true), L"a<BR>b\r\nc");
  // A replacement that holds the pattern does not loop.
  EXPECT_EQ(core::ReplaceAll(L"\\a\\", L"\\", L"\\\\", false), L"\\\\a\\\\");
  EXPECT_EQ(core::ReplaceAll(L"abc", L"", L"x", false), L"abc");
}

TEST(CodePages, ConvertUtf8And1251AndNeverFailOutward) {
  EXPECT_EQ(core::ToNarrow(L"", core::kCodePageUtf8), "");
  EXPECT_EQ(core::ToNarrow(L"Пароль", core::kCodePageUtf8), "Пароль");
  EXPECT_EQ(core::ToNarrow(L"Пароль", core::kCodePage1251), "\xCF\xE0\xF0\xEE\xEB\xFC");
  EXPECT_EQ(core::ToWide("\xCF\xE0\xF0\xEE\xEB\xFC", core::kCodePage1251), L"Пароль");
  EXPECT_EQ(core::ToWide("Отправитель", core::kCodePageUtf8), L"Отправитель");
  // A character outside the page becomes '?' and a byte that is no
  // character U+FFFD, each for itself; the rest of the text stays.
  EXPECT_EQ(core::ToNarrow(L"漢字", core::kCodePage1251), "??");
  EXPECT_EQ(core::ToNarrow(L"12\x00E9" L"34", core::kCodePage1251), "12?34");
  EXPECT_EQ(core::ToWide("\xFF\xFE", core::kCodePageUtf8), L"\xFFFD\xFFFD");
  EXPECT_EQ(core::ToWide("Па\xFFроль\xD0", core::kCodePageUtf8), L"Па\xFFFDроль\xFFFD");
  EXPECT_EQ(core::ToWide("\xCF\x98\xE0", core::kCodePage1251), L"П\xFFFDа");
  EXPECT_EQ(core::ToNarrow(std::wstring(L"a\xD800" L"b"), core::kCodePageUtf8), "a\xEF\xBF\xBD" "b");
}

TEST(FormatCertDate, GivesYearMonthDayOfTheUniversalTime) {
  // 2019-03-07 23:30 UTC stays the 7th whatever the local zone.
  int64_t moment = platform::FileTimeFromUnix(1552001400);
  EXPECT_EQ(core::FormatCertDate(moment), L"2019.03.07");
}

}  // namespace
