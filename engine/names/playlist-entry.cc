// A playlist entry's path: taken apart in the form it is written in
// (relative, absolute, file:// URL), followed through the run's renames step
// by step, and put back together in the same form.
#include <optional>

#include "engine/text/album-utf8.h"
#include "engine/text/album.h"
#include "engine/text/codepage.h"
#include "engine/platform/disk.h"
#include "engine/platform/path.h"
#include "engine/names/playlist-entry.h"
#include "engine/names/playlist-lines.h"
#include "engine/platform/text.h"

namespace {

// One step of an entry's path: as written, its bytes (a URL's decoded), and
// the separator written after it.
struct Step {
  std::string written;
  std::string bytes;
  std::string separator;
};

struct EntryForm {
  bool url = false;
  std::string head;   // "file://", a root: written as it is
  PathString base;    // where the steps start, from the root
  std::vector<Step> steps;
  // How the URL writes what it encodes.
  bool lowerHex = false;
  bool rawSpaces = false;
  bool rawHighBytes = false;
};

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = Lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string PercentDecoded(const std::string& text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      bytes.push_back(char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return bytes;
}

std::string PercentEncoded(const std::string& bytes, const EntryForm& form, bool utf8Out) {
  // Raw bytes at or above 0x80 stay raw only where the playlist can hold them.
  const bool rawHigh = form.rawHighBytes && (!utf8Out || IsWholeUtf8(bytes));
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  const char* hex = form.lowerHex ? kLower : kUpper;
  std::string text;
  for (char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    const bool plain = IsLetter(c) || (c >= '0' && c <= '9') ||
                       std::string("-._~!$&'()*+,;=:@").find(c) != std::string::npos;
    if (plain || (c == ' ' && form.rawSpaces) || (b >= 0x80 && rawHigh)) {
      text.push_back(c);
    } else {
      text.push_back('%');
      text.push_back(hex[b >> 4]);
      text.push_back(hex[b & 15]);
    }
  }
  return text;
}

// A scheme other than file: ("http://...") names nothing on this disk.
bool HasOtherScheme(const std::string& entry) {
  std::size_t i = 0;
  while (i < entry.size() && (IsLetter(entry[i]) || (i > 0 && std::string("+-.").find(entry[i]) !=
                                                                  std::string::npos)))
    ++i;
  return i > 1 && i < entry.size() && entry[i] == ':';
}

bool IsDoubleByteLead(unsigned page, unsigned char b) {
  if (page == 932)
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
  return (page == 936 || page == 949 || page == 950) && b >= 0x81 && b <= 0xFE;
}

// Where the path part of a URL starts, after "file://" and an empty or
// "localhost" host; npos when the URL names another host.
std::size_t UrlPathStart(const std::string& entry) {
  std::size_t at = 5;  // "file:"
  if (entry.compare(at, 2, "//") == 0) {
    at += 2;
    std::string host;
    while (at < entry.size() && entry[at] != '/')
      host.push_back(Lower(entry[at++]));
    if (!host.empty() && host != "localhost")
      return std::string::npos;
  }
  if (at >= entry.size() || entry[at] != '/')
    return std::string::npos;
  // "file:///C:/Music": the drive follows the slash.
  if (at + 2 < entry.size() && IsLetter(entry[at + 1]) && entry[at + 2] == ':')
    ++at;
  return at;
}

// The length of the root an entry's path starts with, or npos for one that
// cannot be followed here.
std::size_t RootLength(const std::string& path) {
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // "\\server\share\"
    std::size_t at = 2;
    for (int part = 0; part < 2; ++part) {
      while (at < path.size() && !IsSeparator(path[at]))
        ++at;
      if (at < path.size())
        ++at;
    }
    return at;
  }
  if (!path.empty() && IsSeparator(path[0]))
    return 1;
  if (path.size() >= 2 && IsLetter(path[0]) && path[1] == ':')
    return path.size() > 2 && IsSeparator(path[2]) ? 3 : std::string::npos;
  return 0;
}

bool ParseEntry(const std::string& entry, const EntryContext& context, EntryForm* form) {
  std::size_t at = 0;
  if (entry.size() >= 5 && Lower(entry[0]) == 'f' && Lower(entry[1]) == 'i' &&
      Lower(entry[2]) == 'l' && Lower(entry[3]) == 'e' && entry[4] == ':') {
    at = UrlPathStart(entry);
    if (at == std::string::npos)
      return false;
    form->url = true;
  } else if (HasOtherScheme(entry)) {
    return false;
  }
  const std::string path = entry.substr(at);
  const std::size_t root = RootLength(path);
  if (root == std::string::npos || (form->url && root == 0))
    return false;
  form->head = entry.substr(0, at + root);
  if (root == 0) {
    form->base = context.folder;
  } else {
    std::string rootBytes = path.substr(0, root);
    for (char& c : rootBytes)
      c = IsSeparator(c) ? '/' : c;
    const PathString native = EntryPathNative(rootBytes, context.legacyIn && !form->url);
    if (!IsAbsolutePath(native))
      return false;
    form->base = AbsolutePathFrom(PathString(), native);
  }
  for (std::size_t i = 0; i < entry.size(); ++i) {
    if (entry[i] == '%' && i + 2 < entry.size() && HexValue(entry[i + 1]) >= 0 &&
        HexValue(entry[i + 2]) >= 0) {
      for (std::size_t k = i + 1; k <= i + 2; ++k)
        form->lowerHex = form->lowerHex || (entry[k] >= 'a' && entry[k] <= 'f');
    }
    form->rawSpaces = form->rawSpaces || entry[i] == ' ';
    form->rawHighBytes = form->rawHighBytes || static_cast<unsigned char>(entry[i]) >= 0x80;
  }
  const bool pairs = context.legacyIn && !form->url;
  Step step;
  for (std::size_t i = root; i < path.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(path[i]);
    if (pairs && IsDoubleByteLead(context.readingPage, b) && i + 1 < path.size()) {
      step.written.append(path, i, 2);
      ++i;
    } else if (IsSeparator(path[i])) {
      step.separator = path.substr(i, 1);
      form->steps.push_back(std::move(step));
      step = Step();
    } else {
      step.written.push_back(path[i]);
    }
  }
  form->steps.push_back(std::move(step));
  for (Step& s : form->steps)
    s.bytes = form->url ? PercentDecoded(s.written) : s.written;
  return true;
}

bool PathExists(const PathString& path) {
  if (NativeFile* file = OpenExistingFile(path, false)) {
    CloseNativeFile(file);
    return true;
  }
  FolderIdentity identity;
  if (DirectoryListing* listing = OpenDirectoryListing(path, &identity)) {
    CloseDirectoryListing(listing);
    return true;
  }
  return false;
}

bool IsName(const std::string& bytes) {
  return !bytes.empty() && bytes != "." && bytes != "..";
}

// Follows the steps from the base; the new name of each renamed step, and
// the path the entry names (from the root, ".." taken off).
PathString FollowSteps(const EntryForm& form, const EntryContext& context,
                       std::vector<std::optional<PathString>>* newNames) {
  PathString at = form.base;
  newNames->assign(form.steps.size(), std::nullopt);
  for (std::size_t i = 0; i < form.steps.size(); ++i) {
    const std::string& bytes = form.steps[i].bytes;
    if (bytes == "..")
      at = FolderOf(at);
    if (!IsName(bytes))
      continue;
    at = JoinPath(at, EntryPathNative(bytes, context.legacyIn && !form.url));
    auto found = context.renames ? context.renames->paths.find(at)
                                 : std::map<PathString, PathString>::const_iterator();
    if (context.renames && found != context.renames->paths.end())
      (*newNames)[i] = found->second.substr(NameStartOf(found->second));
  }
  return at;
}

// The entry written again step by step: renamed steps with their new names,
// the others naming what they name in the new encoding, or with their own
// bytes where it cannot hold their names (`kept` set). False, with `why`,
// when a renamed step's new name cannot be written.
bool BuildEntry(const EntryForm& form, const EntryContext& context,
                const std::vector<std::optional<PathString>>& newNames, std::string* out,
                std::wstring* why, bool* kept) {
  *out = form.head;
  for (std::size_t i = 0; i < form.steps.size(); ++i) {
    const Step& step = form.steps[i];
    std::string bytes = step.bytes;
    const PathString name =
        newNames[i] ? *newNames[i] : EntryPathNative(step.bytes, context.legacyIn && !form.url);
    const EntryEncoding encoding = form.url             ? EntryEncoding::kUrl
                                   : context.utf8Out ? EntryEncoding::kUtf8
                                                     : EntryEncoding::kCodePage;
    if ((newNames[i] || HasHighByte(step.bytes)) && !EntryPathBytes(name, encoding, &bytes)) {
      if (newNames[i] || encoding == EntryEncoding::kCodePage) {
        *why = L"it names \"" + DecodeUtf8(PathForDisplay(name)) +
               L"\", whose name the playlist's new encoding cannot hold";
        return false;
      }
      // A name that stays as it is stays as its bytes.
      *out += step.written + step.separator;
      *kept = true;
      continue;
    }
    if (form.url)
      *out += bytes == step.bytes ? step.written : PercentEncoded(bytes, form, context.utf8Out);
    else
      *out += bytes;
    *out += step.separator;
  }
  return true;
}

// The path `after` (with new names the run's renames give) has now, before
// they are done: each step that a rename gives is taken back to its old name.
PathString PathBeforeRenames(const PlaylistRenames& renames, const PathString& after) {
  std::map<PathString, PathString> back;
  for (const auto& [from, to] : renames.paths)
    back[to] = from;
  const std::size_t root = RootLengthOf(after);
  PathString before = after.substr(0, root);
  for (std::size_t at = root; at <= after.size();) {
    std::size_t end = at;
    while (end < after.size() && !IsPathSeparator(after[end]))
      ++end;
    if (end > at) {
      before = JoinPath(before, after.substr(at, end - at));
      const auto found = back.find(before);
      if (found != back.end())
        before = found->second;
    }
    at = end + 1;
  }
  return before;
}

// A file:// URL of a code-page playlist percent-encodes the page's bytes,
// which name nothing once names are UTF-8: when the steps read through the
// playlist's page name a file (now, or once the run's renames are done), the
// URL is written again with their UTF-8 bytes. False when they do not.
bool UrlThroughPage(EntryForm* form, const EntryContext& context) {
  const unsigned page = context.readingPage;
  if (!form->url || !context.legacyIn || page == 0 || !CanDecodeCodePage(page) ||
      IsDoubleByteLead(page, 0x81))
    return false;
  PathString at = form->base;
  bool changed = false;
  std::vector<std::string> read(form->steps.size());
  for (std::size_t i = 0; i < form->steps.size(); ++i) {
    const std::string& bytes = form->steps[i].bytes;
    read[i] = IsWholeUtf8(bytes) ? bytes : WideToUtf8(DecodeCodePage(page, bytes));
    changed = changed || read[i] != bytes;
    if (bytes == "..")
      at = FolderOf(at);
    else if (IsName(bytes))
      at = JoinPath(at, EntryPathNative(read[i], false));
  }
  if (!changed || !(PathExists(at) ||
                    (context.renames && PathExists(PathBeforeRenames(*context.renames, at)))))
    return false;
  for (std::size_t i = 0; i < form->steps.size(); ++i) {
    Step& step = form->steps[i];
    if (read[i] != step.bytes)
      step.written = PercentEncoded(read[i], *form, true);
    step.bytes = read[i];
  }
  return true;
}

}  // namespace

