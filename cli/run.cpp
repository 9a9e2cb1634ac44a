// Checks the folders, scans the source, then hands the batch to the same job the window runs,
// with the terminal as its window; the numbers it returns become the summary and exit code.
#include "cli/run.h"

#include <cstdio>

#include "cli/console.h"
#include "cli/sound_check.h"
#include "cli/terminal_ui.h"
#include "cli/tree.h"
#include "convert/batch.h"
#include "convert/scan.h"
#include "convert/sound_rules.h"
#include "convert/wave_format.h"

namespace {

constexpr char kProgram[] = "tonequay-cli";

// `given` is the argument as typed, which is what the user recognises in a message.
bool FolderIsUsable(const char* role, const std::string& given, const std::string& folder,
                    FileSystem& fs) {
  // An empty argument is left to the batch, which refuses it with the window's own text.
  if (folder.empty()) return true;
  const PathKind kind = fs.KindOfPath(folder);
  if (kind == PathKind::Folder) return true;
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

void PrintSummary(const BatchSummary& summary) {
  WriteText(stdout, "Summary: " + std::to_string(summary.listed) + " files, " +
                        std::to_string(summary.converted) + " converted, " +
                        std::to_string(summary.failed) + " failed, " +
                        std::to_string(summary.skipped) + " skipped, " +
                        std::to_string(summary.bytesWritten) + " bytes written\n");
  std::fflush(stdout);
}

std::string NoSoundFilesLine(const CliOptions& options) {
  return std::string("No .wav or .med files ") + (options.recursive ? "under" : "in") + " \"" +
         options.source + "\"\n";
}

int ExitCodeFor(const BatchSummary& summary, bool interrupted) {
  if (!summary.started) return kExitUsage;
  if (interrupted) return kExitInterrupted;
  return summary.failed > 0 ? kExitFailed : kExitConverted;
}

bool NoInterrupt() {
  return false;
}

// The line that warns of list entry `name`, or refuses it under --strict, when it is a .wav
// bound for a .med that would not play as the one it replaces; empty otherwise.
std::string ReplacementLine(const CliOptions& options, FileSystem& fs,
                            const std::string& sourceFolder, const std::string& destFolder,
                            const std::string& name, const LeadByteSet& leadBytes) {
  if (ToLowerAscii(ExtensionOf(name, leadBytes)) == ".med") return "";
  const std::string output = OutputNameFor(name, leadBytes);
  const WaveFormat wav = ReadWaveFormat(fs, sourceFolder + name);
  const WaveFormat med = ReadWaveFormat(fs, destFolder + output);
  const std::string warning = FitText(CompareWithMed(wav, med), name, wav, output, med);
  if (warning.empty()) return "";
  return (options.strict ? "refused: " : "warning: ") + warning;
}

// Lists what a run would do, with the warnings it would show. Nothing is opened for writing.
int DryRun(const CliOptions& options, const std::string& source, const std::string& dest,
           const FileList& list, FileSystem& fs) {
  const LeadByteSet leadBytes = fs.LeadBytes();
  const std::string sourceFolder = WithTrailingBackslash(source);
  const std::string destFolder = WithTrailingBackslash(dest);
  NameList converted;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string name = list.Item(i);
    const std::string line =
        ReplacementLine(options, fs, sourceFolder, destFolder, name, leadBytes);
    if (!line.empty()) {
      std::fflush(stdout);
      WriteText(stderr, ForDisplay(line) + "\n");
      if (options.strict) continue;
    }
    converted.Add(name);
    const std::string sourcePath = sourceFolder + name;
    const std::string destPath = destFolder + OutputNameFor(name, leadBytes);
    WriteText(stdout, ForDisplay(sourcePath) + " -> " + ForDisplay(destPath) + "\n");
  }
  const int refused = list.Count() - converted.Count();
  if (!options.quiet) {
    const std::string refusedText = refused > 0 ? ", " + std::to_string(refused) + " refused" : "";
    WriteText(stdout, "Dry run: " + std::to_string(converted.Count()) +
                          " files would be converted" + refusedText + ", " +
                          std::to_string(ListedBytes(fs, sourceFolder, converted)) +
                          " bytes to read; nothing was written\n");
  }
  std::fflush(stdout);
  return refused > 0 ? kExitFailed : kExitConverted;
}

// The --info table of every sound under `source`; reads headers only, writes nothing.
int Info(const CliOptions& options, const std::string& source, FileSystem& fs) {
  if (source.empty()) {
    WriteText(stderr, "Please select files first\n");
    return kExitUsage;
  }
  const std::vector<std::string> names =
      options.recursive ? WalkTree(source, "", fs, true).files : SoundFilesIn(source, fs);
  if (names.empty() && !options.quiet) {
    WriteText(stderr, NoSoundFilesLine(options));
  }
  const LeadByteSet leadBytes = fs.LeadBytes();
  const std::string folder = WithTrailingBackslash(source);
  std::vector<InfoRow> rows;
  bool anyProblem = false;
  for (const std::string& name : names) {
    InfoRow row{ForDisplay(name), ReadWaveFormat(fs, folder + name), ""};
    const bool isMed = ToLowerAscii(ExtensionOf(name, leadBytes)) == ".med";
    row.problem = ProblemText(PlayProblem(row.format, isMed), row.format);
    anyProblem = anyProblem || !row.problem.empty();
    // --quiet keeps only what needs attention.
    if (!options.quiet || !row.problem.empty()) rows.push_back(row);
  }
  if (!rows.empty()) WriteText(stdout, InfoTable(rows));
  std::fflush(stdout);
  return anyProblem ? kExitFailed : kExitConverted;
}

}  // namespace

