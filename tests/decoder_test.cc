// Code-page decoding as MultiByteToWideChar gives it.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/platform/platform.h"

namespace {

const unsigned kCodePages[] = {874,  1250, 1251, 1252, 1253, 1254, 1255,
                               1256, 1257, 1258, 932,  936,  949,  950};

}  // namespace

TEST(DecodeCodePage, KnownTextOfEveryFamily) {
  struct Case {
    unsigned codePage;
    std::string bytes;
    std::wstring text;
  } cases[] = {
      {1251, "\xC0\xE1\xE2", L"\u0410\u0431\u0432"},
      {1251, "\xA8\xB8\xB9", L"\u0401\u0451\u2116"},
      {1252, "\x80\xA0\xE9\xFF", L"\u20AC\u00A0\u00E9\u00FF"},
      {1250, "\x8A\xB9\xE8", L"\u0160\u0105\u010D"},
      {1253, "\xE1\xE2\xE3", L"\u03B1\u03B2\u03B3"},
      {1254, "\xF0\xFD\xFE", L"\u011F\u0131\u015F"},
      {1255, "\xE0\xE1", L"\u05D0\u05D1"},
      {1256, "\xC7\xE1", L"\u0627\u0644"},
      {1257, "\xC0\xE0", L"\u0104\u0105"},
      {874, "\xA1\xA2", L"\u0E01\u0E02"},
      {932, "\x82\xA0\xB1", L"\u3042\uFF71"},
      {936, "\xC4\xE3\xBA\xC3", L"\u4F60\u597D"},
      {949, "\xB0\xA1", L"\uAC00"},
      {950, "\xA4\xA4", L"\u4E2D"},
      {1251, "", L""},
      {1251, "plain ASCII", L"plain ASCII"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    EXPECT_EQ(c.text, DecodeCodePage(c.codePage, c.bytes));
  }
}

TEST(DecodeCodePage, UndefinedSingleBytesGiveTheControlCharacterOfTheirValue) {
  EXPECT_EQ(std::wstring(L"\u0098"), DecodeCodePage(1251, "\x98"));
  EXPECT_EQ(std::wstring(L"\u0081\u008D\u008F\u0090\u009D"),
            DecodeCodePage(1252, "\x81\x8D\x8F\x90\x9D"));
  EXPECT_EQ(std::wstring(L"\u0081\u0083\u0088\u0090\u0098"),
            DecodeCodePage(1250, "\x81\x83\x88\x90\x98"));
}

TEST(DecodeCodePage, CombiningMarksStayAsStored) {
  // 1255 and 1258 hold combining marks; Windows does not compose them.
  EXPECT_EQ(std::wstring(L"a\u0301"), DecodeCodePage(1258, "a\xEC"));
  EXPECT_EQ(std::wstring(L"\u05D0\u05B7"), DecodeCodePage(1255, "\xE0\xC7"));
}

TEST(DecodeCodePage, NeverFailsAndNeverGrows) {
  std::mt19937 random(1251);
  for (unsigned codePage : kCodePages) {
    SCOPED_TRACE(codePage);
    ASSERT_TRUE(IsCodePageSupported(codePage));
    for (int round = 0; round < 200; ++round) {
      std::string bytes(1 + random() % 40, '\0');
      for (char& b : bytes)
        b = static_cast<char>(0x80 | random());
      const std::wstring text = DecodeCodePage(codePage, bytes);
      EXPECT_FALSE(text.empty());
      EXPECT_LE(text.size(), bytes.size());
      EXPECT_EQ(std::wstring::npos, text.find(L'\0'));
    }
  }
}

TEST(DecodeCodePage, DoubleBytePagesDecodeBrokenSequencesToTheDefaultCharacter) {
  // A lead byte with nothing after it is one unmappable character.
  EXPECT_EQ(1u, DecodeCodePage(932, "\x82").size());
  EXPECT_EQ(2u, DecodeCodePage(936, "a\xC4").size());
  // Whatever an unmappable sequence gives, the text around it survives.
  const std::wstring text = DecodeCodePage(949,
                                           "A\xFF\xFF"
                                           "B");
  EXPECT_EQ(L'A', text.front());
  EXPECT_EQ(L'B', text.back());
}

TEST(CodePages, OnlyTheSupportedPagesAreAccepted) {
  EXPECT_FALSE(IsCodePageSupported(65001));
  EXPECT_FALSE(IsCodePageSupported(437));
  EXPECT_FALSE(IsCodePageSupported(1249));
  EXPECT_FALSE(IsCodePageSupported(1259));
}
