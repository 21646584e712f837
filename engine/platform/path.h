// Native paths taken apart and put together as text; nothing here touches
// the disk. A separator is '/' everywhere and also '\' on Windows.
#pragma once

#include <cstddef>

#include "engine/platform/platform.h"

// True for a character that separates the steps of a path here.
inline bool IsPathSeparator(PathChar c) {
  return c == PathChar('/') || c == kPathSeparator;
}

// How much of `path` is its root: "/" on POSIX; "C:\", "C:", "\" or
// "\\server\share\" on Windows; 0 for a relative path.
std::size_t RootLengthOf(const PathString& path);

// True when `path` names the same place whatever the current folder.
bool IsAbsolutePath(const PathString& path);

// Where the last step of `path` (its name) starts: after the last separator
// or the root, 0 when it has neither.
std::size_t NameStartOf(const PathString& path);

// The folder that holds `path`: everything before its name, without a
// trailing separator ("Music/A/1.mp3" gives "Music/A"). A root keeps its
// separator ("/a.mp3" gives "/", "C:\a.mp3" "C:\"); a path without a folder
// gives ".".
PathString FolderOf(const PathString& path);

// `name` inside `folder`, with one separator between them; `name` alone when
// `folder` is empty.
PathString JoinPath(const PathString& folder, const PathString& name);

// `path` from the root: joined to `currentFolder` when relative (on Windows
// a path rooted without a drive takes the current folder's drive), with
// every separator made the platform's own and without "." or empty steps.
// ".." steps stay, as a link may lead elsewhere than its parent.
PathString AbsolutePathFrom(const PathString& currentFolder, const PathString& path);
