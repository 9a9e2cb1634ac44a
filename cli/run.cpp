// Checks the folders and picks the files, then shows each file's plan and hands the batch to the
// same job the window runs, with the terminal as its window; what really happened to each file
// becomes the summary and the exit code.
#include "cli/run.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include "cli/console.h"
#include "cli/sound_check.h"
#include "cli/terminal_ui.h"
#include "convert/batch.h"
#include "convert/keep.h"
#include "convert/plan.h"
#include "convert/sound_rules.h"
#include "convert/tree.h"
#include "convert/watch.h"
#include "sound/wave.h"

namespace {

constexpr char kProgram[] = "tonequay-cli";
// A watched file is taken once its size and time of change have stayed the same this long (an
// editor still saving it); the watch looks this often while idle, and while a change settles.
constexpr std::uint64_t kSettle = 500, kIdleLook = 1000, kSettlingLook = 100;
// An idle watch waits at least this many times as long as its last look took, so that looking
// costs at most about 1 % of a processor however large the tree or slow its disk.
constexpr std::uint64_t kIdleShare = 100;

// Arguments as typed are shown through ForDisplay too: a shell's wildcard may have put any file's
// name there.
int UsageError(const std::string& text) {
  WriteText(stderr, std::string(kProgram) + ": " + ForDisplay(text) + "\nRun '" + kProgram +
                        " --help' for usage.\n");
  return kExitUsage;
}

// `given` is the argument as typed, which is what the user recognises in a message. A folder
// that `mayMake` lets the run make is usable where its parent is a folder.
bool FolderIsUsable(const char* role, const std::string& given, const std::string& folder,
                    FileSystem& fs, bool mayMake = false) {
  // An empty argument is left to the batch, which refuses it with the window's own text.
  if (folder.empty()) return true;
  const PathKind kind = fs.KindOfPath(folder);
  if (kind == PathKind::Folder) return true;
  if (kind == PathKind::Missing && mayMake &&
      fs.KindOfPath(SplitPath(folder, fs.LeadBytes()).folder) == PathKind::Folder) {
    return true;
  }
  if (kind == PathKind::Missing) {
    WriteText(stderr, std::string(kProgram) + ": " + role + " folder \"" + ForDisplay(given) +
                          "\" does not exist\n");
  } else {
    WriteText(stderr, std::string(kProgram) + ": " + role + " \"" + ForDisplay(given) +
                          "\" is not a folder; give the folder that holds the files\n");
  }
  WriteText(stderr, std::string("Run '") + kProgram + " --help' for usage.\n");
  return false;
}

// What the plans said and what became of the files, for the summary.
struct Counts {
  int warnings = 0;
  int refused = 0;
  int made = 0;      // converted, and their outputs new
  int fitted = 0;    // converted by a fit
  int backedUp = 0;  // outputs kept in the backup folder before they were replaced

