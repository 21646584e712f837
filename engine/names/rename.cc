// The rename plan of a run, carried out and undone (see engine/names/rename.h).
#include "engine/names/rename-journal.h"
#include "engine/names/rename.h"

#include <algorithm>
#include <set>

#include "engine/platform/disk.h"
#include "engine/names/name-decide.h"
#include "engine/platform/path.h"
#include "engine/platform/text.h"

namespace {

constexpr std::size_t kLongestName = 255;

struct Entry {
  PathString name;
  bool isFolder = false;
};

struct Walk {
  const NameEvidence& evidence;
  const std::atomic<bool>* stop;
  std::set<std::pair<std::uint64_t, std::uint64_t>> visited;
  RenamePlan* plan;
};

// The folder's entries; false when it cannot be listed or was seen before
// (a link back up the tree).
bool ListEntries(const PathString& folder, Walk* walk, std::vector<Entry>* entries) {
  FolderIdentity identity;
  DirectoryListing* listing = OpenDirectoryListing(folder, &identity);
  if (!listing)
    return false;
  if (identity.known && !walk->visited.insert({identity.device, identity.inode}).second) {
    CloseDirectoryListing(listing);
    return false;
  }
  DirectoryEntry entry;
  while (NextDirectoryEntry(listing, &entry))
    entries->push_back({entry.name, entry.isDirectory});
  CloseDirectoryListing(listing);
  return true;
}

// The pages as evidence, most weight first.
std::vector<unsigned> EvidenceOrder(const std::map<unsigned, std::size_t>& pages, unsigned named) {
  std::vector<std::pair<std::size_t, unsigned>> order;
  for (const auto& [page, count] : pages)
    order.push_back({count, page});
  std::sort(order.rbegin(), order.rend());
  std::vector<unsigned> evidence;
  if (named)
    evidence.push_back(named);
  for (const auto& [count, page] : order)
    evidence.push_back(page);
  return evidence;
}

// What a folder's walk tells the folder above: the pages decided for the
// tags in and below it (with how many albums each), and the page its own
// legacy names were read through (0: none).
struct Below {
  std::map<unsigned, std::size_t> pages;
  unsigned namePage = 0;
};

// The page of the most names below, for the folder above to weigh.
unsigned MostCommon(const std::map<unsigned, std::size_t>& counts) {
  unsigned best = 0;
  std::size_t most = 0;
  for (const auto& [page, count] : counts) {
    if (page && count > most) {
      best = page;
      most = count;
    }
  }
  return best;
}

// Reads the legacy names of `which` entries as one pool, with `evidence`;
// returns the page they were read through.
unsigned RepairPool(const std::vector<std::size_t>& which, const std::vector<NameShape>& shapes,
                    const std::vector<unsigned>& evidence, std::vector<PathString>* repaired) {
  std::vector<std::string> legacy, widened;
  for (std::size_t i : which) {
    if (shapes[i].legacy)
      (shapes[i].widened ? widened : legacy).push_back(shapes[i].bytes);
  }
  // A platform stores one kind or the other: raw bytes (POSIX) or widened
  // (Windows).
  const unsigned page = !legacy.empty() ? DecideNamePage(legacy, evidence)
                                        : DecideWidenedPage(widened, evidence);
  const std::size_t pool = legacy.empty() ? widened.size() : legacy.size();
  for (std::size_t i : which) {
    const bool alone = !shapes[i].legacy || pool < 2;
    const unsigned own = alone ? page : NamePageWithin(shapes[i].bytes, page, evidence);
    if (!shapes[i].widened || WidenedNameReadsThrough(shapes[i].bytes, own))
      RepairedName(shapes[i], own, &(*repaired)[i]);
  }
  return legacy.empty() && widened.empty() ? 0 : page;
}

// Adds the renames and problems of one folder's entries to the plan (M2,
// M3): `repaired` holds each entry's new name, empty when it keeps its own.
void PlanEntries(const PathString& folder, const std::vector<Entry>& entries,
                 const std::vector<PathString>& repaired, RenamePlan* plan) {
  std::set<PathString> current;
  for (const Entry& entry : entries)
    current.insert(entry.name);
  std::map<PathString, std::vector<std::size_t>> byNewName;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (repaired[i].empty() || repaired[i] == entries[i].name)
      continue;
    if (NameUtf8(repaired[i]).size() > kLongestName) {
      plan->problems.push_back({JoinPath(folder, entries[i].name), JoinPath(folder, repaired[i]),
                                PathString(), "the repaired name is longer than 255 bytes"});
      continue;
    }
    byNewName[repaired[i]].push_back(i);
  }
  for (const auto& [name, proposing] : byNewName) {
    const PathString to = JoinPath(folder, name);
    if (proposing.size() > 1) {
      for (std::size_t k = 0; k < proposing.size(); ++k) {
        const std::size_t other = proposing[(k + 1) % proposing.size()];
        plan->problems.push_back({JoinPath(folder, entries[proposing[k]].name), to,
                                  JoinPath(folder, entries[other].name),
                                  "another name reads as the same name"});
      }
      continue;
    }
    const Entry& entry = entries[proposing[0]];
    if (current.count(name)) {
      plan->problems.push_back(
          {JoinPath(folder, entry.name), to, to, "an entry already has that name"});
      continue;
    }
    plan->renames.push_back({JoinPath(folder, entry.name), to});
    plan->isFolder.push_back(entry.isFolder);
  }
}

