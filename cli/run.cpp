// Checks the folders, scans the source, then hands the batch to the same job the window runs,
// with the terminal as its window; the numbers it returns become the summary and exit code.
#include "cli/run.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "cli/console.h"
#include "cli/select.h"
#include "cli/sound_check.h"
#include "cli/terminal_ui.h"
#include "cli/tree.h"
#include "cli/verdict.h"
#include "convert/batch.h"
#include "convert/fit.h"
#include "convert/sound_rules.h"
#include "convert/wave_format.h"

namespace {

constexpr char kProgram[] = "tonequay-cli";

int UsageError(const std::string& text) {
  WriteText(stderr,
            std::string(kProgram) + ": " + text + "\nRun '" + kProgram + " --help' for usage.\n");
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
    WriteText(stderr,
              std::string(kProgram) + ": " + role + " folder \"" + given + "\" does not exist\n");
  } else {
    WriteText(stderr, std::string(kProgram) + ": " + role + " \"" + given +
                          "\" is not a folder; give the folder that holds the files\n");
  }
  WriteText(stderr, std::string("Run '") + kProgram + " --help' for usage.\n");
  return false;
}

// What the checks before each file found, for the summary.
struct Checked {
  int warnings = 0;
  int refused = 0;
  int fitted = 0;
  std::vector<std::string> newOutputs;  // outputs that did not exist when their file was reached
};

// "(2 new)", or under --fit "(2 new, 1 fitted)": what the converted count holds.
std::string NewAndFitted(const CliOptions& options, std::size_t created, int fitted) {
  return "(" + std::to_string(created) + " new" +
         (options.fit ? ", " + std::to_string(fitted) + " fitted" : "") + ")";
}

void PrintSummary(const CliOptions& options, const BatchSummary& summary, int warnings, int created,
                  int fitted) {
  WriteText(stdout, "Summary: " + Counted(summary.listed, "file") + ", " +
                        std::to_string(summary.converted) + " converted " +
                        NewAndFitted(options, static_cast<std::size_t>(created), fitted) + ", " +
                        Counted(warnings, "warning") + ", " + std::to_string(summary.failed) +
                        " failed, " + std::to_string(summary.skipped) + " skipped, " +
                        Counted(summary.bytesWritten, "byte") + " written\n");
  std::fflush(stdout);
}

std::string NoSoundFilesLine(const CliOptions& options) {
  return std::string(kProgram) + ": no .wav or .med files " + (options.recursive ? "under" : "in") +
         " \"" + options.source + "\"\n";
}

int ExitCodeFor(const BatchSummary& summary, bool interrupted) {
  if (!summary.started) return kExitUsage;
  if (interrupted) return kExitInterrupted;
  return summary.failed > 0 ? kExitFailed : kExitConverted;
}

bool NoInterrupt() {
  return false;
}

// Checks list entry `name` before it is converted: refuses it where its output exists in more
// than one letter case; under --fit plans re-encoding a .wav that would not play as the .med it
// replaces, refusing one that cannot be read; warns of an output that would not play, or under
// --strict refuses it, counting each; notes an output that is new. `output` gets the name the
// output is written as, `plan` how it is fitted.
bool Refuses(const CliOptions& options, FileSystem& fs, const std::string& sourceFolder,
             const std::string& destFolder, const std::string& name, Checked& checked,
             const std::function<void(const std::string&)>& show, std::string& output,
             FitPlan& plan) {
  const LeadByteSet leadBytes = fs.LeadBytes();
  const std::string ruleName = OutputNameFor(name, leadBytes);
  // On a disk that tells letter cases apart, DOOR.MED is the file the game loads as door.med.
  const OutputOnDisk onDisk = FindOutputOnDisk(fs, destFolder, ruleName, leadBytes);
  if (!onDisk.clashes.empty()) {
    show(ClashLine(destFolder + ruleName, onDisk.clashes));
    ++checked.refused;
    return true;
  }
  output = onDisk.name;
  const bool isMed = IsMedName(name, leadBytes);
  plan = options.fit && !isMed ? PlanFit(fs, sourceFolder + name, destFolder + output) : FitPlan{};
  if (plan.fit && !plan.refusal.empty()) {
    show("cannot fit " + name + ": " + plan.refusal);
    ++checked.refused;
    return true;
  }
  // A fitted file plays as the .med it replaces: what it would be warned of is what is mended.
  if (plan.fit) return false;
  const Verdict verdict = JudgeConversion(fs, sourceFolder, name, destFolder, output, leadBytes);
  if (!verdict.reason.empty()) {
    show((options.strict ? "refused: " : "warning: ") + verdict.reason);
    ++(options.strict ? checked.refused : checked.warnings);
    if (options.strict) return true;
  }
  if (verdict.standing == Standing::New) checked.newOutputs.push_back(destFolder + output);
  return false;
}