  Counts& operator+=(const Counts& more) {
    warnings += more.warnings;
    refused += more.refused;
    made += more.made;
    fitted += more.fitted;
    backedUp += more.backedUp;
    return *this;
  }
};

// Shows what `plan` tells the user through `show`, its fit line only unless `quiet` or refused,
// and counts its warnings or its refusal.
void ShowPlan(const FilePlan& plan, bool quiet, Counts& counts,
              const std::function<void(const std::string&)>& show) {
  if (!plan.refusal.empty()) {
    show(plan.refusal);
    ++counts.refused;
    return;
  }
  if (!plan.fitLine.empty() && !quiet && !plan.strictRefusal) show(plan.fitLine);
  for (const std::string& warning : plan.warnings)
    show((plan.strictRefusal ? "refused: " : "warning: ") + warning);
  if (plan.strictRefusal) {
    ++counts.refused;
  } else {
    counts.warnings += static_cast<int>(plan.warnings.size());
  }
}

// Counts a file whose output is in place.
void CountConverted(const FilePlan& plan, Counts& counts) {
  if (plan.standing == Standing::New) ++counts.made;
  if (plan.way != FitWay::None) ++counts.fitted;
}

// "(2 new)", under --fit "(2 new, 1 fitted)", what the converted count holds; with --backup
// ", 1 backed up" after it.
std::string NewAndFitted(const CliOptions& options, const Counts& counts) {
  return "(" + std::to_string(counts.made) + " new" +
         (options.fit ? ", " + std::to_string(counts.fitted) + " fitted" : "") + ")" +
         (options.backup.empty() ? "" : ", " + std::to_string(counts.backedUp) + " backed up");
}

void PrintSummary(const CliOptions& options, const BatchSummary& summary, const Counts& counts) {
  WriteText(stdout, "Summary: " + Counted(summary.listed, "file") + ", " +
                        std::to_string(summary.converted) + " converted " +
                        NewAndFitted(options, counts) + ", " + Counted(counts.warnings, "warning") +
                        ", " + std::to_string(summary.failed) + " failed, " +
                        std::to_string(summary.skipped) + " skipped, " +
                        Counted(summary.bytesWritten, "byte") + " written\n");
  std::fflush(stdout);
}

// `to` is the kind the run makes: the line names the kind it looked for.
std::string NoSoundFilesLine(const CliOptions& options, const std::string& to) {
  const char* kind = to == "med" ? ".wav" : to == "wav" ? ".med" : ".wav or .med";
  return std::string(kProgram) + ": no " + kind + " files " + (options.recursive ? "under" : "in") +
         " \"" + ForDisplay(options.source) + "\"\n";
}

// A line for each folder of `tree` whose .med files the window's rule left out beside its .wav
// files, `top` standing for the top folder: "sfx: 1 .wav file converted, 11 .med files left
// out; --to wav converts them".
std::string MixedFolderNotices(const Tree& tree, const std::string& top) {
  std::string notices;
  for (std::size_t i = 0; i < tree.folders.size(); ++i) {
    const TreeFolder& folder = tree.folders[i];
    if (folder.leftOut == 0) continue;
    const auto wavs = std::count(tree.folderOf.begin(), tree.folderOf.end(), static_cast<int>(i));
    std::string shown = WithTrailingBackslash(top) + folder.relative;
    shown.pop_back();
    notices += ForDisplay(shown) + ": " + Counted(static_cast<std::uint64_t>(wavs), ".wav file") +
               " converted, " + Counted(static_cast<std::uint64_t>(folder.leftOut), ".med file") +
               " left out; --to wav converts them\n";
  }
  return notices;
}

int ExitCodeFor(const BatchSummary& summary, bool interrupted) {
  if (!summary.started) return kExitUsage;
  if (interrupted) return kExitInterrupted;
  return summary.failed > 0 ? kExitFailed : kExitConverted;
}

bool NoInterrupt() {
  return false;
}

PlanOptions PlanOptionsOf(const CliOptions& options) {
  return {options.fit, options.strict};
}

// The line naming the output at `output` that is kept at `kept`.
std::string BackupLine(const std::string& output, const std::string& kept) {
  return "backup: " + output + " -> " + kept;
}

// Lists what a run would do, with the warnings it would show, and fails where the run would.
// Nothing is written but a file made and removed at once to learn that DEST takes files.
int DryRun(const CliOptions& options, const std::string& source, const std::string& dest,
           const FileList& list, FileSystem& fs) {
  const LeadByteSet leadBytes = fs.LeadBytes();
  const std::string sourceFolder = WithTrailingBackslash(source);
  const std::string destFolder = WithTrailingBackslash(dest);
  const auto warn = [](const std::string& line) {
    std::fflush(stdout);
    WriteText(stderr, ForDisplay(line) + "\n");
  };
  Planner planner(fs, sourceFolder, destFolder, PlanOptionsOf(options));
  Counts counts;
  NameList converted;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string name = list.Item(i);
    const FilePlan plan = planner.Plan(name);
    // The fit line belongs to the listing, which --quiet keeps.
    ShowPlan(plan, true, counts, warn);
    if (plan.Refused()) continue;
    if (!plan.fitLine.empty()) WriteText(stdout, ForDisplay(plan.fitLine) + "\n");
    const std::string kept =
        WithTrailingBackslash(FolderArgument(options.backup)) + plan.outputName;
    if (!options.backup.empty() && plan.standing != Standing::New &&
        fs.KindOfPath(kept) == PathKind::Missing) {
      WriteText(stdout, ForDisplay(BackupLine(destFolder + plan.outputName, kept)) + "\n");
      ++counts.backedUp;
    }
    CountConverted(plan, counts);
    planner.Written(name, plan);
    converted.Add(name);
    WriteText(stdout, ForDisplay(sourceFolder + name) + " -> " +
                          ForDisplay(destFolder + plan.outputName) + "\n");
  }
  // A DEST the run would make is tried through the folder it would be made in.
  const std::string probe = fs.KindOfPath(dest) == PathKind::Missing
                                ? WithTrailingBackslash(SplitPath(dest, leadBytes).folder)
                                : destFolder;
  const std::string problem = list.Count() > 0 ? DestProblem(fs, sourceFolder, probe, list) : "";
  if (!problem.empty()) {
    std::fflush(stdout);
    WriteText(stderr, std::string(kProgram) + ": the run would fail: \"" +
                          ForDisplay(options.destGiven ? options.dest : options.source) +
                          "\": " + problem + "\n");
  }
  if (!options.quiet) {
    WriteText(stdout, "Dry run: " + Counted(converted.Count(), "file") + " would be converted " +
                          NewAndFitted(options, counts) + ", " +
                          Counted(counts.warnings, "warning") + ", " +
                          std::to_string(counts.refused) + " refused, " +
                          Counted(ListedBytes(fs, sourceFolder, converted), "byte") +
                          " to read; nothing was written\n");
  }
  std::fflush(stdout);
  return counts.refused > 0 || !problem.empty() ? kExitFailed : kExitConverted;
}

