// Names on Windows: UTF-16, which holds legacy bytes only widened, each
// byte read as Windows-1252/Latin-1 (engine/names/name-decide.h, N5).
#include "engine/names/name-decide.h"

bool LegacyNameBytes(const PathString& name, std::string* bytes, bool* widened) {
  *widened = WidenedBytes(name, bytes);
  return *widened;
}
