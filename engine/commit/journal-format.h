// The run journal's file format, shared by the code that writes journals,
// reads them back and recovers their unfinished batches.
//
// A journal starts with a four-byte magic and a checked header (start time,
// the run's paths); then come checked records. Numbers are little-endian,
// paths their native bytes, and every payload carries its length before it
// and an FNV-1a check after it, so that a torn end is recognised. SWR1
// journals hold save records only, each of them durable before its save;
// SWR2 journals tag every record with its kind: a save, a commit mark, the
// mark of a save of the batch before that commit mark that could not be
// written, a rename of a file or folder (after every save of its run), or
// the id of the later run whose recovery finished a run cut short.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/commit/journal.h"

struct NativeFile;

inline constexpr char kOldHeaderMagic[] = "SWR1";
inline constexpr char kHeaderMagic[] = "SWR2";
constexpr char kSaveRecord = 'S';
constexpr char kCommitMark = 'C';
constexpr char kUnsavedMark = 'N';
constexpr char kRenameRecord = 'R';
constexpr char kFinishedRecord = 'F';
inline constexpr PathChar kJournalSuffix[] = PATH_TEXT(".journal");
inline constexpr PathChar kUndoneSuffix[] = PATH_TEXT(".undone");
inline constexpr PathChar kPartlyUndoneSuffix[] = PATH_TEXT(".partly-undone");
inline constexpr PathChar kScratchSuffix[] = PATH_TEXT(".scratch");

// --- Encoding ----------------------------------------------------------------

void PutNumber(std::string* out, std::uint64_t value, int bytes);
// A length of eight bytes, then the bytes.
void PutBytes(std::string* out, const std::string& bytes);
std::string PathBytes(const PathString& path);
// Appends `payload` with its length and check, so a torn end is recognised.
void PutChecked(std::string* out, const std::string& payload);

// The magic and the checked header of a journal started at `started` for
// `paths` (absolute).
std::string EncodeJournalHeader(std::int64_t started, const std::vector<PathString>& paths);
// One checked save record.
std::string EncodeSave(const JournalSave& save);
// One checked rename record: the old path's bytes, then the new path's.
std::string EncodeRename(const JournalRename& rename);
// The same appended to `out`, its original bytes copied once.
void AppendSave(std::string* out, const PathString& path, const SaveRecord& record);
// One checked commit mark: every batch before it is finished.
std::string CommitMarkRecord();
// One checked record that the save at `index` (counted from the journal's
// first save) was not written.
std::string UnsavedRecord(std::uint64_t index);
// One checked record that the run was cut short and finished by the
// recovery of run `finisher` (empty: a run not recorded, or an undo).
std::string FinishedRecord(const std::string& finisher);

// --- Decoding ----------------------------------------------------------------

// Reads numbers and byte runs from `data` in turn; `ok` turns false, and
// stays so, once a read would run past its end.
struct Reader {
  const std::string& data;
  std::size_t at = 0;
  bool ok = true;

  std::uint64_t Number(int bytes);
  std::string Bytes(std::uint64_t count);
  // The next checked payload; false at the end or at a torn one.
  bool Checked(std::string* payload);
};

PathString PathFromBytes(const std::string& bytes);
// The fields of a save record after its kind, the record ending at `end`
// of the reader's data; its original bytes are passed over unless
// `withBytes`.
bool DecodeSave(Reader* saved, JournalSave* entry, bool withBytes, std::size_t end);
// The fields of a rename record after its kind.
bool DecodeRename(Reader* record, JournalRename* entry);

// --- Files of the runs folder ------------------------------------------------

// Where the suffix of a journal's name starts (".journal", ".undone",
// ".scratch"): its last dot, unless that starts the name.
std::size_t SuffixStart(const PathString& file);
bool HasSuffix(const PathString& file, const PathChar* suffix);

// Every save of a journal in order (each marked unsaved when its file could
// not be written), and how many of the first were covered by a commit mark
// (all of them in an SWR1 journal).
struct JournalContent {
  bool tagged = false;
  std::vector<JournalSave> saves;
  std::size_t committed = 0;
  // Renames in order, and how many of the first a commit mark covered.
  std::vector<JournalRename> renames;
  std::size_t renamesCommitted = 0;
  // Where the last whole record ends (kIndex and kFull).
  std::uint64_t end = 0;
  // A finished-by record: the run was cut short, then finished by another.
  bool finished = false;
  std::string finishedBy;
};

