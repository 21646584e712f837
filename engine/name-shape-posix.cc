// Names on POSIX: bytes, legacy when they are not UTF-8; none is widened.
#include "engine/name-decide.h"

bool LegacyNameBytes(const PathString& name, std::string* bytes, bool* widened) {
  *widened = false;
  if (IsValidUtf8(name))
    return false;
  *bytes = name;
  return true;
}
