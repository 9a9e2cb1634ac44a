// Each file's plan compares formats through the sound module, and bytes only to tell an untouched
// round trip; the destination checks let a dry run fail where the run would.
#include "convert/plan.h"

#include <algorithm>
#include <utility>

#include "convert/batch.h"
#include "convert/keep.h"
#include "convert/sound_rules.h"
#include "sound/wave.h"

namespace {

constexpr int kProbeAttempts = 100;

}  // namespace

Planner::Planner(FileSystem& fs, std::string sourceFolder, std::string destFolder,
                 PlanOptions options)
    : fs_(fs),
      sourceFolder_(std::move(sourceFolder)),
      destFolder_(std::move(destFolder)),
      options_(options),
      leadBytes_(fs.LeadBytes()) {}

Planner::Listing& Planner::ListingOf(const std::string& folder) {
  const auto found = listings_.find(folder);
  if (found != listings_.end()) return found->second;
  Listing& listing = listings_[folder];
  for (const FoundFile& entry : fs_.FindFiles(destFolder_ + folder + "*"))
    listing.byLowerName[ToLowerAscii(entry.name)].push_back(entry.name);
  return listing;
}

void Planner::Written(const std::string& source, const FilePlan& plan) {
  const std::string folder = FolderPartOf(plan.outputName, leadBytes_);
  const std::string name = plan.outputName.substr(folder.size());
  std::vector<std::string>& names = ListingOf(folder).byLowerName[ToLowerAscii(name)];
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  writtenFrom_[folder + ToLowerAscii(name)] = source;
}

FilePlan Planner::Plan(const std::string& name) {
  FilePlan plan;
  const std::string folder = FolderPartOf(name, leadBytes_);
  const std::string ruleName = OutputNameFor(name, leadBytes_);
  const Listing& listing = ListingOf(folder);
  const auto found = listing.byLowerName.find(ToLowerAscii(ruleName.substr(folder.size())));
  std::vector<std::string> names =
      found != listing.byLowerName.end() ? found->second : std::vector<std::string>{};
  // On a disk that tells letter cases apart, DOOR.MED is the file the game loads as door.med;
  // where letter case never makes two files, the system finds it by the rule's name itself.
  if (!fs_.NamesIgnoreCase() && names.size() > 1) {
    std::sort(names.begin(), names.end());
    std::string list;
    for (const std::string& clash : names) list += (list.empty() ? "" : ", ") + clash;
    plan.refusal =
        "refused: \"" + destFolder_ + ruleName + "\" has " + std::to_string(names.size()) +
        " files whose names differ from it only in letter case (" + list + "); keep one of them";
    return plan;
  }
  const bool exists = !names.empty();
  plan.outputName = exists && !fs_.NamesIgnoreCase() ? folder + names.front() : ruleName;
  // Two edits named alike but for letter case would both become the one sound the game loads.
  const auto earlier = writtenFrom_.find(folder + ToLowerAscii(ruleName.substr(folder.size())));
  if (earlier != writtenFrom_.end()) {
    plan.refusal = "refused: \"" + destFolder_ + plan.outputName + "\" is the output of " +
                   earlier->second + " in this run; rename one of the two";
    return plan;
  }
  const std::string sourcePath = sourceFolder_ + name, outputPath = destFolder_ + plan.outputName;
  const WaveFormat source = ReadWave(fs_, sourcePath);
  WaveFormat output;
  output.problem = WaveProblem::Missing;
  if (exists) output = ReadWave(fs_, outputPath);
  if (output.problem == WaveProblem::Missing) {
    plan.standing = Standing::New;
  } else if (output.fileSize == source.fileSize && SameBytes(fs_, sourcePath, outputPath, true)) {
    // What the game had, back unedited, whatever its format: never a reason to refuse it.
    plan.standing = Standing::Unchanged;
    return plan;
  } else {
    plan.standing = Standing::Matches;
  }
  // A source that cannot be opened or read is the batch's to report, as it fails.
  if (source.problem == WaveProblem::Missing || source.problem == WaveProblem::Unreadable)
    return plan;
  if (IsMedName(name, leadBytes_)) {
    const std::string problem = ProblemText(PlayProblem(source, true), source);
    if (!problem.empty()) plan.warnings.push_back(name + ": " + problem);
  } else {
    const Match match = CompareWithMed(source, output);
    if (match.verdict == MatchVerdict::MedBroken) plan.standing = Standing::Unknown;
    const FitPlan fitted =
        options_.fit && exists ? PlanFit(fs_, sourcePath, outputPath) : FitPlan{};
    if (fitted.way != FitWay::None && !fitted.refusal.empty()) {
      plan.refusal = "cannot fit " + name + ": " + fitted.refusal;
      return plan;
    }
    // A fitted file plays as the .med it replaces: what it would be warned of is what is mended,
    // and only what the fit keeps of the .wav's faults is left to say.
    plan.way = fitted.way;
    if (fitted.way != FitWay::None) {
      plan.fitLine = "fit: " + name + " " + fitted.from + " -> " + fitted.to;
      for (const std::string& note : fitted.notes)
        plan.warnings.emplace_back(name + ": ").append(note);
    } else {
      const std::string reason = MismatchText(match, name, source, plan.outputName, output);
      if (!reason.empty()) plan.warnings.push_back(reason);
      // In whatever format, an edit with no sound would silence the game's.
      if (reason.empty() && source.hasFormat && SampleFrames(source) == 0)
        plan.warnings.push_back(name + ": it holds no sound");
    }
  }
  plan.strictRefusal = options_.strict && !plan.warnings.empty();
  return plan;
}

std::string Counted(std::uint64_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string DestProblem(FileSystem& fs, const std::string& sourceFolder,
                        const std::string& destFolder, const FileList& list) {
  // A file of a name nobody uses, made and removed at once, is what the batch's temporary
  // files need; a name taken already says nothing, so the next is tried.
  CreateResult made = CreateResult::AlreadyExists;
  for (int i = 0; i < kProbeAttempts && made == CreateResult::AlreadyExists; ++i) {
    const std::string probe = destFolder + "~check" + std::to_string(i) + ".tmp";
    const NewFile file = fs.CreateNew(probe);
    made = file.result;
    if (made != CreateResult::Created) continue;
    fs.Close(file.file);
    fs.Remove(probe);
  }
  if (made == CreateResult::Failed) return "no file can be created in it";
  const std::uint64_t bytes = ListedBytes(fs, sourceFolder, list);
  if (NotEnoughSpace(fs, destFolder, bytes)) {
    return "its volume has too little free space for the " + Counted(bytes, "byte") + " listed";
  }
  return "";
}
