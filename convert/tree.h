// Which files a run takes: one file as SOURCE, a folder by the window's rule or by kind, or with
// --recursive a whole tree.
#pragma once

#include <string>
#include <vector>

#include "convert/file_system.h"

// Which files of a folder are converted: the window's rule (its .wav files if it has any, else
// its .med files), every file of one kind, every sound of both kinds (for --info), or every file
// (for a restore).
enum class Pick { WindowRule, MedFiles, WavFiles, EverySound, EveryFile };

struct TreeFolder {
  std::string relative;  // path below the top, each part followed by '\'; empty for the top
  int parent = -1;       // index of the folder holding this one; -1 for the top
  int leftOut = 0;       // .med files the window's rule passes over for the folder's .wav files
};

struct Tree {
  std::vector<TreeFolder> folders;
  std::vector<std::string> files;  // each file's path below the top, in the order visited
  std::vector<int> folderOf;       // index into `folders` of each file's folder
  std::vector<FoundFile> found;    // each file's size and time of change, as the search gave
};

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

// Visits `top` and, with `descend`, the folders under it, depth first in sorted name order;
// each contributes the files `pick` chooses, sorted. Links to folders, folders seen before and
// each of `skip` with everything under it (unless it is `top` itself) are left out.
Tree WalkTree(const std::string& top, const std::vector<std::string>& skip, FileSystem& fs,
              Pick pick = Pick::WindowRule, bool descend = true);
