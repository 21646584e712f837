// Legacy Windows code pages decoded as Windows itself decodes them:
// MultiByteToWideChar on Windows (codepage-win32.cc), tables built from
// iconv and corrected to Windows' own elsewhere (codepage-posix.cc).
#pragma once

#include <string>

// The code page Windows would use as its ANSI code page here: GetACP() on
// Windows, the page Windows gives the locale's language elsewhere.
unsigned AnsiCodePage();

// Decodes `bytes` of `codePage` into UTF-16 text exactly as
// MultiByteToWideChar(codePage, 0, ...) does: it never fails, and writes no
// more characters than there are bytes. Code page 0 is the ANSI code page.
std::wstring DecodeCodePage(unsigned codePage, const std::string& bytes);

// True when `codePage` can be decoded here and named for tags: the ANSI
// pages of Windows.
bool IsCodePageSupported(unsigned codePage);
// True when `codePage` can be decoded here: the supported pages and the DOS
// pages (engine/text/dos-pages.h), which names on FAT media and in ZIP archives,
// cue sheets and playlists of DOS-era tools are written in.
bool CanDecodeCodePage(unsigned codePage);

