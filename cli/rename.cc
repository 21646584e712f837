// --rename: reports of the name repairs, in text and JSON.
#include "cli/rename.h"

#include "cli/console.h"
#include "cli/json.h"
#include "cli/show.h"
#include "engine/platform/path.h"

namespace {

PathString Shown(const RenameReport& report, const PathString& path) {
  const PathString& base = report.base;
  const bool below = !base.empty() && path.size() > base.size() + 1 &&
                     path.compare(0, base.size(), base) == 0 &&
                     IsPathSeparator(path[base.size()]);
  return below ? path.substr(base.size() + 1) : path;
}

PathString NameOf(const PathString& path) {
  return path.substr(NameStartOf(path));
}

// "renamed<TAB>old path<TAB>new name"; a name left: "not renamed" or
// "failed", the path, the name it would take, and why (with the other path
// in the way, when there is one).
void ReportName(const RenameReport& report, const char* word, const PathString& from,
                const PathString& to, const std::string& issue,
                const PathString& other = PathString()) {
  const bool left = !issue.empty();
  if (report.quiet && !left)
    return;
  if (report.json) {
    WriteOut("{\"type\":\"rename\"," + JsonPath("old", Shown(report, from)) + "," +
             JsonPath("new", Shown(report, to)) + ",\"outcome\":" + JsonString(word) +
             (left ? ",\"issue\":" + JsonString(issue) : std::string()) +
             (other.empty() ? std::string() : "," + JsonPath("other", Shown(report, other))) +
             "}\n");
    return;
  }
  std::string line = std::string(word) + "\t" + ShowPath(Shown(report, from)) + "\t" +
                     ShowPath(NameOf(to));
  if (left)
    line += "\t" + ShowText(issue);
  if (!other.empty())
    line += ": " + ShowPath(Shown(report, other));
  WriteOut(line + "\n");
}

}  // namespace

RenameCounts RunRenames(const std::vector<PathString>& folders, const NameEvidence& evidence,
                        RunJournal* journal, const std::atomic<bool>* stop,
                        const RenameReport& report,
                        const std::function<void(const RenamePlan&)>& beforeRenames) {
  RenameCounts counts;
  const RenamePlan plan = PlanRenames(folders, evidence, stop);
  beforeRenames(plan);
  for (const RenameProblem& problem : plan.problems) {
    ReportName(report, "not renamed", problem.path, problem.to, problem.reason, problem.other);
    ++counts.left;
  }
  if (report.preview) {
    for (const auto& [from, to] : plan.renames)
      ReportName(report, "would rename", from, to, std::string());
    counts.renamed = plan.renames.size();
    return counts;
  }
  std::vector<RenameOutcome> outcomes;
  CarryOutRenames(plan, journal, stop, &outcomes);
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const auto& [from, to] = plan.renames[i];
    if (outcomes[i].renamed) {
      ReportName(report, "renamed", from, to, std::string());
      ++counts.renamed;
    } else {
      ReportName(report, "failed", from, to, outcomes[i].reason);
      ++counts.left;
      ++counts.failed;
    }
  }
  return counts;
}

void ReportRenameSummary(const RenameCounts& counts, const RenameReport& report) {
  const std::string what =
      std::to_string(counts.renamed) + (counts.renamed == 1 ? " file or folder" : " files and folders");
  std::string summary = report.preview ? "Preview: would rename " + what : "Renamed " + what;
  if (counts.left)
    summary += ", left " + std::to_string(counts.left) + (counts.left == 1 ? " name" : " names") +
               " as they are";
  if (report.preview)
    summary += "; nothing was written";
  if (!report.json) {
    WriteOut(summary + "\n");
    return;
  }
  WriteOut("{\"type\":\"rename_summary\",\"summary\":" + JsonString(summary) +
           ",\"preview\":" + (report.preview ? "true" : "false") +
           ",\"renamed\":" + std::to_string(counts.renamed) +
           ",\"left\":" + std::to_string(counts.left) +
           ",\"failed\":" + std::to_string(counts.failed) + "}\n");
}
