// A playlist's lines and what each holds: M3U directives and entries, PLS
// keys, cue sheet commands.
#include "engine/names/playlist-lines.h"

#include <algorithm>

#include "engine/platform/path.h"
#include "engine/platform/text.h"

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool StartsWithNoCase(const std::string& text, std::size_t at, const char* prefix) {
  for (std::size_t i = 0; prefix[i]; ++i) {
    if (at + i >= text.size() || Lower(text[at + i]) != Lower(prefix[i]))
      return false;
  }
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::size_t SkipBlanks(const std::string& line, std::size_t at) {
  while (at < line.size() && IsBlank(line[at]))
    ++at;
  return at;
}

// `parts` with its run from `start` to `end`, blanks around it left out.
LineParts Run(LineRole role, const std::string& line, std::size_t start, std::size_t end,
              std::string field) {
  start = std::min(SkipBlanks(line, start), end);
  while (end > start && IsBlank(line[end - 1]))
    --end;
  LineParts parts;
  parts.role = role;
  parts.start = start;
  parts.length = end - start;
  parts.field = std::move(field);
  return parts;
}

LineParts M3uParts(const std::string& line) {
  const std::size_t at = SkipBlanks(line, 0);
  if (at == line.size())
    return LineParts();
  if (line[at] != '#')
    return Run(LineRole::kEntry, line, at, line.size(), "entry");
  if (StartsWithNoCase(line, at, "#EXTINF:")) {
    // "#EXTINF:215 key="value",Title": the title follows the first comma
    // outside quotes.
    bool quoted = false;
    for (std::size_t i = at + 8; i < line.size(); ++i) {
      if (line[i] == '"')
        quoted = !quoted;
      else if (line[i] == ',' && !quoted)
        return Run(LineRole::kTitle, line, i + 1, line.size(), "#EXTINF");
    }
    return LineParts();
  }
  // "#EXTALB:Album", "#PLAYLIST:Name" and comments: text after the colon or
  // the '#'.
  const std::size_t colon = line.find(':', at);
  if (StartsWithNoCase(line, at, "#EXT") || StartsWithNoCase(line, at, "#PLAYLIST")) {
    if (colon != std::string::npos)
      return Run(LineRole::kText, line, colon + 1, line.size(), line.substr(at, colon - at));
    return LineParts();
  }
  return Run(LineRole::kText, line, at + 1, line.size(), "#");
}

LineParts PlsParts(const std::string& line) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos)
    return LineParts();
  std::string key = line.substr(0, equals);
  while (!key.empty() && IsBlank(key.back()))
    key.pop_back();
  const std::size_t at = SkipBlanks(key, 0);
  LineRole role = LineRole::kText;
  if (StartsWithNoCase(key, at, "file"))
    role = LineRole::kEntry;
  else if (StartsWithNoCase(key, at, "title"))
    role = LineRole::kTitle;
  LineParts parts = Run(role, line, equals + 1, line.size(), key.substr(at));
  return parts;
}

// The text a cue command gives: between its first quote and its last, else
// the rest of the line; a FILE's name stops before its type.
LineParts CueValue(LineRole role, const std::string& line, std::size_t from, std::string command,
                   bool typeFollows) {
  const std::size_t open = line.find('"', from);
  if (open != std::string::npos) {
    // A file's name ends at the next quote; a title may hold quotes that its
    // writer did not escape.
    const std::size_t close = role == LineRole::kEntry ? line.find('"', open + 1) : line.rfind('"');
    const std::size_t end = close != std::string::npos && close > open ? close : line.size();
    LineParts parts;
    parts.role = role;
    parts.start = open + 1;
    parts.length = end - open - 1;
    parts.field = std::move(command);
    return parts;
  }
  std::size_t end = line.size();
  if (typeFollows) {
    while (end > from && IsBlank(line[end - 1]))
      --end;
    const std::size_t type = line.find_last_of(" \t", end);
    if (type != std::string::npos && type > SkipBlanks(line, from))
      end = type;
  }
  return Run(role, line, from, end, std::move(command));
}

LineParts CueParts(const std::string& line, LineContext* context) {
  const std::size_t at = SkipBlanks(line, 0);
  std::size_t end = at;
  while (end < line.size() && !IsBlank(line[end]))
    ++end;
  std::string upper;
  for (std::size_t i = at; i < end; ++i)
    upper.push_back(line[i] >= 'a' && line[i] <= 'z' ? char(line[i] - 'a' + 'A') : line[i]);
  if (upper == "TRACK")
    context->inTrack = true;
  if (upper == "FILE" || upper == "CDTEXTFILE")
    return CueValue(LineRole::kEntry, line, end, upper, upper == "FILE");
  if (upper == "TITLE")
    return CueValue(context->inTrack ? LineRole::kTitle : LineRole::kText, line, end, upper,
                    false);
  if (upper == "PERFORMER" || upper == "SONGWRITER")
    return CueValue(LineRole::kText, line, end, upper, false);
  if (upper == "REM")
    return Run(LineRole::kText, line, end, line.size(), upper);
  return LineParts();
}

}  // namespace

bool HasHighByte(const std::string& bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return true;
  }
  return false;
}

bool IsWholeUtf8(const std::string& bytes) {
  return IsValidUtf8(bytes);
}

std::vector<PlaylistLine> SplitPlaylistLines(const std::string& content) {
  std::vector<PlaylistLine> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find_first_of("\r\n", start);
    PlaylistLine line;
    if (end == std::string::npos) {
      line.text = content.substr(start);
      lines.push_back(std::move(line));
      break;
    }
    line.text = content.substr(start, end - start);
    const std::size_t breakLength =
        content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n' ? 2 : 1;
    line.ending = content.substr(end, breakLength);
    lines.push_back(std::move(line));
    start = end + breakLength;
  }
  return lines;
}

LineParts PartsOfLine(PlaylistKind kind, const std::string& line, LineContext* context) {
  LineParts parts;
  if (kind == PlaylistKind::kM3u || kind == PlaylistKind::kM3u8)
    parts = M3uParts(line);
  else if (kind == PlaylistKind::kPls)
    parts = PlsParts(line);
  else if (kind == PlaylistKind::kCue)
    parts = CueParts(line, context);
  // Code-page bytes outside the run (in a key, an attribute, an unknown
  // command) must be read too: the whole line is then one text.
  const std::string outside =
      line.substr(0, parts.start) + line.substr(parts.start + parts.length);
  if (parts.role == LineRole::kOther ? HasHighByte(line) : HasHighByte(outside)) {
    const LineRole role = parts.role == LineRole::kTitle ? LineRole::kTitle : LineRole::kText;
    parts = Run(role, line, 0, line.size(), parts.field.empty() ? "line" : parts.field);
  }
  return parts;
}

PlaylistKind PlaylistKindOfPath(const PathString& path) {
  const std::size_t name = NameStartOf(path);
  const std::size_t dot = path.rfind(PathChar('.'));
  if (dot == PathString::npos || dot < name)
    return PlaylistKind::kNone;
  std::string extension;
  for (std::size_t i = dot + 1; i < path.size(); ++i) {
    const PathChar c = path[i];
    if ((c & ~PathChar(0x7F)) != 0)
      return PlaylistKind::kNone;
    extension.push_back(Lower(char(c)));
  }
  if (extension == "m3u")
    return PlaylistKind::kM3u;
  if (extension == "m3u8")
    return PlaylistKind::kM3u8;
  if (extension == "pls")
    return PlaylistKind::kPls;
  if (extension == "cue")
    return PlaylistKind::kCue;
  return PlaylistKind::kNone;
}
