// Which files a run converts and the names their outputs are written under: a single file as
// SOURCE, the notice for a folder holding both kinds, and outputs that exist in another case.
#pragma once

#include <string>
#include <vector>

#include "cli/tree.h"
#include "convert/file_system.h"

struct PathParts {
  std::string folder;
  std::string name;
};

// Splits `path` into the folder holding it ("." when it names none) and its own name.
PathParts SplitPath(std::string path, const LeadByteSet& leadBytes);

// Why `name` cannot be converted as the one file of a run, `to` being "wav", "med" or empty;
// empty when it can.
std::string SingleFileRefusal(const std::string& name, const std::string& to,
                              const LeadByteSet& leadBytes);

// A line for each folder of `tree` whose .med files the window's rule left out beside its .wav
// files, `top` standing for the top folder: "sfx: 1 .wav file converted, 11 .med files left
// out; --to wav converts them".
std::string MixedFolderNotices(const Tree& tree, const std::string& top);

// The existing file an output replaces: the output's own name when none in another case
// exists, the one that does, or none with `clashes` naming two or more.
struct OutputOnDisk {
  std::string name;  // below the destination folder, as the output's own name is
  std::vector<std::string> clashes;
};

// Looks in the folder of `outputName` below `destFolder` (which ends in '\') for names equal
// to it ignoring ASCII letter case; where the file system ignores case already, it looks for
// nothing and keeps `outputName`.
OutputOnDisk FindOutputOnDisk(FileSystem& fs, const std::string& destFolder,
                              const std::string& outputName, const LeadByteSet& leadBytes);

// The line refusing an output whose name `clashes` all spell in other letter cases.
std::string ClashLine(const std::string& destPath, const std::vector<std::string>& clashes);
