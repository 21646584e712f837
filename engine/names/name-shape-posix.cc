// Names on POSIX: bytes, legacy when they are not UTF-8; none is widened.
#include "engine/names/name-decide.h"
#include "engine/platform/text.h"

bool LegacyNameBytes(const PathString& name, std::string* bytes, bool* widened) {
  *widened = false;
  if (IsValidUtf8(name))
    return false;
  *bytes = name;
  return true;
}
