// The folder listing on POSIX: opendir/readdir, with a stat only where the
// directory stream does not tell an entry's type.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <cstring>

#include "engine/platform/disk-posix.h"

struct DirectoryListing {
  DIR* dir;
  PathString folder;
};

DirectoryListing* PosixDisk::OpenListing(const PathString& folder, FolderIdentity* identity) {
  DIR* dir = opendir(folder.c_str());
  if (!dir)
    return nullptr;
  struct stat info;
  if (fstat(dirfd(dir), &info) == 0) {
    identity->known = true;
    identity->device = static_cast<std::uint64_t>(info.st_dev);
    identity->inode = static_cast<std::uint64_t>(info.st_ino);
  } else {
    identity->known = false;
  }
  return new DirectoryListing{dir, folder};
}

bool PosixDisk::NextEntry(DirectoryListing* listing, DirectoryEntry* entry) {
  errno = 0;
  const dirent* found = readdir(listing->dir);
  // "." and ".." are not entries of the folder (and would cost a stat each
  // where the type is not told, as through FUSE).
  while (found && (std::strcmp(found->d_name, ".") == 0 || std::strcmp(found->d_name, "..") == 0))
    found = readdir(listing->dir);
  if (!found)
    return false;
  entry->name.assign(found->d_name);
  switch (found->d_type) {
    case DT_DIR:
      entry->isDirectory = true;
      break;
    case DT_LNK:
    case DT_UNKNOWN: {
      // Links are followed, as Windows enters junctions.
      PathString path = listing->folder;
      path.append(1, kPathSeparator).append(entry->name);
      struct stat info;
      entry->isDirectory = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
      break;
    }
    default:
      entry->isDirectory = false;
  }
  return true;
}

void PosixDisk::CloseListing(DirectoryListing* listing) {
  closedir(listing->dir);
  delete listing;
}