void AddPlaylistRename(PlaylistRenames* renames, const PathString& from, const PathString& to) {
  const PathString current =
      IsAbsolutePath(from) && IsAbsolutePath(to) ? PathString() : CurrentFolder();
  renames->paths[AbsolutePathFrom(current, from)] = AbsolutePathFrom(current, to);
}

bool RenamedPath(const PlaylistRenames& renames, const PathString& path, PathString* renamed) {
  const std::size_t root = RootLengthOf(path);
  PathString from = path.substr(0, root), to = from;
  bool any = false;
  for (std::size_t at = root; at <= path.size();) {
    std::size_t end = at;
    while (end < path.size() && !IsPathSeparator(path[end]))
      ++end;
    if (end > at) {
      const PathString step = path.substr(at, end - at);
      from = JoinPath(from, step);
      const auto found = renames.paths.find(from);
      any = any || found != renames.paths.end();
      to = found != renames.paths.end() ? found->second : JoinPath(to, step);
    }
    at = end + 1;
  }
  if (any)
    *renamed = to;
  return any;
}

EntryResult RewriteEntry(const std::string& entry, const std::string& converted,
                         const EntryContext& context, std::string* out, std::wstring* why,
                         bool* renamedAny) {
  EntryForm form;
  if (!ParseEntry(entry, context, &form)) {
    *out = converted;
    return converted == entry ? EntryResult::kSame : EntryResult::kChanged;
  }
  std::vector<std::optional<PathString>> newNames;
  const PathString named = FollowSteps(form, context, &newNames);
  bool renamed = false;
  for (const auto& name : newNames)
    renamed = renamed || name.has_value();
  *renamedAny = *renamedAny || renamed;
  if (!renamed && form.url && !PathExists(named) && UrlThroughPage(&form, context)) {
    *out = form.head;
    for (const Step& step : form.steps)
      *out += step.written + step.separator;
    return *out == entry ? EntryResult::kSame : EntryResult::kChanged;
  }
  if (!renamed && converted == entry) {
    *out = entry;
    return EntryResult::kSame;
  }
  // Text that names nothing reads as the rest of the playlist does.
  if (!renamed && !PathExists(named)) {
    *out = converted;
    return EntryResult::kChanged;
  }
  bool kept = false;
  if (!BuildEntry(form, context, newNames, out, why, &kept))
    return EntryResult::kBroken;
  if (kept)
    return EntryResult::kKept;
  return *out == entry ? EntryResult::kSame : EntryResult::kChanged;
}