// Plans the entries below `folder`, deepest first (M4). Its files' names
// are read as one pool with the pages of the tags in and below it; its
// folders' names as another, with the pages their own names were read
// through first.
Below PlanFolder(const PathString& folder, Walk* walk) {
  Below below;
  std::vector<Entry> entries;
  if ((walk->stop && walk->stop->load()) || !ListEntries(folder, walk, &entries))
    return below;
  const auto own = walk->evidence.folderPages.find(folder);
  if (own != walk->evidence.folderPages.end()) {
    for (unsigned page : own->second)
      ++below.pages[page];
  }
  std::vector<std::size_t> files;
  std::map<std::size_t, Below> inner;  // per folder entry
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].isFolder) {
      files.push_back(i);
      continue;
    }
    inner[i] = PlanFolder(JoinPath(folder, entries[i].name), walk);
    for (const auto& [page, count] : inner[i].pages)
      below.pages[page] += count;
  }
  std::vector<NameShape> shapes;
  for (const Entry& entry : entries)
    shapes.push_back(ShapeOfName(entry.name));
  std::vector<PathString> repaired(entries.size());
  std::map<unsigned, std::size_t> namePages;
  // The files' names: the tags' pages first, then the pages the names in
  // the folders beside them were read through (a playlist beside an album
  // whose tags tell nothing was named by the same hand as the album).
  std::vector<unsigned> fileEvidence = EvidenceOrder(below.pages, walk->evidence.page);
  std::map<unsigned, std::size_t> innerNamePages;
  for (const auto& [i, within] : inner) {
    if (within.namePage)
      ++innerNamePages[within.namePage];
  }
  for (unsigned page : EvidenceOrder(innerNamePages, 0)) {
    if (std::find(fileEvidence.begin(), fileEvidence.end(), page) == fileEvidence.end())
      fileEvidence.push_back(page);
  }
  if (const unsigned page = RepairPool(files, shapes, fileEvidence, &repaired))
    namePages[page] += files.size();
  // Each folder's name by itself: folders side by side come from anywhere.
  for (const auto& [i, within] : inner) {
    std::vector<unsigned> evidence = EvidenceOrder(within.pages, walk->evidence.page);
    if (within.namePage)
      evidence.insert(evidence.begin(), within.namePage);
    if (const unsigned page = RepairPool({i}, shapes, evidence, &repaired))
      ++namePages[page];
    if (within.namePage)
      ++namePages[within.namePage];
  }
  below.namePage = MostCommon(namePages);
  PlanEntries(folder, entries, repaired, walk->plan);
  return below;
}

std::string FailureReason(const char* otherwise) {
  const std::wstring reason = LastDiskFailure();
  return reason.empty() ? otherwise : WideToUtf8(reason);
}

}  // namespace

RenamePlan PlanRenames(const std::vector<PathString>& folders, const NameEvidence& evidence,
                       const std::atomic<bool>* stop) {
  RenamePlan plan;
  Walk walk{evidence, stop, {}, &plan};
  for (const PathString& folder : folders)
    PlanFolder(folder, &walk);
  return plan;
}

PathString PlannedPath(const RenamePlan& plan, const PathString& path) {
  PathString planned = path;
  for (const auto& [from, to] : plan.renames) {
    if (planned == from) {
      planned = to;
    } else if (planned.size() > from.size() && planned.compare(0, from.size(), from) == 0 &&
               IsPathSeparator(planned[from.size()])) {
      planned = to + planned.substr(from.size());
    }
  }
  return planned;
}

bool CarryOutRenames(const RenamePlan& plan, RunJournal* journal, const std::atomic<bool>* stop,
                     std::vector<RenameOutcome>* outcomes) {
  const std::size_t count = plan.renames.size();
  outcomes->assign(count, RenameOutcome());
  if (count == 0)
    return true;
  // A batch of tag saves left without its mark stays for recovery: a mark
  // after the renames would cover it.
  if (journal && !JournalSettled(journal)) {
    for (RenameOutcome& outcome : *outcomes)
      outcome.reason = "a save of this run was left unfinished, so no name was changed";
    return false;
  }
  if (journal) {
    std::vector<JournalRename> records;
    for (const auto& [from, to] : plan.renames)
      records.push_back({from, to});
    if (!JournalRenames(journal, records)) {
      for (RenameOutcome& outcome : *outcomes)
        outcome.reason = "could not be recorded in the run journal, so nothing was renamed";
      return false;
    }
  }
  bool stopped = false;
  for (std::size_t i = 0; i < count; ++i) {
    const auto& [from, to] = plan.renames[i];
    RenameOutcome& outcome = (*outcomes)[i];
    stopped = stopped || (stop && stop->load());
    if (stopped) {
      outcome.reason = "stopped before it was renamed";
    } else {
      ClearDiskFailure();
      outcome.renamed = RenameWithoutReplacing(from, to);
      if (!outcome.renamed)
        outcome.reason = FailureReason("could not be renamed");
    }
    // A folder's renames are durable before the folder itself is renamed.
    const PathString folder = FolderOf(from);
    if (i + 1 == count || FolderOf(plan.renames[i + 1].first) != folder)
      FlushFolder(folder);
  }
  if (journal)
    JournalCommit(journal);
  return !stopped;
}

NameRestore UndoRename(const JournalRename& rename, std::string* reason) {
  const bool fromThere = EntryExists(rename.from), toThere = EntryExists(rename.to);
  if (fromThere && !toThere)
    return NameRestore::kAlready;
  if (!toThere) {
    *reason = "gone since the run";
    return NameRestore::kGone;
  }
  if (fromThere) {
    *reason = "both the old and the new name exist";
    return NameRestore::kLeft;
  }
  ClearDiskFailure();
  if (!RenameWithoutReplacing(rename.to, rename.from)) {
    *reason = FailureReason("could not be renamed back");
    return NameRestore::kLeft;
  }
  FlushFolder(FolderOf(rename.from));
  return NameRestore::kRestored;
}
