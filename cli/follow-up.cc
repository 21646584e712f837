// The jobs of a command-line run after the main one: the second pass over
// files saved in part, the playlists and cue sheets, and the renames.
#include <string>
#include <vector>

#include "cli/run-state.h"
#include "engine/platform/platform.h"
#include "engine/threads.h"

// How the renames are told: as the run tells its files.
RenameReport NameReport(const RunState& run) {
  RenameReport report;
  report.preview = run.options.preview;
  report.json = run.options.json;
  report.quiet = run.options.quiet;
  report.base = AlbumBase(run);
  return report;
}

// A job after the main one over `files`, in the run's journal. Playlists
// are read through the page decided for their album with the audio (when
// one was); a second pass decides again, from text partly repaired.
void RunFollowUp(RunState* run, RunState::Phase phase, const std::vector<PathString>* files,
                 const PlaylistRenames* renames) {
  if (run->stop->load() || run->threadFailed)
    return;
  std::vector<AlbumCodePage> decided = run->options.albumCodePages;
  for (const auto& [folder, pages] : run->nameEvidence.folderPages) {
    if (!pages.empty() && phase == RunState::Phase::kPlaylists)
      decided.push_back(AlbumCodePage{folder, pages.front(), true});
  }
  run->phase = phase;
  run->target = CreateNotifyTarget();
  FixJob* job = NewFixJob(*run, files);
  job->albumCodePages = &decided;
  job->playlistRenames = renames;
  run->fixThread = StartWorkerThread(FixThreadProc, job);
  if (run->fixThread) {
    RunNotificationLoop(run->target, HandleNotification, run);
    JoinWorkerThread(run->fixThread);
    run->fixThread = nullptr;
  } else {
    delete job;
    run->threadFailed = true;
  }
  DestroyNotifyTarget(run->target);
  run->target = nullptr;
  run->phase = RunState::Phase::kMain;
}

// --rename: the playlists and cue sheets, once the names are decided and
// before they change, so that their entries name the files' new names. An
// album decided with the audio reads its playlists through the same page.
static void RepairPlaylists(RunState* run, const RenamePlan& plan) {
  if (run->playlists.empty())
    return;
  PlaylistRenames renames;
  for (const auto& [from, to] : plan.renames)
    AddPlaylistRename(&renames, from, to);
  RunFollowUp(run, RunState::Phase::kPlaylists, &run->playlists, &renames);
  // Counted with the files the run found.
  run->foundFiles.insert(run->foundFiles.end(), run->playlists.begin(), run->playlists.end());
}

// --rename: the names below the folders of the run, with the pages its
// albums were decided (or named) in as evidence.
RenameCounts RenameBelow(RunState& run, const RenameReport& report) {
  std::vector<PathString> folders;
  for (const RunPath& path : run.paths) {
    if (path.isFolder)
      folders.push_back(path.path);
  }
  NameEvidence& evidence = run.nameEvidence;
  if (!run.options.automatic)
    evidence.page = run.options.codePage;
  for (const AlbumCodePage& named : run.options.albumCodePages) {
    if (named.codePage != kLeaveText)
      evidence.folderPages[named.folder].push_back(named.codePage);
  }
  return RunRenames(folders, evidence, run.journal, run.stop, report,
                    [&run](const RenamePlan& plan) { RepairPlaylists(&run, plan); });
}
