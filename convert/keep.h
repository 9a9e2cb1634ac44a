// Keeping the files that outputs replace, and putting them back: each file copied whole under a
// temporary name and then moved, so that a copy is never half there.
#pragma once

#include <string>

#include "convert/file_system.h"

enum class CopyOutcome {
  Copied,
  Kept,  // a file was there already and is kept as it is
  Same,  // the file there holds the same bytes already
  Failed
};

struct CopyResult {
  CopyOutcome outcome = CopyOutcome::Failed;
  std::uint64_t bytes = 0;  // written
  std::string error;        // with Failed, the whole line: "Error create file "keep\a.med": ..."
};

// Copies the file `name` (a path below both folders, each ending in '\') from `fromFolder` into
// `toFolder`, making the folders it needs there: over the file there when `replace` says so
// (Same, untouched, where it holds those bytes already), else only where none is (Kept).
CopyResult CopyInto(FileSystem& fs, const std::string& fromFolder, const std::string& toFolder,
                    const std::string& name, bool replace);

// Makes every folder that `path` lies in below `top` (which ends in '\\'), the outermost first;
// false when one cannot be had.
bool MakeFoldersFor(FileSystem& fs, const std::string& top, const std::string& path);

// True when the files at `a` and `b` hold the same bytes, but where `tagToggled` for the format
// tag at byte 20, which `b` holds toggled; false also when either cannot be read whole.
bool SameBytes(FileSystem& fs, const std::string& a, const std::string& b, bool tagToggled);
