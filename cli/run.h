// One run of the command-line tool, from parsed options to its exit code.
#pragma once

#include <string>

#include "convert/file_system.h"

struct CliOptions {
  std::string source;
  std::string dest;
  bool destGiven = false;  // DEST was on the command line, possibly as an empty string
  bool quiet = false;
  bool dryRun = false;
  bool recursive = false;  // every folder under SOURCE into the same place under DEST
  bool info = false;       // each sound's format instead of a conversion
  bool strict = false;     // a .wav that would be warned of is refused instead
  bool fit = false;        // a .wav that would be warned of is re-encoded to its .med's format
};

inline constexpr int kExitConverted = 0;      // every listed file converted, or none listed
inline constexpr int kExitFailed = 1;         // at least one file failed or, for --info, has a problem
inline constexpr int kExitUsage = 2;          // bad arguments or a refused batch
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C, as a shell reports SIGINT

// Scans the source folder of `fs` and converts what it lists, or only lists it for a dry run.
int RunCli(const CliOptions& options, FileSystem& fs);