// The --info table, or its JSON, of `names` in `source`, with `dest` (unless empty) each one's
// standing beside the file its conversion would replace; reads, writes nothing. `given` is the
// folder as typed, which the JSON's paths start with.
int Info(const CliOptions& options, const std::string& source, const std::string& given,
         const std::string& dest, const std::vector<std::string>& names, FileSystem& fs) {
  if (names.empty() && !options.quiet) WriteText(stderr, NoSoundFilesLine(options, ""));
  const LeadByteSet leadBytes = fs.LeadBytes();
  const std::string folder = WithTrailingBackslash(source);
  Planner planner(fs, folder, WithTrailingBackslash(dest), PlanOptions{});
  std::vector<InfoRow> rows;
  bool anyProblem = false;
  for (const std::string& name : names) {
    // The JSON writer escapes what a name holds; a terminal is shown no control character.
    const auto shown = options.json ? WithOwnSeparators : ForDisplay;
    InfoRow row{shown(options.json ? given + name : name), ReadWave(fs, folder + name), "", ""};
    const bool isMed = IsMedName(name, leadBytes);
    row.problem = ProblemText(PlayProblem(row.format, isMed), row.format);
    if (!dest.empty()) {
      const FilePlan plan = planner.Plan(name);
      // A .med that cannot be read is nothing to compare with, as none is.
      const char* const words[] = {"new", "unchanged", "fits", "new"};
      const std::string reason = !plan.refusal.empty()   ? plan.refusal
                                 : plan.warnings.empty() ? ""
                                                         : plan.warnings.front();
      row.status = !reason.empty() ? "would not play" : words[static_cast<int>(plan.standing)];
      row.problem = shown(reason);
    }
    anyProblem = anyProblem || !row.problem.empty();
    if (options.json) row = {AsUtf8(row.name), row.format, AsUtf8(row.problem), row.status};
    // --quiet keeps only what needs attention.
    if (!options.quiet || !row.problem.empty()) rows.push_back(row);
  }
  if (options.json) {
    WriteText(stdout, InfoJson(rows));
  } else if (!rows.empty()) {
    WriteText(stdout, InfoTable(rows, !dest.empty()));
  }
  std::fflush(stdout);
  return anyProblem ? kExitFailed : kExitConverted;
}