// The line that says how `name` is fitted.
std::string FitLine(const FitPlan& plan, const std::string& name) {
  return "fit: " + name + " " + plan.from + " -> " + plan.to;
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
  Checked checked;
  NameList converted;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string name = list.Item(i);
    std::string output;
    FitPlan plan;
    if (Refuses(options, fs, sourceFolder, destFolder, name, checked, warn, output, plan)) continue;
    if (plan.fit) {
      WriteText(stdout, ForDisplay(FitLine(plan, name)) + "\n");
      ++checked.fitted;
    }
    converted.Add(name);
    const std::string destPath = destFolder + output;
    WriteText(stdout, ForDisplay(sourceFolder + name) + " -> " + ForDisplay(destPath) + "\n");
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
                          NewAndFitted(options, checked.newOutputs.size(), checked.fitted) + ", " +
                          Counted(checked.warnings, "warning") + ", " +
                          std::to_string(checked.refused) + " refused, " +
                          Counted(ListedBytes(fs, sourceFolder, converted), "byte") +
                          " to read; nothing was written\n");
  }
  std::fflush(stdout);
  return checked.refused > 0 || !problem.empty() ? kExitFailed : kExitConverted;
}

// The --info table, or its JSON, of every sound under `source`, with `dest` (unless empty) each
// one's standing beside the file its conversion would replace; reads, writes nothing.
int Info(const CliOptions& options, const std::string& source, const std::string& dest,
         FileSystem& fs) {
  if (source.empty()) {
    WriteText(stderr, "Please select files first\n");
    return kExitUsage;
  }
  const std::vector<std::string> names = options.recursive
                                             ? WalkTree(source, dest, fs, Pick::EverySound).files
                                             : SoundFilesIn(source, fs);
  if (names.empty() && !options.quiet) {
    WriteText(stderr, NoSoundFilesLine(options));
  }
  const LeadByteSet leadBytes = fs.LeadBytes();
  const std::string folder = WithTrailingBackslash(source);
  const std::string destFolder = WithTrailingBackslash(dest);
  // The names a script reads are those of the folder as typed.
  const std::string given = WithTrailingBackslash(FolderArgument(options.source));
  std::vector<InfoRow> rows;
  bool anyProblem = false;
  for (const std::string& name : names) {
    InfoRow row{ForDisplay(options.json ? given + name : name), ReadWaveFormat(fs, folder + name),
                "", ""};
    const bool isMed = IsMedName(name, leadBytes);
    row.problem = ProblemText(PlayProblem(row.format, isMed), row.format);
    if (!dest.empty()) {
      const std::string output =
          FindOutputOnDisk(fs, destFolder, OutputNameFor(name, leadBytes), leadBytes).name;
      const Verdict verdict = JudgeConversion(fs, folder, name, destFolder, output, leadBytes);
      // A .med that cannot be read is nothing to compare with, as none is.
      const char* const words[] = {"new", "unchanged", "fits", "new"};
      row.status =
          !verdict.reason.empty() ? "would not play" : words[static_cast<int>(verdict.standing)];
      row.problem = ForDisplay(verdict.reason);
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

}  // namespace

int RunCli(const CliOptions& options, FileSystem& fs) {
  const LeadByteSet leadBytes = fs.LeadBytes();
  std::string source = FolderArgument(options.source);
  // One file as SOURCE is converted alone, from its folder, into that folder unless DEST is given.
  std::string fileName;
  if (!options.info && fs.KindOfPath(source) == PathKind::Other) {
    const PathParts file = SplitPath(source, leadBytes);
    const std::string refusal = SingleFileRefusal(file.name, options.to, leadBytes);
    if (!refusal.empty()) return UsageError("source \"" + options.source + "\" " + refusal);
    source = file.folder;
    fileName = file.name;
  }
  const std::string dest = options.destGiven ? FolderArgument(options.dest) : source;
  if (!FolderIsUsable("source", options.source, source, fs) ||
      !FolderIsUsable("destination", options.destGiven ? options.dest : options.source, dest, fs,
                      !options.info)) {
    return kExitUsage;
  }
  const bool makeDest = !dest.empty() && fs.KindOfPath(dest) == PathKind::Missing;
  if (options.info) return Info(options, source, options.destGiven ? dest : "", fs);
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

  // The list starts empty; an empty source argument must not become a scan of "\*.med".
  Tree tree;
  if (!fileName.empty()) {
    tree.folders.push_back({"", -1, true});
    tree.files.push_back(fileName);
    tree.folderOf.push_back(0);
  } else if (!source.empty()) {
    const Pick pick = options.to == "wav"   ? Pick::MedFiles
                      : options.to == "med" ? Pick::WavFiles
                                            : Pick::WindowRule;
    tree = WalkTree(source, dest, fs, pick, options.recursive);
  }
  for (const std::string& file : tree.files) list.Add(file);
  if (!options.quiet) WriteText(stderr, ForDisplay(MixedFolderNotices(tree, source)));
  // Each file is checked as the batch reaches it, so a warning stands beside its progress and
  // compares with the .med there at that moment. A folder below DEST is made only once a file
  // of its own is admitted: nothing before the batch's free-space check, nothing for a folder
  // without sound files, nothing on a dry run. One that cannot be made shows as that file's
  // "Error create file".
  const std::string sourceFolder = WithTrailingBackslash(source);
  const std::string destFolder = WithTrailingBackslash(dest);
  Checked checked;
  // The file being fitted, and where its output goes.
  int fitting = -1;
  std::string fittingOutput;
  ui.BeforeEachFile([&](int index) {
    const auto warn = [&ui](const std::string& line) { ui.Warn(line); };
    const std::string name = list.Item(index);
    std::string output;
    FitPlan plan;
    if (Refuses(options, fs, sourceFolder, destFolder, name, checked, warn, output, plan))
      return false;
    if (plan.fit && !options.quiet) ui.Warn(FitLine(plan, name));
    fitting = plan.fit ? index : -1;
    // A fitted file is decoded, not toggled: a chunk before its format is no reason to refuse it.
    ui.WriteAnew(fitting);
    fittingOutput = output;
    ui.WriteAs(index, output);
    if (options.recursive) {
      MakeTreeFolder(tree, tree.folderOf[static_cast<std::size_t>(index)], dest, fs);
    }
    return true;
  });
  ui.WriteEachOutput([&](int index, FileSystem& files, FileHandle file, std::uint64_t& bytes) {
    if (index != fitting) return OutputWrite::Copy;
    const std::string name = list.Item(index);
    const FitResult result = WriteFit(files, sourceFolder + name, destFolder + fittingOutput, file);
    for (const std::string& note : result.notes) {
      ui.Warn(std::string("warning: ").append(name).append(": ").append(note));
    }
    if (!result.error.empty()) {
      ui.Warn("cannot fit " + name + ": " + result.error);
      return OutputWrite::Failed;
    }
    bytes = result.bytes;
    ++checked.fitted;
    return OutputWrite::Written;
  });
  if (list.Count() == 0 && !source.empty() && !options.quiet) {
    WriteText(stderr, NoSoundFilesLine(options));
  }

  if (options.dryRun && !source.empty() && !dest.empty()) {
    if (makeDest && list.Count() > 0) {
      WriteText(stdout, "Would create folder \"" + ForDisplay(dest) + "\"\n");
    }
    return DryRun(options, source, dest, list, fs);
  }
  // From here an empty argument reaches the batch, whose first checks refuse it before
  // anything is opened; that holds for a dry run too.
  if (!options.dryRun && InterruptRequested()) {
    BatchSummary summary;
    summary.started = true;
    summary.listed = list.Count();
    summary.skipped = summary.listed;
    if (!options.quiet) PrintSummary(options, summary, 0, 0, 0);
    return kExitInterrupted;
  }

  // DEST is made before the batch, so that its free-space check has a folder to ask about.
  if (makeDest && list.Count() > 0 && !fs.MakeFolder(dest)) {
    WriteText(stderr, std::string(kProgram) + ": destination folder \"" + ForDisplay(dest) +
                          "\" cannot be made\n");
    return kExitUsage;
  }
  const BatchSummary summary = ConvertBatch(ui, fs);
  ui.Finish();
  if (!summary.started) return kExitUsage;
  const bool interrupted = ui.AbortRequested() || InterruptRequested();
  if (interrupted && !options.quiet) {
    WriteText(stderr, std::string(kProgram) + ": interrupted: the file in progress was finished, " +
                          std::to_string(summary.skipped) + " not converted\n");
  }
  // An output new when its file was reached, and there now, is a new file the run made: a
  // failed file leaves no output behind.
  const auto made = std::count_if(
      checked.newOutputs.begin(), checked.newOutputs.end(),
      [&fs](const std::string& path) { return fs.KindOfPath(path) == PathKind::Other; });
  if (!options.quiet)
    PrintSummary(options, summary, checked.warnings, static_cast<int>(made), checked.fitted);
  return ExitCodeFor(summary, interrupted);
}
