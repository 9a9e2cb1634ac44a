// tonequay-cli: converts a file, a folder or a tree of .med files into .wav files, or back,
// from a terminal.
#include <CLI/CLI.hpp>
#include <sstream>

#include "cli/console.h"
#include "cli/run.h"
#include "convert/platform_file_system.h"

namespace {

constexpr char kFooter[] =
    "SOURCE is scanned as the window does: its .wav files if it has any, otherwise its .med\n"
    "files; a folder holding both gets a line naming what was left out. --to wav takes its\n"
    ".med files, --to med its .wav files, whatever else it holds. Each becomes a file of the\n"
    "other kind in DEST (default: SOURCE), which is made if its parent exists. SOURCE may be\n"
    "one .med or .wav file (DEST defaults to its folder). An existing output is replaced; on\n"
    "a disk that tells letter cases apart, one named in another case (DOOR.MED for door.med)\n"
    "is the one replaced, and where two are, the file is refused. With -r every folder under\n"
    "SOURCE is handled the same way, its outputs going to the folder of the same path under\n"
    "DEST, made when needed; links to folders are not followed, and a DEST inside SOURCE is\n"
    "left out of the walk.\n"
    "Ctrl-C stops after the file in progress.\n"
    "\n"
    "--backup DIR keeps each output a run replaces in DIR, at its path below DEST, before it\n"
    "is replaced, unless DIR holds one there already: the game's own file is the one kept.\n"
    "--restore DIR DEST puts each file of DIR back over DEST. --watch goes on after the run:\n"
    "each sound file of SOURCE that appears or changes is converted once it has stayed the same\n"
    "for half a second; Ctrl-C ends the watch with a summary of all it did.\n"
    "\n"
    "Each file is checked before it is converted. A .med gets a warning when it is not the\n"
    "game's IMA ADPCM (tag 122); a .wav when it is not IMA ADPCM (tag 17), or when the .med it\n"
    "replaces has another channel count, sample rate or block align: the game would not play\n"
    "it. The file is still converted unless --strict is given. A .wav whose bytes are those of\n"
    "the .med it replaces but for the tag is unchanged, and never refused. A dry run also\n"
    "checks that DEST takes new files and has room for them. --fit re-encodes a .wav that\n"
    "would be warned of instead, to the IMA ADPCM channels, rate and blocks of the .med it\n"
    "replaces, or moves its blocks into that .med where they are in its layout already.\n"
    "\n"
    "--info lists every .wav and .med file of SOURCE (with -r, of the tree), or the one file\n"
    "SOURCE names, with its format and any problem; with DEST, each one's status beside the\n"
    "file its conversion would replace: new, unchanged, fits, or why it would not play.\n"
    "--json gives that list as one JSON array of objects (path, status, format, tag, channels,\n"
    "rate, bits, block_align, samples, seconds, problem; null where not known), in UTF-8.\n"
    "\n"
    "Exit codes: 0 all listed files converted (or none listed), 1 some file failed or was\n"
    "refused, or would be on a dry run (--info: some file has a problem), 2 bad usage or a\n"
    "refused batch (missing folder, not enough free space), 130 interrupted.\n"
    "\n"
    "Examples:\n"
    "  tonequay-cli sounds converted      .med files in sounds -> .wav files in converted\n"
    "  tonequay-cli --dry-run sounds      show what would be converted, write nothing\n"
    "  tonequay-cli -r sound out          the tree under sound -> the same tree under out\n"
    "  tonequay-cli --to med edited game  every .wav in edited -> a .med in game\n"
    "  tonequay-cli sfx/door.wav game     that one file -> game/door.med\n"
    "  tonequay-cli -i edited             the format of each sound in edited\n"
    "  tonequay-cli -i edited game        how each sound in edited compares with game's .med\n"
    "  tonequay-cli --fit edited sound    edited .wav files -> .med files that play as before\n"
    "  tonequay-cli --fit --backup keep edited sound   the same, the old .med files kept first\n"
    "  tonequay-cli --restore keep sound  the kept .med files back into sound\n"
    "  tonequay-cli --watch --fit edited sound   again for each edit saved, until Ctrl-C\n";

// The run, from its command line to its exit code. Only a bad command line is an expected
// exception; anything else (out of memory, a misbuilt option table) ends the program as it would
// anyway.
// NOLINTNEXTLINE(bugprone-exception-escape)
int Run(int argc, char** argv) {
  CliOptions options;
  CLI::App app{"Converts a game's .med sound files into IMA ADPCM .wav files and back.",
               "tonequay-cli"};
  app.add_option("SOURCE", options.source, "Folder holding the .med or .wav files, or one file")
      ->required();
  CLI::Option* dest =
      app.add_option("DEST", options.dest, "Folder for the converted files (default: SOURCE)");
  app.add_flag("-q,--quiet", options.quiet,
               "Show failures and warnings only: no progress, no summary");
  app.add_flag("-n,--dry-run", options.dryRun,
               "List each source file and its output name; write nothing");
  app.add_flag("-r,--recursive", options.recursive,
               "Convert every folder under SOURCE into the same folders under DEST");
  CLI::Option* info = app.add_flag(
      "-i,--info", options.info,
      "Show each sound's format and any problem, with DEST its status there; write nothing");
  app.add_flag("--json", options.json, "With --info: the list as JSON, for scripts")->needs(info);
  app.add_flag("--strict", options.strict,
               "Refuse each .wav that gets a warning, as a failure; keep the old .med");
  app.add_option("--to", options.to,
                 "Convert every file of the other kind into this kind: wav or med")
      ->check(CLI::IsMember({"wav", "med"}));
  app.add_flag("--fit", options.fit,
               "Re-encode each .wav that gets a warning to the format of the .med it replaces");
  // A script's unset variable gives an empty name: taken as none, the game's files would be
  // replaced with nothing kept, or a restore would become a conversion.
  const auto named = [](const std::string& folder) {
    return folder.empty() ? std::string("an empty name is no folder") : std::string();
  };
  app.add_option("--backup", options.backup,
                 "Keep each output a run replaces in this folder first, once: the first one kept")
      ->check(named);
  app.add_option("--restore", options.restore,
                 "Put each file of this folder back over SOURCE, the DEST it was kept from")
      ->check(named);
  app.add_flag("--watch", options.watch,
               "After the run, convert each file that appears or changes, until Ctrl-C");
  app.set_version_flag("--version", "tonequay-cli " TONEQUAY_VERSION);
  app.footer(kFooter);
  // "/name" is a folder on the current drive, not an option, on Windows too.
  app.allow_windows_style_options(false);

  // CLI11 reports a bad command line by throwing; this is the only place that is caught.
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // The usage and the complaint, which may quote an argument, reach a console as its text.
    std::ostringstream out;
    std::ostringstream err;
    const int code = app.exit(error, out, err);
    WriteText(stdout, out.str());
    std::istringstream lines(err.str());
    for (std::string line; std::getline(lines, line);) WriteText(stderr, ForDisplay(line) + "\n");
    return code == 0 ? kExitConverted : kExitUsage;
  }
  options.destGiven = dest->count() > 0;
  PlatformFileSystem fs;
  return RunCli(options, fs);
}

}  // namespace

// Started from Explorer, the console closes when the program ends: its last lines are kept on
// the screen until the user has read them.
int main(int argc, char** argv) {
  const int code = Run(argc, argv);
  if (ClosesWithTheProgram(ConsoleProcessCount())) {
    WriteText(stdout, "Press Enter to close.\n");
    std::fflush(stdout);
    WaitForEnter();
  }
  return code;
}
