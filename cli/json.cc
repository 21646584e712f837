// The --json lines' strings and members, written through nlohmann's JSON
// library.
#include "cli/json.h"

#include <nlohmann/json.hpp>

#include "cli/console.h"
#include "cli/show.h"
#include "cli/suggest.h"
#include "engine/platform/text.h"

namespace {

const char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string* out, unsigned byte) {
  out->push_back(kHex[(byte >> 4) & 0xF]);
  out->push_back(kHex[byte & 0xF]);
}

// The library escapes quotes, backslashes and C0 controls; a terminal also
// acts on DEL and on the C1 controls (U+0080 to U+009F, C2 80 to C2 9F in
// UTF-8), which it leaves as they are, so they are escaped here, and so are
// its \b and \f, which this output has always given as \u0008 and \u000c.
// Outside strings its compact output holds none of these bytes.
std::string EscapeControls(const std::string& dumped) {
  std::string out;
  out.reserve(dumped.size());
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const unsigned char byte = static_cast<unsigned char>(dumped[i]);
    const unsigned char next =
        i + 1 < dumped.size() ? static_cast<unsigned char>(dumped[i + 1]) : 0;
    if (byte == '\\' && (next == 'b' || next == 'f')) {
      out += next == 'b' ? "\\u0008" : "\\u000c";
      ++i;
    } else if (byte == '\\') {
      out.append(dumped, i, 2);  // any other escape stays as it is
      ++i;
    } else if (byte == 0x7F) {
      out += "\\u007f";
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      out += "\\u00";
      AppendHexByte(&out, next);
      ++i;
    } else {
      out.push_back(char(byte));
    }
  }
  return out;
}

// `value` as compact JSON; its strings are valid UTF-8 already.
std::string Dump(const nlohmann::ordered_json& value) {
  return EscapeControls(value.dump());
}

// The members of `object` without its braces, for a line that holds more.
std::string Members(const nlohmann::ordered_json& object) {
  const std::string dumped = Dump(object);
  return dumped.substr(1, dumped.size() - 2);
}

}  // namespace

std::string JsonString(const std::string& text) {
  return Dump(nlohmann::ordered_json(SanitizeUtf8(text)));
}

std::string JsonString(const std::wstring& text) {
  return JsonString(WideToUtf8(text));
}

bool IsValidUnicode(const std::string& path) {
  return SanitizeUtf8(path) == path;
}

bool IsValidUnicode(const std::wstring& path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    const unsigned long unit = static_cast<unsigned long>(path[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < path.size()) {
      const unsigned long low = static_cast<unsigned long>(path[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        ++i;
        continue;
      }
    }
    if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0x10FFFF)
      return false;
  }
  return true;
}

std::string PathHex(const std::string& path) {
  std::string hex;
  for (char byte : path)
    AppendHexByte(&hex, static_cast<unsigned char>(byte));
  return hex;
}

std::string PathHex(const std::wstring& path) {
  std::string hex;
  for (wchar_t unit : path) {
    AppendHexByte(&hex, unsigned(unit) & 0xFF);
    AppendHexByte(&hex, (unsigned(unit) >> 8) & 0xFF);
  }
  return hex;
}

std::string JsonPath(const std::string& key, const PathString& path) {
  nlohmann::ordered_json members = nlohmann::ordered_json::object();
  members[SanitizeUtf8(key)] = SanitizeUtf8(PathForDisplay(path));
  if (!IsValidUnicode(path))
    members[SanitizeUtf8(key + "_bytes")] = PathHex(path);
  return Members(members);
}

std::string JsonDecimal(double value) {
  return Decimal(value);
}

void WriteMessage(bool json, const char* type, const std::string& message) {
  if (json) {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    line["type"] = SanitizeUtf8(type);
    line["message"] = SanitizeUtf8(message);
    WriteErr(Dump(line) + "\n");
  } else {
    WriteErr("songwright: " + message + "\n");
  }
}

std::string MessagePath(bool json, const PathString& path) {
  return json ? PathForDisplay(path) : ShowPath(path);
}

int BusyError(bool json, const PathString& path) {
  WriteMessage(json, "error",
               "another run of songwright is working on '" + MessagePath(json, path) +
                   "' (on it, on a folder that holds it, or on one inside it); nothing was "
                   "touched; try again once that run has finished");
  return kExitBusy;
}
