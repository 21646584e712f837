// The ANSI code page Windows gives the language of a locale, for platforms
// whose locale is a POSIX name rather than a Windows code page.
#include <string>

#include "engine/text/codepage-locale.h"
#include "engine/text/codepage.h"

namespace {

// The part of a locale name before its territory, codeset and modifier, and
// the territory: "sr_RS.UTF-8@latin" gives "sr", "RS" and "latin".
struct LocaleName {
  std::string language, territory, modifier;
};

LocaleName ParseLocale(const std::string& name) {
  LocaleName parsed;
  const size_t at = name.find('@');
  if (at != std::string::npos)
    parsed.modifier = name.substr(at + 1);
  const std::string base = name.substr(0, at);
  const size_t end = base.find_first_of("_.");
  parsed.language = base.substr(0, end);
  if (end != std::string::npos && base[end] == '_') {
    parsed.territory = base.substr(end + 1, base.find('.', end) - end - 1);
  }
  return parsed;
}

}  // namespace

unsigned CodePageForLocale(const std::string& localeName) {
  const LocaleName locale = ParseLocale(localeName);
  const std::string& language = locale.language;
  struct LanguagePage {
    const char* language;
    unsigned codePage;
  };
  static const LanguagePage kPages[] = {
      {"ru", 1251}, {"uk", 1251}, {"be", 1251}, {"bg", 1251}, {"sr", 1251}, {"mk", 1251},
      {"kk", 1251}, {"ky", 1251}, {"tt", 1251}, {"mn", 1251}, {"pl", 1250}, {"cs", 1250},
      {"sk", 1250}, {"hu", 1250}, {"sl", 1250}, {"hr", 1250}, {"ro", 1250}, {"sq", 1250},
      {"bs", 1250}, {"el", 1253}, {"tr", 1254}, {"az", 1254}, {"he", 1255}, {"ar", 1256},
      {"fa", 1256}, {"ur", 1256}, {"et", 1257}, {"lv", 1257}, {"lt", 1257}, {"vi", 1258},
      {"th", 874},  {"ja", 932},  {"ko", 949},
  };
  if (language == "sr" && locale.modifier == "latin")
    return 1250;  // Serbian in Latin script
  if (language == "zh") {
    const std::string& t = locale.territory;
    return t == "TW" || t == "HK" || t == "MO" ? 950 : 936;
  }
  for (const LanguagePage& entry : kPages) {
    if (language == entry.language)
      return entry.codePage;
  }
  return 1252;
}
