// The repair engine: finds the MP3 files below a folder on a scan thread,
// repairs their tag text on a fix thread, and reports every file found and
// every file's outcome to the user-interface thread by posted notifications.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/platform/platform.h"

// Private notifications, in the application range above WM_APP (0x8000).
// All are posted with wParam 0.
constexpr unsigned WM_SCAN_FILE_FOUND = 0x8000 + 100;  // lParam: new PathString
constexpr unsigned WM_SCAN_COMPLETE = 0x8000 + 101;    // lParam: 0
// Posted only when the scan job asks for it (ScanJob::reportUnreadable).
constexpr unsigned WM_SCAN_FOLDER_UNREADABLE = 0x8000 + 102;  // lParam: new ScanProblem
constexpr unsigned WM_FIX_SUCCEEDED = 0x8000 + 200;    // lParam: new FileOutcome
constexpr unsigned WM_FIX_NOT_NEEDED = 0x8000 + 201;   // lParam: new FileOutcome
constexpr unsigned WM_FIX_FAILED = 0x8000 + 202;       // lParam: new FileOutcome
constexpr unsigned WM_FIX_COMPLETE = 0x8000 + 203;     // lParam: 0
// Posted in automatic mode before the outcomes of an album's files.
constexpr unsigned WM_FIX_ALBUM_DECIDED = 0x8000 + 204;  // lParam: new AlbumDecision

// The two failure texts; an empty issue means success.
extern const wchar_t kIssueCouldNotOpen[];  // "Couldn't open file"
extern const wchar_t kIssueCouldNotSave[];  // "Couldn't save changes"

struct AlbumCodePage;
struct PlaylistRenames;

// How the frame pass reads a Latin-1 field that holds a byte at or above 0x80.
struct Redecoding {
  // The page; 0 is the ANSI code page, or in automatic mode "leave the text".
  unsigned codePage = 0;
  // Automatic mode: `codePage` is the album's page, every place of the tag
  // that holds text is read in whatever shape it is stored, and a file or a
  // place that reads clearly better otherwise is read so
  // (engine/id3v2/place-reading.h).
  bool automatic = false;
  bool named = false;  // automatic mode: the album's page was named by the user
  // ... or decided for its tags by an earlier job (engine/text/album.h).
  bool tagsPage = false;
  // Automatic mode: pages that read some of the album's files clearly on
  // their own; a file its own text does not decide may take one of them.
  std::vector<unsigned> trackCodePages;
  // Playlists: the renames of the run, which their entries follow; null
  // when names are not repaired.
  const PlaylistRenames* renames = nullptr;
};

// One frame a repair re-decodes, as a preview shows it.
struct FrameChange {
  std::string frameId;  // "TIT2", "TXXX", ...
  std::wstring before;  // the text as it shows today (values joined by " / ")
  std::wstring after;   // the text after the repair
};

// One file's outcome, carried by WM_FIX_SUCCEEDED, WM_FIX_NOT_NEEDED and
// WM_FIX_FAILED; it belongs to the receiver from the moment it is posted.
struct FileOutcome {
  PathString path;     // the full path exactly as found
  std::wstring issue;  // empty for success, else one of the two issue texts
  // With a failure, what exactly stood in the way ("TXXX would change: ...");
  // for a verbose report, never shown in place of the issue.
  std::wstring detail;
  std::vector<FrameChange> changes;  // filled in a preview only
  // Automatic mode: why the file is not read through its album's page, or
  // why some of its text is left as stored; empty when neither.
  std::wstring readingNote;
  // A real run saved one part of the file and another waits for a save of
  // its own (an MP3 file's APEv2 tag after its ID3v2 tag): the front end
  // runs the file again once this run's saves are done.
  bool moreToRepair = false;
};

// What a save replaces, told before the save so that it can be taken back:
// the repaired file is the original with `originalBytes` at `offset`
// replaced by `repairedLength` new bytes; the audio never changes.
struct SaveRecord {
  std::uint64_t offset = 0;
  std::string originalBytes;
  std::uint64_t repairedLength = 0;
  std::uint64_t originalSize = 0;
  std::uint64_t repairedSize = 0;
  // CRC-32 of the file's first and last 64 KiB and of the bytes replaced.
  std::uint32_t originalChecksum = 0;
  std::uint32_t repairedChecksum = 0;
  // A size field before the range that the save changes too (the form's
  // size of a WAV or AIFF file whose last chunk grows), of one length
  // before and after; empty when there is none.
  std::uint64_t sizeFieldAt = 0;
  std::string sizeFieldOriginal;
  std::string sizeFieldRepaired;
};

