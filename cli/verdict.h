// What a run would make of each file before it is converted: whether its output would play as
// the game's sound it replaces, and whether the destination could take the batch at all.
#pragma once

#include <cstdint>
#include <string>

#include "convert/file_list.h"
#include "convert/file_system.h"

enum class Standing {
  New,        // no file of the output's name yet
  Unchanged,  // the conversion would write exactly the bytes already there
  Fits,       // replaces a file, and would play as the game's .med does
  Unknown     // replaces a .med that cannot be read, so nothing tells how it should play
};

struct Verdict {
  Standing standing = Standing::New;
  std::string reason;  // why the output would not play, naming the files; empty when it would
};

// Judges converting the file at `folder` + `name` into `outFolder` + `outName`: a .med on its
// own, a .wav against the .med it replaces. Reads headers, and whole files only when both are
// of one size.
Verdict JudgeConversion(FileSystem& fs, const std::string& folder, const std::string& name,
                        const std::string& outFolder, const std::string& outName,
                        const LeadByteSet& leadBytes);

// "1 file", "2 files": `count` and `noun`, with an "s" unless the count is one.
std::string Counted(std::uint64_t count, const std::string& noun);

// Why the batch of `list` from `sourceFolder` could not be written into `destFolder`: no file
// can be created there, or its volume has too little room; empty when neither is known.
std::string DestProblem(FileSystem& fs, const std::string& sourceFolder,
                        const std::string& destFolder, const FileList& list);
