// One run of the command-line tool, from parsed options to its exit code.
#pragma once

#include <cstdint>
#include <string>

#include "convert/file_system.h"

struct CliOptions {
  std::string source;
  std::string dest;
  bool destGiven = false;  // DEST was on the command line, possibly as an empty string
  bool quiet = false;
  bool dryRun = false;
  bool recursive = false;  // every folder under SOURCE into the same place under DEST
  bool info = false;       // each sound's format instead of a conversion, with DEST beside its .med
  bool json = false;       // --info's rows as one JSON document
  bool strict = false;     // a .wav that would be warned of is refused instead
  std::string to;          // "wav", "med": every file of the other kind; empty: the window rule
  bool fit = false;        // a .wav that would be warned of is re-encoded to its .med's format
  std::string backup;      // each output replaced is first kept here, once; empty: none kept
  std::string restore;     // the folder whose files go back over SOURCE, which is then DEST
  bool watch = false;      // after the run, each file that appears or changes is converted too
};

inline constexpr int kExitConverted = 0;  // every listed file converted, or none listed
// A file failed or would (a dry run), or has a problem (--info).
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;          // bad arguments or a refused batch
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C, as a shell reports SIGINT

// True where the console closes with the program and nothing else runs in it: the process count
// ConsoleProcessCount gives is 1, as for a program started from Explorer. Run from a console or a
// script, the console outlives it.
bool ClosesWithTheProgram(int consoleProcesses);

// The time and the pauses of a watch, and its end: the console's, or a test's own.
class WatchClock {
 public:
  virtual ~WatchClock() = default;
  // Milliseconds from any fixed point, never going back.
  virtual std::uint64_t Now() = 0;
  // Pauses for about `milliseconds`; less where the watch is to end.
  virtual void Sleep(std::uint64_t milliseconds) = 0;
  // True once the watch is to end (Ctrl-C).
  virtual bool Stopped() = 0;
};

// Scans the source folder of `fs`, or takes the one file SOURCE names, and converts what it
// lists, or only lists it for a dry run; with a watch, goes on converting what changes there
// until `clock` (none: the console's) says to stop. Or puts a backup's files back.
int RunCli(const CliOptions& options, FileSystem& fs, WatchClock* clock = nullptr);
