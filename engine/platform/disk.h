// Files and folder listings, behind one seam.
//
// Every operation that reads or changes a file or a folder goes through the
// DiskInterface in use: the platform's own (disk-posix.cc, disk-win32.cc),
// unless a test has put another in its place. That is what lets a test count
// the operations of a run, fail any one of them, or stop the run at the one
// chosen by count as a crash or a power loss there would, and check that the
// next run finishes or undoes what was cut short. The free functions below
// are the engine's way in; disk.cc routes them to the interface in use.
//
// Calling sequence: UseDiskInterface (a test's disk, or none for the
// platform's) while no run is going on; then any of the free functions,
// from any thread.
//
// Invariant:
//   S1. Every operation of the engine on a file, a folder or a lock, and
//       every question asked of one, goes through the disk in use: no
//       function below reaches the system past it.
// The platform's own disk (PlatformDisk) never calls back into the disk in
// use, so a test's disk may hand any operation on to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/platform/platform.h"

// --- Folder listings ---------------------------------------------------------

struct DirectoryEntry {
  PathString name;
  bool isDirectory = false;  // symbolic links to folders count as folders
};

struct DirectoryListing;

// What makes a folder the same folder whatever path reaches it. Windows
// leaves it unknown (its path limit ends a junction loop instead).
struct FolderIdentity {
  bool known = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// --- The seam ----------------------------------------------------------------
// What a crash-safe save needs: positioned reads and writes, flushing to
// stable storage, kernel-side copies, the copy's owner and permissions and an
// atomic replace; what the scan and the run journal need: folder listings,
// creation and renames; and the locks that keep two runs apart. Each free
// function below is one of these, so a disk put in use sees them all.

struct NativeFile;

// A lock held on a path for a run (engine/commit/run-lock.h): on POSIX on the file
// or folder itself, on Windows on a lock file of its own.
struct PathLock;
enum class PathLockResult { kLocked, kBusy, kUnavailable };

struct DiskInterface {
  virtual ~DiskInterface() = default;
  virtual NativeFile* OpenExisting(const PathString& path, bool forWriting) = 0;
  virtual NativeFile* CreateNew(const PathString& path) = 0;
  virtual void Close(NativeFile* file) = 0;
  virtual bool Read(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count) = 0;
  virtual bool Write(NativeFile* file, std::uint64_t offset, const void* data,
                     std::size_t count) = 0;
  virtual bool CopyRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                         std::uint64_t toOffset, std::uint64_t count) = 0;
  virtual bool Truncate(NativeFile* file, std::uint64_t size) = 0;
  virtual bool Flush(NativeFile* file) = 0;
  virtual bool Replace(const PathString& target, const PathString& replacement) = 0;
  virtual bool Remove(const PathString& path) = 0;
  virtual void FlushFolder(const PathString& folder) = 0;
  // The scan's folder listing, so that a test can also hold a scan at an
  // entry chosen by count.
  virtual DirectoryListing* OpenListing(const PathString& folder, FolderIdentity* identity) = 0;
  virtual bool NextEntry(DirectoryListing* listing, DirectoryEntry* entry) = 0;
  virtual void CloseListing(DirectoryListing* listing) = 0;
  virtual bool InsertRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) = 0;
  virtual bool CollapseRange(NativeFile* file, std::uint64_t offset, std::uint64_t count) = 0;
  virtual bool FlushFileSystem(NativeFile* file) = 0;
  virtual bool Rename(const PathString& target, const PathString& replacement) = 0;
  virtual bool CreateFolder(const PathString& folder) = 0;
  virtual bool RenameNoReplace(const PathString& from, const PathString& to) = 0;
  virtual bool Identify(const PathString& path, std::uint64_t* device, std::uint64_t* index) = 0;
  // False when the file system holding `file` is known to have no way of
  // opening room in a file (InsertRange would only fail there); a save then
  // takes another way without opening the file for writing to ask.
  virtual bool MayInsertRange(NativeFile*) { return true; }
  // Questions about an open file; they change nothing.
  virtual bool FileSize(NativeFile* file, std::uint64_t* size) = 0;
  virtual bool IdentifyOpen(NativeFile* file, std::uint64_t* device, std::uint64_t* index) = 0;
  virtual bool SeveralLinks(NativeFile* file) = 0;
  // Changes the copy: its owner, permissions and access lists.
  virtual bool CopySecurity(NativeFile* original, NativeFile* copy) = 0;
  // Locks: of an open file, and of a path for a run.
  virtual bool TryLock(NativeFile* file) = 0;
  virtual PathLockResult LockPath(const PathString& path, bool exclusive, PathLock** lock) = 0;
  virtual void UnlockPath(PathLock* lock) = 0;
  // Paths the platform resolves.
  virtual PathString ResolveLinks(const PathString& path) = 0;
  virtual std::wstring NotAFile(const PathString& path) = 0;
  virtual PathString WorkingFolder() = 0;
};