// The batch's steps: each file's plan shown as the batch reaches it, beside its progress, the
// output it replaces kept first where a backup folder is given, its output written as the plan
// says, and counted once it is in place; in a watch, each file named once it is.
class PlannedSteps final : public FileSteps {
 public:
  // `source` and `dest` are the folders as typed, as the lines name them.
  PlannedSteps(const CliOptions& options, TerminalUi& ui, FileSystem& fs, const std::string& source,
               const std::string& dest, bool nameEach)
      : options_(options),
        ui_(ui),
        fs_(fs),
        nameEach_(nameEach),
        sourceFolder_(WithTrailingBackslash(ui.SourceText())),
        destFolder_(WithTrailingBackslash(ui.DestText())),
        backupFolder_(WithTrailingBackslash(FolderArgument(options.backup))),
        shownSource_(WithTrailingBackslash(source)),
        shownDest_(WithTrailingBackslash(dest)),
        planner_(fs, sourceFolder_, destFolder_, PlanOptionsOf(options)) {}

  FileStep StepFor(int index) override {
    const std::string name = ui_.List().Item(index);
    FilePlan& plan = plans_[index] = planner_.Plan(name);
    const auto show = [this](const std::string& line) { ui_.Warn(line); };
    ShowPlan(plan, options_.quiet, counts, show);
    if (plan.Refused()) return {false, "", nullptr};
    // A folder below DEST is made only once a file of its own is let in: nothing for a folder
    // without sound files. One that cannot be made shows as that file's "Error create file".
    MakeFoldersFor(fs_, destFolder_, destFolder_ + plan.outputName);
    // The first version an output had, the game's own, is the one kept; a later run keeps it.
    if (!options_.backup.empty() && plan.standing != Standing::New) {
      const CopyResult kept = CopyInto(fs_, destFolder_, backupFolder_, plan.outputName, false);
      if (kept.outcome == CopyOutcome::Failed) {
        show(kept.error);
        return {false, "", nullptr};
      }
      if (kept.outcome == CopyOutcome::Copied) {
        ++counts.backedUp;
        if (!options_.quiet)
          show(BackupLine(shownDest_ + plan.outputName, backupFolder_ + plan.outputName));
      }
    }
    FileStep step{true, plan.outputName, nullptr};
    if (plan.way == FitWay::None) return step;
    const FitWay way = plan.way;
    const std::string source = sourceFolder_ + name, output = destFolder_ + plan.outputName;
    step.write = [this, way, name, source, output](FileSystem& fs, FileHandle file,
                                                   std::uint64_t& bytes) {
      const FitResult result = WriteFit(fs, way, source, output, file);
      if (!result.error.empty()) ui_.Warn("cannot fit " + name + ": " + result.error);
      bytes = result.bytes;
      return result.error.empty();
    };
    return step;
  }

  void Done(int index, bool converted) override {
    const FilePlan& plan = plans_[index];
    if (!converted) return;
    CountConverted(plan, counts);
    planner_.Written(ui_.List().Item(index), plan);
    written.push_back(plan.outputName);
    if (nameEach_ && !options_.quiet)
      ui_.Warn(shownSource_ + ui_.List().Item(index) + " -> " + shownDest_ + plan.outputName);
  }

  Counts counts;
  std::vector<std::string> written;  // each output's path below DEST

 private:
  const CliOptions& options_;
  TerminalUi& ui_;
  FileSystem& fs_;
  bool nameEach_;
  std::string sourceFolder_, destFolder_, backupFolder_, shownSource_, shownDest_;
  Planner planner_;
  std::map<int, FilePlan> plans_;
};

// The console's own clock: Ctrl-C ends the watch, and cuts a pause short.
class ConsoleClock final : public WatchClock {
 public:
  std::uint64_t Now() override { return MonotonicMilliseconds(); }
  void Sleep(std::uint64_t milliseconds) override {
    for (std::uint64_t slept = 0; slept < milliseconds && !Stopped(); slept += kSlice)
      SleepMilliseconds(std::min(kSlice, milliseconds - slept));
  }
  bool Stopped() override { return InterruptRequested(); }

 private:
  static constexpr std::uint64_t kSlice = 100;
};

