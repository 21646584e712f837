#include "cli/json.h"

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

}  // namespace

std::string JsonString(const std::string& text) {
  const std::string valid = SanitizeUtf8(text);
  std::string out = "\"";
  for (std::size_t i = 0; i < valid.size(); ++i) {
    const char c = valid[i];
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += "\\u00";
          AppendHexByte(&out, byte);
        } else if (byte == 0xC2 && i + 1 < valid.size() &&
                   static_cast<unsigned char>(valid[i + 1]) <= 0x9F) {
          // U+0080 to U+009F, C1 controls: C2 80 to C2 9F.
          out += "\\u00";
          AppendHexByte(&out, static_cast<unsigned char>(valid[++i]));
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
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
  std::string member = JsonString(key) + ":" + JsonString(PathForDisplay(path));
  if (!IsValidUnicode(path))
    member += "," + JsonString(key + "_bytes") + ":\"" + PathHex(path) + "\"";
  return member;
}

std::string JsonDecimal(double value) {
  return Decimal(value);
}

void WriteMessage(bool json, const char* type, const std::string& message) {
  if (json) {
    WriteErr("{\"type\":" + JsonString(type) + ",\"message\":" + JsonString(message) + "}\n");
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