// A folder the scan could not list, and the system's reason.
struct ScanProblem {
  PathString folder;
  std::wstring reason;
};

// Starts the scan thread, which frees it after posting WM_SCAN_COMPLETE.
struct ScanJob {
  NotifyTarget window = NotifyTarget();
  PathString folder;
  // Every audio format the engine repairs (engine/formats/format.h), and playlists;
  // else MP3 files only.
  bool allFormats = false;
  // Folders that cannot be listed are posted (WM_SCAN_FOLDER_UNREADABLE);
  // else they are passed over.
  bool reportUnreadable = false;
  // Set by the receiver to end the walk early; checked between entries.
  const std::atomic<bool>* stopRequested = nullptr;
};

struct RunJournal;  // engine/commit/journal.h

// What the tags of files read and not yet committed held at most: read
// ahead, in the batch gathered and in the batch committing (their original
// bytes and new bytes); for tests of the byte limit (engine/readers.h).
struct HeldBytesTally {
  std::uint64_t mostHeld = 0;     // all of them at once
  std::uint64_t mostInBatch = 0;  // one batch
  std::uint64_t largestFile = 0;  // one file
};

// Starts the fix thread, which frees the record (never the list) after
// posting WM_FIX_COMPLETE.
struct FixJob {
  NotifyTarget window = NotifyTarget();
  const std::vector<PathString>* files = nullptr;  // read only, first to last
  unsigned codePage = 0;                           // 0: the ANSI code page
  unsigned id3v2Version = 4;                       // a saved tag is written as ID3v2.3 or 2.4
  // Automatic mode: one page per album (the files of one folder), decided
  // from the album's text or named in `albumCodePages`; `codePage` is not
  // used then. Each album's decision is posted before its files' outcomes,
  // albums in the order their first file comes in the list.
  bool automatic = false;
  const std::vector<AlbumCodePage>* albumCodePages = nullptr;  // optional
  // The renames the run's playlists follow (engine/names/playlist.h); optional.
  const PlaylistRenames* playlistRenames = nullptr;
  // A preview decides as a repair does and writes nothing: WM_FIX_SUCCEEDED
  // then means "would be repaired", with the frames in the outcome.
  bool preview = false;
  // With a journal, saves go in batches: the batch's records are journaled
  // and flushed once, its files written, made durable together and marked
  // committed; outcomes are posted once their batch is. A batch holds at
  // most `batchFiles` saves and `batchBytes` bytes of tags (the original
  // and the new tag of each save), beyond one file's own; files read ahead
  // and the batch committing count against the same `batchBytes`.
  RunJournal* journal = nullptr;
  std::size_t batchFiles = 256;
  std::uint64_t batchBytes = 64ull << 20;
  HeldBytesTally* heldBytes = nullptr;  // optional, for tests
  // Threads for a batched run: with 2 or more, the next files are read and
  // rendered while a batch commits; with 1, each batch waits for the other.
  unsigned jobs = 1;
  // Set by the receiver to stop after the file in hand; a save in progress
  // always completes.
  const std::atomic<bool>* stopRequested = nullptr;
};

// How one file is repaired: the reading of its Latin-1 text, the version a
// saved tag is written in, and whether anything is written at all.
struct RepairOptions {
  Redecoding redecoding;      // codePage 0: the ANSI code page
  unsigned id3v2Version = 4;  // a saved tag is written as ID3v2.3 or 2.4
  // A preview decides as a repair does and writes nothing; the outcome then
  // lists the frames that would change.
  bool preview = false;
};

// Repairs one file by itself (no run journal); returns the outcome's message
// (WM_FIX_SUCCEEDED, WM_FIX_NOT_NEEDED or WM_FIX_FAILED) and fills
// `outcome`. The file is closed when it returns.
unsigned FixFile(const PathString& path, const RepairOptions& options, FileOutcome* outcome);
// The same through one code page, a tag written as ID3v2.4.
unsigned FixFile(const PathString& path, unsigned codePage, FileOutcome* outcome);