// Puts each file of the backup folder back over DEST at the same path, one identical already
// left alone; or, for a dry run, lists what would be put back.
int Restore(const CliOptions& options, FileSystem& fs) {
  const std::string kept = FolderArgument(options.restore), dest = FolderArgument(options.source);
  if (options.destGiven)
    return UsageError("--restore " + options.restore + " takes one folder, the DEST it restores");
  if (!FolderIsUsable("backup", options.restore, kept, fs) ||
      !FolderIsUsable("destination", options.source, dest, fs, true))
    return kExitUsage;
  const std::vector<std::string> files = WalkTree(kept, {}, fs, Pick::EveryFile).files;
  const std::string keptFolder = WithTrailingBackslash(kept),
                    destFolder = WithTrailingBackslash(dest);
  if (files.empty() && !options.quiet)
    WriteText(stderr,
              std::string(kProgram) + ": no files under \"" + ForDisplay(options.restore) + "\"\n");
  if (!options.dryRun) InstallInterruptHandler();
  if (fs.KindOfPath(dest) == PathKind::Missing && !files.empty()) {
    if (options.dryRun) {
      WriteText(stdout, "Would create folder \"" + ForDisplay(dest) + "\"\n");
    } else if (!fs.MakeFolder(dest)) {
      WriteText(stderr, std::string(kProgram) + ": destination folder \"" + ForDisplay(dest) +
                            "\" cannot be made\n");
      return kExitUsage;
    }
  }
  int restored = 0, same = 0, failed = 0;
  std::uint64_t bytes = 0;
  std::size_t done = 0;
  for (; done < files.size() && (options.dryRun || !InterruptRequested()); ++done) {
    const std::string& name = files[done];
    std::string line = keptFolder + name;
    line.append(" -> ").append(destFolder).append(name);
    line = ForDisplay(line) + "\n";
    if (options.dryRun) {
      const bool there = fs.KindOfPath(destFolder + name) != PathKind::Missing &&
                         SameBytes(fs, keptFolder + name, destFolder + name, false);
      same += there ? 1 : 0;
      restored += there ? 0 : 1;
      if (!there) WriteText(stdout, line);
      continue;
    }
    const CopyResult put = CopyInto(fs, keptFolder, destFolder, name, true);
    if (put.outcome == CopyOutcome::Failed) {
      ++failed;
      WriteText(stderr, ForDisplay(put.error) + "\n");
    } else if (put.outcome == CopyOutcome::Same) {
      ++same;
    } else {
      ++restored;
      bytes += put.bytes;
      if (!options.quiet) WriteText(stdout, line);
    }
    std::fflush(stdout);
  }
  const bool interrupted = done < files.size();
  if (!options.quiet) {
    WriteText(stdout, (options.dryRun ? "Dry run: " : "Summary: ") + Counted(files.size(), "file") +
                          ", " + std::to_string(restored) +
                          (options.dryRun ? " would be restored, " : " restored, ") +
                          std::to_string(same) + " unchanged, " +
                          (options.dryRun ? "nothing was written\n"
                                          : std::to_string(failed) + " failed, " +
                                                std::to_string(files.size() - done) + " skipped, " +
                                                Counted(bytes, "byte") + " written\n"));
  }
  std::fflush(stdout);
  return interrupted ? kExitInterrupted : failed > 0 ? kExitFailed : kExitConverted;
}

}  // namespace

bool ClosesWithTheProgram(int consoleProcesses) {
  return consoleProcesses == 1;
}