int RunCli(const CliOptions& options, FileSystem& fs) {
  if (options.info && options.destGiven) {
    WriteText(stderr, std::string(kProgram) +
                          ": --info reads SOURCE only and takes no DEST; a --dry-run with DEST "
                          "shows the warnings for the files there\nRun '" +
                          kProgram + " --help' for usage.\n");
    return kExitUsage;
  }
  const std::string source = FolderArgument(options.source);
  const std::string dest = options.destGiven ? FolderArgument(options.dest) : source;
  if (!FolderIsUsable("source", options.source, source, fs) ||
      !FolderIsUsable("destination", options.destGiven ? options.dest : options.source, dest, fs)) {
    return kExitUsage;
  }
  if (options.info) return Info(options, source, fs);
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
  if (!source.empty() && options.recursive) {
    tree = WalkTree(source, dest, fs);
    for (const std::string& file : tree.files) list.Add(file);
  } else if (!source.empty()) {
    ScanFolder(source, list, fs);
  }
  // Each file is checked as the batch reaches it, so a warning stands beside its progress and
  // compares with the .med there at that moment. A folder is made only once a file of its own
  // is admitted: nothing before the batch's free-space check, nothing for a folder without
  // sound files, nothing on a dry run. One that cannot be made shows as that file's "Error
  // create file".
  const LeadByteSet leadBytes = fs.LeadBytes();
  const std::string sourceFolder = WithTrailingBackslash(source);
  const std::string destFolder = WithTrailingBackslash(dest);
  ui.BeforeEachFile([&](int index) {
    const std::string line =
        ReplacementLine(options, fs, sourceFolder, destFolder, list.Item(index), leadBytes);
    if (!line.empty()) ui.Warn(line);
    if (!line.empty() && options.strict) return false;
    if (options.recursive) {
      MakeTreeFolder(tree, tree.folderOf[static_cast<std::size_t>(index)], dest, fs);
    }
    return true;
  });
  if (list.Count() == 0 && !source.empty() && !options.quiet) {
    WriteText(stderr, NoSoundFilesLine(options));
  }

  if (options.dryRun && !source.empty() && !dest.empty()) {
    return DryRun(options, source, dest, list, fs);
  }
  // From here an empty argument reaches the batch, whose first checks refuse it before
  // anything is opened; that holds for a dry run too.
  if (!options.dryRun && InterruptRequested()) {
    BatchSummary summary;
    summary.started = true;
    summary.listed = list.Count();
    summary.skipped = summary.listed;
    if (!options.quiet) PrintSummary(summary);
    return kExitInterrupted;
  }

  const BatchSummary summary = ConvertBatch(ui, fs);
  ui.Finish();
  if (!summary.started) return kExitUsage;
  const bool interrupted = ui.AbortRequested() || InterruptRequested();
  if (interrupted && !options.quiet) {
    WriteText(stderr, "Interrupted: the file in progress was finished, " +
                          std::to_string(summary.skipped) + " not converted\n");
  }
  if (!options.quiet) PrintSummary(summary);
  return ExitCodeFor(summary, interrupted);
}
