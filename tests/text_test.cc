// Text shown to a person: display conversions and the locale's code page.
#include <gtest/gtest.h>

#include <string>

#include "engine/text/codepage-locale.h"
#include "engine/platform/platform.h"
#include "engine/platform/text.h"

TEST(Display, InvalidUtf8ShowsAsReplacementCharacters) {
  EXPECT_EQ("plain/\xD0\x90.mp3", SanitizeUtf8("plain/\xD0\x90.mp3"));
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD.mp3", SanitizeUtf8("\xFF\xFE.mp3"));
  EXPECT_EQ("a\xEF\xBF\xBD", SanitizeUtf8("a\xD0"));                                // cut short
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD", SanitizeUtf8("\xC0\xAF"));                  // overlong
  EXPECT_EQ("\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", SanitizeUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_EQ("\xF0\x9F\x8E\xB5", SanitizeUtf8("\xF0\x9F\x8E\xB5"));
}

TEST(Display, WideTextBecomesUtf8) {
  EXPECT_EQ("\xD0\x90\xD0\xB1", WideToUtf8(L"\u0410\u0431"));
  EXPECT_EQ("Couldn't open file", WideToUtf8(L"Couldn't open file"));
  EXPECT_EQ("\xE2\x82\xAC", WideToUtf8(L"\u20AC"));
}

#ifndef _WIN32
TEST(CodePageForLocale, FollowsTheLanguageAsWindowsDoes) {
  struct Case {
    const char* locale;
    unsigned codePage;
  } cases[] = {
      {"ru_RU.UTF-8", 1251}, {"uk_UA.UTF-8", 1251}, {"bg_BG", 1251},       {"sr_RS.UTF-8", 1251},
      {"sr_RS@latin", 1250}, {"pl_PL.UTF-8", 1250}, {"cs_CZ.UTF-8", 1250}, {"hu_HU", 1250},
      {"el_GR.UTF-8", 1253}, {"tr_TR.UTF-8", 1254}, {"he_IL.UTF-8", 1255}, {"ar_EG.UTF-8", 1256},
      {"fa_IR", 1256},       {"lt_LT.UTF-8", 1257}, {"vi_VN", 1258},       {"th_TH.UTF-8", 874},
      {"ja_JP.UTF-8", 932},  {"zh_CN.UTF-8", 936},  {"zh_SG.GBK", 936},    {"ko_KR.UTF-8", 949},
      {"zh_TW.UTF-8", 950},  {"zh_HK.UTF-8", 950},  {"en_US.UTF-8", 1252}, {"de_DE@euro", 1252},
      {"C", 1252},           {"POSIX", 1252},       {"C.UTF-8", 1252},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.codePage, CodePageForLocale(c.locale)) << c.locale;
}
#endif
