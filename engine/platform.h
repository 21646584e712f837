// The small layer that differs per platform: directory listing, code-page
// decoding, posting a notification to the user-interface thread and starting
// a thread. platform-posix.cc and platform-win32.cc implement it; the rest of
// the engine is the same source everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

// Paths stay in the platform's native form from the directory listing to
// TagLib's open call: wide on Windows, bytes on POSIX.
#ifdef _WIN32
using PathChar = wchar_t;
#define PATH_TEXT(s) L##s
#else
using PathChar = char;
#define PATH_TEXT(s) s
#endif
using PathString = std::basic_string<PathChar>;

// The separator the scan puts between a folder path and an entry name.
#ifdef _WIN32
constexpr PathChar kPathSeparator = L'\\';
#else
constexpr PathChar kPathSeparator = '/';
#endif

// Where worker threads send their notifications: a window on Windows, an
// in-process FIFO that stands in for one elsewhere.
#ifdef _WIN32
using NotifyTarget = HWND;
using ThreadResult = DWORD;
#define THREAD_CALL WINAPI
#else
struct NotificationQueue;
using NotifyTarget = NotificationQueue*;
using ThreadResult = std::uint32_t;
#define THREAD_CALL
#endif

using ThreadProc = ThreadResult(THREAD_CALL*)(void* job);

// One posted notification as the receiver sees it.
struct Notification {
  unsigned message = 0;
  std::intptr_t payload = 0;
};

// --- Notifications -----------------------------------------------------------

// Queues `message` for the target's thread; notifications from one thread
// arrive in the order posted. Returns false when the target is gone, in which
// case the payload still belongs to the caller.
bool PostNotification(NotifyTarget target, unsigned message, std::intptr_t payload);

// A receiver for front ends that have no window of their own (the command
// line and tests): created and drained on one thread.
NotifyTarget CreateNotifyTarget();
void DestroyNotifyTarget(NotifyTarget target);

// Delivers every notification posted to `target`, in order, to `handle`
// until it returns false. Runs on the thread that created the target.
using NotificationHandler = bool (*)(void* context, const Notification& notification);
void RunNotificationLoop(NotifyTarget target, NotificationHandler handle, void* context);

// --- Threads -----------------------------------------------------------------

struct WorkerThread;

// Starts `proc(job)` at once on a new thread with the default stack. Returns
// null if no thread could be started (the job then still belongs to the
// caller).
WorkerThread* StartWorkerThread(ThreadProc proc, void* job);

// Waits until the thread has returned and releases the handle.
void JoinWorkerThread(WorkerThread* thread);

// The processors this process may run on; at least 1.
unsigned ProcessorCount();

// A lock with one condition on it, for threads that hand work to each other.
// `WaitGate` is called with the lock held; it releases the lock while it
// sleeps and holds it again when woken. `WakeGate` wakes every waiter.
struct Gate;
Gate* CreateGate();
void DestroyGate(Gate* gate);
void LockGate(Gate* gate);
void UnlockGate(Gate* gate);
void WaitGate(Gate* gate);
void WakeGate(Gate* gate);

// --- Directory listing -------------------------------------------------------

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

// Opens `folder` for listing and tells which folder it is; null when it
// cannot be listed (missing, not a folder, no permission). Goes through the
// DiskInterface in use, like the file operations below.
DirectoryListing* OpenDirectoryListing(const PathString& folder, FolderIdentity* identity);

// The next entry, in the order the system returns them; false at the end or
// on any error. "." and ".." are delivered like any other entry.
bool NextDirectoryEntry(DirectoryListing* listing, DirectoryEntry* entry);
void CloseDirectoryListing(DirectoryListing* listing);

// --- Files -------------------------------------------------------------------
// What a crash-safe save needs: positioned reads and writes, flushing to
// stable storage, kernel-side copies and an atomic replace.

struct NativeFile;

// The operations that read or change files, behind one interface so that a
// test can count them, fail one, or stop a run at any one of them as a crash
// would. The free functions below go through the interface in use: the
// platform's own, unless a test has put another in its place.
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
};

// The platform's own file operations.
DiskInterface& PlatformDisk();
// Puts `disk` in use for every file operation from now on; null puts the
// platform's own back. Set it only while no run is going on.
void UseDiskInterface(DiskInterface* disk);

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
// Makes every write, creation and rename on the file system that holds
// `file` durable at once; false where the platform cannot (then each file
// is flushed by itself).
bool FlushFileSystemOf(NativeFile* file);
// Atomically puts `replacement` in the place of `target`, not yet durable:
// a flush of the folder or of the file system makes it so.
bool RenameOver(const PathString& target, const PathString& replacement);

// Questions about an open file; they change nothing.
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
// Gives `copy` the owner, permissions and access lists of `original`; false
// when that is not possible (then the copy must not replace the original).
bool CopyFileSecurity(NativeFile* original, NativeFile* copy);

// The file a path names after following symbolic links, so that a save
// repairs the target and leaves the link a link.
PathString ResolveFileLinks(const PathString& path);

// --- Code pages --------------------------------------------------------------

// The code page Windows would use as its ANSI code page here: GetACP() on
// Windows, the page Windows gives the locale's language elsewhere.
unsigned AnsiCodePage();

// Decodes `bytes` of `codePage` into UTF-16 text exactly as
// MultiByteToWideChar(codePage, 0, ...) does: it never fails, and writes no
// more characters than there are bytes. Code page 0 is the ANSI code page.
std::wstring DecodeCodePage(unsigned codePage, const std::string& bytes);

#ifndef _WIN32
// The ANSI code page Windows gives the language of a POSIX locale name such
// as "ru_RU.UTF-8"; 1252 for C, POSIX and languages without one of their own.
unsigned CodePageForLocale(const std::string& localeName);
#endif

// True when `codePage` can be decoded here.
bool IsCodePageSupported(unsigned codePage);

// --- Display -----------------------------------------------------------------

// Text shown to a person, as UTF-8: a native path (invalid UTF-8 shows as
// U+FFFD on POSIX) or wide text.
std::string PathForDisplay(const PathString& path);
std::string WideToUtf8(const std::wstring& text);
// The length of the valid UTF-8 sequence at `i` of `bytes` (its code point
// in `decoded`), or 0 where none starts there.
std::size_t Utf8SequenceAt(const std::string& bytes, std::size_t i, char32_t* decoded);
// Valid UTF-8 passes unchanged; each byte that starts no valid sequence
// becomes U+FFFD.
std::string SanitizeUtf8(const std::string& bytes);