// The platform's own file operations.
DiskInterface& PlatformDisk();
// Puts `disk` in use for every file operation from now on; null puts the
// platform's own back. Set it only while no run is going on.
void UseDiskInterface(DiskInterface* disk);

// --- Files, through the seam -------------------------------------------------

// Opens an existing file for reading, or for reading and writing; null on
// failure. Only regular files open.
NativeFile* OpenExistingFile(const PathString& path, bool forWriting);
// Creates a new file that must not exist yet, readable only by its owner.
NativeFile* CreateNewFile(const PathString& path);
void CloseNativeFile(NativeFile* file);

// Exactly `count` bytes, or false.
bool ReadFileAt(NativeFile* file, std::uint64_t offset, void* buffer, std::size_t count);
bool WriteFileAt(NativeFile* file, std::uint64_t offset, const void* data, std::size_t count);
// Copies `count` bytes between two files, in the kernel where it can.
bool CopyFileRange(NativeFile* from, std::uint64_t fromOffset, NativeFile* to,
                   std::uint64_t toOffset, std::uint64_t count);
bool TruncateNativeFile(NativeFile* file, std::uint64_t size);
// Writes everything to stable storage before returning.
bool FlushNativeFile(NativeFile* file);
// Atomically puts `replacement` in the place of `target` and makes the
// change durable; on failure `target` is untouched.
bool ReplaceFileAtomically(const PathString& target, const PathString& replacement);
bool RemoveFileIfPresent(const PathString& path);
// Makes a file's creation or removal in `folder` durable.
void FlushFolder(const PathString& folder);

// Opens `count` bytes (whole blocks of the file system) at `offset`, moving
// what follows without copying it; false where the file system cannot, and
// then the file is unchanged.
bool InsertFileRange(NativeFile* file, std::uint64_t offset, std::uint64_t count);
// Takes out `count` bytes at `offset` the same way.
bool CollapseFileRange(NativeFile* file, std::uint64_t offset, std::uint64_t count);
// False when InsertFileRange cannot work on the file system of `file`.
bool MayInsertFileRange(NativeFile* file);
// Makes every write, creation and rename on the file system that holds
// `file` durable at once; false where the platform cannot (then each file
// is flushed by itself).
bool FlushFileSystemOf(NativeFile* file);
// Atomically puts `replacement` in the place of `target`, which need not
// exist; not yet durable: a flush of the folder or of the file system makes
// it so.
bool RenameOver(const PathString& target, const PathString& replacement);
// Gives the file or folder `from` the name `to`, which must not exist: an
// entry already there is never replaced (false, both left as they are). Not
// yet durable: a flush of both folders makes it so. Where the file system
// cannot refuse atomically, a file is linked under the new name and then
// unlinked under the old; a folder is then not renamed at all.
bool RenameWithoutReplacing(const PathString& from, const PathString& to);

// --- Why an operation failed ---------------------------------------------------

