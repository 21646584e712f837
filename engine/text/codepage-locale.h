// The code page a locale name implies.
#pragma once

#include <string>

// The ANSI code page Windows gives the language of a POSIX locale name such
// as "ru_RU.UTF-8"; 1252 for C, POSIX and languages without one of their own.
unsigned CodePageForLocale(const std::string& localeName);
