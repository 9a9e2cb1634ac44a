// What a run makes of each file before it is converted: the name its output is written under,
// whether that output would play as the game's sound it replaces, how it is written, what the
// user is warned of and whether it is refused; and whether the destination takes the batch.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "convert/file_list.h"
#include "convert/file_system.h"
#include "sound/fit.h"

enum class Standing {
  New,        // no file of the output's name yet
  Unchanged,  // the conversion would write exactly the bytes already there
  Matches,    // replaces a file, and would play as the game's .med does
  Unknown     // replaces a .med that cannot be read, so nothing tells how it should play
};

struct PlanOptions {
  bool fit = false;     // a .wav that would be warned of is fitted to the .med it replaces
  bool strict = false;  // a file that would be warned of is refused
};

struct FilePlan {
  std::string outputName;  // below the destination folder, as it is spelled on disk
  Standing standing = Standing::New;
  FitWay way = FitWay::None;  // None: copied with its tag toggled
  std::string fitLine;        // with a way: "fit: a.wav PCM 16-bit ... -> IMA ADPCM ..."
  // Each what the user is told of the output: why it would not play, or what a fit keeps of a
  // fault of the .wav's; each a refusal with `strict`.
  std::vector<std::string> warnings;
  bool strictRefusal = false;  // refused for its warnings
  std::string refusal;         // a refusal of its own, the whole line; empty when none
  bool Refused() const { return strictRefusal || !refusal.empty(); }
};

// Plans the files of one run from `sourceFolder` into `destFolder` (each ending in '\'). Each
// folder below the destination is listed once, whatever the number of files bound for it.
class Planner {
 public:
  Planner(FileSystem& fs, std::string sourceFolder, std::string destFolder, PlanOptions options);

  // The plan for the file at `name` below the source folder; its output goes to the same place
  // below the destination. Reads the file's header and that of the output it would replace,
  // both whole only when they are of one size.
  FilePlan Plan(const std::string& name);
  // Records that `plan`'s output, of the file at `name`, now exists, as a later file bound for
  // the same name finds it: one named alike but for letter case is refused, not let replace it.
  void Written(const std::string& name, const FilePlan& plan);

 private:
  struct Listing {
    std::map<std::string, std::vector<std::string>> byLowerName;  // its names, by ASCII case
  };
  Listing& ListingOf(const std::string& folder);

  FileSystem& fs_;
  std::string sourceFolder_, destFolder_;
  PlanOptions options_;
  LeadByteSet leadBytes_;
  std::map<std::string, Listing> listings_;         // by folder below the destination
  std::map<std::string, std::string> writtenFrom_;  // each output of this run's, by ASCII case
};

// "1 file", "2 files": `count` and `noun`, with an "s" unless the count is one.
std::string Counted(std::uint64_t count, const std::string& noun);

// Why the batch of `list` from `sourceFolder` could not be written into `destFolder`: no file
// can be created there, or its volume has too little room; empty when neither is known.
std::string DestProblem(FileSystem& fs, const std::string& sourceFolder,
                        const std::string& destFolder, const FileList& list);