// The system's reason for the last failed open, creation, write, copy,
// truncation, flush or rename through the seam on this thread, in words
// ("permission denied", "no space left on the device", ...); empty when none
// was noted since ClearDiskFailure. A failure that gives no reason keeps
// the one before.
std::wstring LastDiskFailure();
void ClearDiskFailure();
// Puts the step that failed before the reason noted last, "WHAT: permission
// denied" (WHAT alone when none was noted), so that the reason names what
// failed: the copy beside a file rather than the file.
void NoteFailedStep(const std::wstring& what);
// The platform's side (disk-posix.cc, disk-win32.cc): forgets the system's
// error code, and gives its reason in words; empty when it holds none.
void ResetSystemError();
std::wstring SystemErrorReason();

// --- Folders, through the seam -----------------------------------------------

// Opens `folder` for listing and tells which folder it is; null when it
// cannot be listed (missing, not a folder, no permission).
DirectoryListing* OpenDirectoryListing(const PathString& folder, FolderIdentity* identity);
// The next entry, in the order the system returns them; false at the end or
// on any error. "." and ".." are not given: they are not the folder's own.
bool NextDirectoryEntry(DirectoryListing* listing, DirectoryEntry* entry);
void CloseDirectoryListing(DirectoryListing* listing);
// True when `path` is in its folder's listing (by its name exactly, as
// stored); false also when the folder cannot be listed.
bool EntryExists(const PathString& path);

// Creates `folder` (its parent must exist); true when it is a folder now,
// whether created here or there before.
bool CreateFolder(const PathString& folder);
// Creates `folder` and every missing folder above it.
bool CreateFolders(const PathString& folder);

// TagLib reads in many small steps near the start and the end of a file; one
// block kept around the last small read spares most of them a read of the
// disk. Reads of more than half a block go to the disk as they are.
struct BlockCache {
  std::string bytes;
  std::uint64_t offset = 0;
};
// Exactly `count` bytes at `offset` of `file`, whose size is `fileSize`,
// through `cache`; false when they cannot be read.
bool ReadThroughCache(NativeFile* file, std::uint64_t fileSize, BlockCache* cache,
                      std::uint64_t offset, std::size_t count, char* out);

// --- Questions about an open file; they change nothing -----------------------

bool FileSizeOf(NativeFile* file, std::uint64_t* size);
// What makes a file the same file whatever its name: device and inode, or
// volume and file index.
bool IdentifyFile(NativeFile* file, std::uint64_t* device, std::uint64_t* index);
// True when the file has more names than one (hard links), which a replace
// by rename would split apart.
bool HasSeveralLinks(NativeFile* file);
// Takes a lock on the open file that other processes' attempts fail on
// until this handle is closed (or its process ends); reads and writes of
// the file are not blocked by it. False when another holds it.
bool TryLockFile(NativeFile* file);
// The identity (as IdentifyFile tells it) of the file that `path` names now,
// links followed, asked without opening it where the platform can; false
// when nothing is there.
bool IdentifyPath(const PathString& path, std::uint64_t* device, std::uint64_t* index);
// Gives `copy` the owner, permissions and access lists of `original`; false
// when that is not possible (then the copy must not replace the original).
bool CopyFileSecurity(NativeFile* original, NativeFile* copy);

// Takes a lock on the file or folder `path` names (shared or exclusive)
// without waiting, one that ends with the process however it ends; `lock` is
// set only with kLocked.
PathLockResult TakePathLock(const PathString& path, bool exclusive, PathLock** lock);
void ReleasePathLock(PathLock* lock);

// --- Paths the platform resolves ---------------------------------------------

// The file a path names after following symbolic links, so that a save
// repairs the target and leaves the link a link.
PathString ResolveFileLinks(const PathString& path);
// What an entry that is there but is no file to read is, in words ("a named
// pipe, not a file", "a symbolic link to nothing"); empty for a file, a
// folder, a device or nothing at all. Asked where the scan and the command line meet
// such an entry, so that both report it alike.
std::wstring NotAFileReason(const PathString& path);
// The process's current folder, from the root; empty when it cannot be
// told (removed, or too long).
PathString CurrentFolder();