int RunCli(const CliOptions& options, FileSystem& fs, WatchClock* clock) {
  if (!options.restore.empty()) {
    if (options.fit || options.info || options.watch || options.strict || options.recursive ||
        !options.backup.empty() || !options.to.empty())
      return UsageError("--restore takes only --dry-run and --quiet beside it");
    return Restore(options, fs);
  }
  if ((options.info && (options.watch || !options.backup.empty())) ||
      (options.watch && options.dryRun))
    return UsageError(options.info ? "--info writes nothing to keep or watch"
                                   : "--watch converts: it takes no --dry-run");
  // A fit makes .med files of .wav files: a folder of .med files given as SOURCE by mistake
  // must not be converted over the edits in DEST.
  if (options.fit && options.to == "wav") return UsageError("--fit makes .med files: not --to wav");
  const std::string to = options.fit ? "med" : options.to;
  const LeadByteSet leadBytes = fs.LeadBytes();
  std::string source = FolderArgument(options.source);
  // One file as SOURCE is taken alone, from its folder, into that folder unless DEST is given.
  std::string fileName;
  if (fs.KindOfPath(source) == PathKind::Other) {
    const PathParts file = SplitPath(source, leadBytes);
    const std::string refusal = SingleFileRefusal(file.name, options.info ? "" : to, leadBytes);
    if (!refusal.empty()) return UsageError("source \"" + options.source + "\" " + refusal);
    source = file.folder;
    fileName = file.name;
  }
  const std::string dest = options.destGiven ? FolderArgument(options.dest) : source;
  const std::string backup = FolderArgument(options.backup);
  if (!FolderIsUsable("source", options.source, source, fs) ||
      !FolderIsUsable("destination", options.destGiven ? options.dest : options.source, dest, fs,
                      !options.info) ||
      !FolderIsUsable("backup", options.backup, backup, fs, true)) {
    return kExitUsage;
  }
  // There every output is a file of its own path already, so nothing would ever be kept.
  const std::string destIdentity = dest.empty() ? "" : fs.FolderIdentity(dest);
  if (!backup.empty() && !destIdentity.empty() && fs.FolderIdentity(backup) == destIdentity)
    return UsageError("backup folder \"" + options.backup + "\" is DEST itself: it keeps nothing");
  const bool makeDest = !dest.empty() && fs.KindOfPath(dest) == PathKind::Missing;
  const bool makeBackup = !backup.empty() && fs.KindOfPath(backup) == PathKind::Missing;

  // The list starts empty; an empty source argument must not become a scan of "\*.med".
  const Pick pick = options.info  ? Pick::EverySound
                    : to == "wav" ? Pick::MedFiles
                    : to == "med" ? Pick::WavFiles
                                  : Pick::WindowRule;
  // DEST and the backup folder inside SOURCE are no part of it.
  const std::vector<std::string> skip = {dest, backup};
  Tree tree;
  if (!fileName.empty()) {
    tree.folders.push_back({"", -1, 0});
    tree.files.push_back(fileName);
    tree.folderOf.push_back(0);
  } else if (!source.empty()) {
    tree = WalkTree(source, skip, fs, pick, options.recursive);
  }
  if (options.info) {
    if (source.empty()) {
      WriteText(stderr, "Please select files first\n");
      return kExitUsage;
    }
    // The names a script reads are those of the folder as typed.
    const std::string given =
        fileName.empty() ? WithTrailingBackslash(FolderArgument(options.source))
                         : options.source.substr(0, options.source.size() - fileName.size());
    return Info(options, source, given, options.destGiven ? dest : "", tree.files, fs);
  }
  // A dry run writes nothing, so Ctrl-C may end it at once.
  if (!options.dryRun) InstallInterruptHandler();

  ProgressStyle style;
  style.quiet = options.quiet;
  style.redraw = StderrIsTerminal();
  // A line that wraps can no longer be redrawn, so an unknown width is taken as the usual 80.
  const int columns = TerminalColumns();
  style.columns = !style.redraw ? 0 : columns > 0 ? columns : 80;
  style.eraseTail = EraseToLineEnd();
  TerminalUi ui(source, dest, style, stderr, options.dryRun ? NoInterrupt : InterruptRequested, fs);
  FileList& list = ui.List();
  for (const std::string& file : tree.files) list.Add(file);
  if (!options.quiet) WriteText(stderr, MixedFolderNotices(tree, source));
  if (list.Count() == 0 && !source.empty() && !options.quiet) {
    WriteText(stderr, NoSoundFilesLine(options, to));
  }

  if (options.dryRun && !source.empty() && !dest.empty()) {
    for (const auto& [made, folder] : {std::pair{makeDest, dest}, std::pair{makeBackup, backup}}) {
      if (made && list.Count() > 0)
        WriteText(stdout, "Would create folder \"" + ForDisplay(folder) + "\"\n");
    }
    return DryRun(options, source, dest, list, fs);
  }
  // From here an empty argument reaches the batch, whose first checks refuse it before
  // anything is opened; that holds for a dry run too.
  Counts counts;
  if (!options.dryRun && InterruptRequested()) {
    BatchSummary summary;
    summary.started = true;
    summary.listed = list.Count();
    summary.skipped = summary.listed;
    if (!options.quiet) PrintSummary(options, summary, counts);
    return kExitInterrupted;
  }

  // DEST is made before the batch, so that its free-space check has a folder to ask about.
  for (const auto& [made, folder] : {std::pair{makeDest, dest}, std::pair{makeBackup, backup}}) {
    if (made && list.Count() > 0 && !fs.MakeFolder(folder)) {
      WriteText(stderr,
                std::string(kProgram) + ": folder \"" + ForDisplay(folder) + "\" cannot be made\n");
      return kExitUsage;
    }
  }
  // The watch's first look comes before the run, so that an edit saved while the run reads it
  // is a change the watch takes; the run's own outputs, where they fall in the tree, it learns
  // after the run.
  ConsoleClock console;
  WatchClock& time = clock != nullptr ? *clock : static_cast<WatchClock&>(console);
  // One file as SOURCE is watched alone, whatever else its folder holds.
  Watch watch(fs, source, skip, fileName.empty() ? pick : Pick::EverySound,
              options.recursive && fileName.empty(), kSettle);
  if (options.watch) watch.Ready(time.Now());
  PlannedSteps steps(options, ui, fs, source, dest, false);
  BatchSummary summary = ConvertBatch(ui, fs, &steps);
  counts += steps.counts;
  ui.Finish();
  if (!summary.started) return kExitUsage;
  bool interrupted = ui.AbortRequested() || InterruptRequested();
  if (options.watch && !interrupted) {
    if (!destIdentity.empty() && destIdentity == fs.FolderIdentity(source))
      watch.LearnOutputs(time.Now(), steps.written);
    if (!options.quiet) {
      WriteText(stderr, std::string(kProgram) + ": watching \"" + ForDisplay(options.source) +
                            "\" for changes; Ctrl-C ends the watch\n");
    }
    ui.HideProgress();
    std::uint64_t idle = kIdleLook;
    while (!time.Stopped()) {
      // An idle look costs a listing of every folder, so it comes seldom; one that finds a
      // change settling comes back soon, to take the file as soon as it has settled.
      time.Sleep(watch.Settling() ? kSettlingLook : idle);
      const std::uint64_t start = time.Now();
      std::vector<std::string> ready = watch.Ready(start);
      idle = std::max(kIdleLook, (time.Now() - start) * kIdleShare);
      if (!fileName.empty()) {
        ready.erase(
            std::remove_if(ready.begin(), ready.end(),
                           [&fileName](const std::string& name) { return name != fileName; }),
            ready.end());
      }
      if (ready.empty() || time.Stopped()) continue;
      list.Clear();
      for (const std::string& file : ready) list.Add(file);
      PlannedSteps changed(options, ui, fs, source, dest, true);
      const BatchSummary more = ConvertBatch(ui, fs, &changed);
      ui.Finish();
      counts += changed.counts;
      for (int BatchSummary::*field : {&BatchSummary::listed, &BatchSummary::converted,
                                       &BatchSummary::failed, &BatchSummary::skipped})
        summary.*field += more.*field;
      summary.bytesWritten += more.bytesWritten;
      if (ui.AbortRequested()) break;
    }
    // Ctrl-C is how a watch ends; its summary is of all it did.
    if (!options.quiet) PrintSummary(options, summary, counts);
    return summary.failed > 0 ? kExitFailed : kExitConverted;
  }
  if (interrupted && !options.quiet) {
    WriteText(stderr, std::string(kProgram) + ": interrupted: the file in progress was finished, " +
                          std::to_string(summary.skipped) + " not converted\n");
  }
  if (!options.quiet) PrintSummary(options, summary, counts);
  return ExitCodeFor(summary, interrupted);
}
