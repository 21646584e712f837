// Code pages on Windows: the system's own converter.
#include <string>

#include "engine/text/codepage.h"
#include "engine/text/dos-pages.h"
#include "engine/platform/platform.h"  // <windows.h> as the engine includes it

unsigned AnsiCodePage() {
  return GetACP();
}

// The same pages as on every other platform, so that a command line means the
// same everywhere.
bool IsCodePageSupported(unsigned codePage) {
  const bool listed = codePage == 874 || (codePage >= 1250 && codePage <= 1258) ||
                      codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
  return listed && IsValidCodePage(codePage) != FALSE;
}

bool CanDecodeCodePage(unsigned codePage) {
  return IsCodePageSupported(codePage) ||
         (IsDosPage(codePage) && IsValidCodePage(codePage) != FALSE);
}

std::wstring DecodeCodePage(unsigned codePage, const std::string& bytes) {
  if (bytes.empty())
    return std::wstring();
  // Never more wide characters than bytes; the zero fill ends the text.
  std::wstring buffer(bytes.size() + 1, L'\0');
  const int count = static_cast<int>(bytes.size());
  const int written = MultiByteToWideChar(codePage == 0 ? CP_ACP : codePage, 0, bytes.data(), count,
                                          &buffer[0], count + 1);
  buffer.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return buffer;
}
