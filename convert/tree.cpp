// The tree walk. Folder identities rather than names decide what was visited, so a link that
// Windows or Wine shows as a plain folder, or a second path to the destination, is recognised.
#include "convert/tree.h"

#include <algorithm>
#include <set>
#include <utility>

#include "convert/sound_rules.h"

namespace {

std::vector<FoundFile> FilesOnly(std::vector<FoundFile> found) {
  found.erase(std::remove_if(found.begin(), found.end(),
                             [](const FoundFile& entry) { return entry.folder; }),
              found.end());
  return found;
}

// The files of `folder` that `pick` takes, and for the window's rule the number it leaves out. A
// folder named as a sound file is taken as the window's scan takes it, and fails as a file.
std::vector<FoundFile> Picked(const std::string& folder, Pick pick, FileSystem& fs, int& leftOut) {
  if (pick == Pick::EveryFile) return FilesOnly(fs.FindFiles(folder + "\\*"));
  std::vector<FoundFile> wavs, meds;
  if (pick != Pick::MedFiles) wavs = fs.FindFiles(folder + "\\*.wav");
  if (pick != Pick::WavFiles) meds = fs.FindFiles(folder + "\\*.med");
  if (pick == Pick::EverySound) {
    meds.insert(meds.end(), wavs.begin(), wavs.end());
    return meds;
  }
  // The window's rule takes the .wav files where there are any; the .med files it passes over
  // are counted, so that the user can be told.
  const bool takeWavs = pick == Pick::WavFiles || (pick == Pick::WindowRule && !wavs.empty());
  if (takeWavs) leftOut = static_cast<int>(meds.size());
  return takeWavs ? wavs : meds;
}

}  // namespace

Tree WalkTree(const std::string& top, const std::vector<std::string>& skip, FileSystem& fs,
              Pick pick, bool descend) {
  struct Pending {
    std::string folder;
    std::string relative;
    int parent;
  };
  std::set<std::string> skipped;
  for (const std::string& folder : skip) skipped.insert(fs.FolderIdentity(folder));
  std::set<std::string> seen;
  Tree tree;
  std::vector<Pending> pending{{top, "", -1}};
  while (!pending.empty()) {
    const Pending next = std::move(pending.back());
    pending.pop_back();
    const std::string identity = fs.FolderIdentity(next.folder);
    if (identity.empty() || !seen.insert(identity).second) continue;
    if (next.parent >= 0 && skipped.count(identity) != 0) continue;
    const int index = static_cast<int>(tree.folders.size());
    tree.folders.push_back({next.relative, next.parent, 0});
    std::vector<FoundFile> files = Picked(next.folder, pick, fs, tree.folders.back().leftOut);
    std::sort(files.begin(), files.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
    for (const FoundFile& file : files) {
      tree.files.push_back(next.relative + file.name);
      tree.folderOf.push_back(index);
      tree.found.push_back(file);
    }
    if (!descend) break;
    // Taken from the back, so the last pushed, the first in sorted order, comes next.
    std::vector<std::string> subfolders = fs.SubfolderNames(next.folder);
    std::sort(subfolders.rbegin(), subfolders.rend());
    for (const std::string& name : subfolders) {
      pending.push_back({next.folder + '\\' + name, next.relative + name + '\\', index});
    }
  }
  return tree;
}

PathParts SplitPath(std::string path, const LeadByteSet& leadBytes) {
  // No double-byte character holds a '/' byte, so each is a separator, as the file system
  // reads it.
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::string folder = FolderPartOf(path, leadBytes);
  const std::string name = path.substr(folder.size());
  // A root keeps its separator: "C:" alone is drive C's current folder, not its root.
  if (folder.empty()) {
    folder = ".";
  } else if (folder.size() > 1 && folder[folder.size() - 2] != ':') {
    folder.pop_back();
  }
  return {folder, name};
}

std::string SingleFileRefusal(const std::string& name, const std::string& to,
                              const LeadByteSet& leadBytes) {
  const std::string ext = ToLowerAscii(ExtensionOf(name, leadBytes));
  if (ext != ".med" && ext != ".wav") return "is not a .med or .wav file";
  if (!to.empty() && ext == "." + to) return "is already a ." + to + " file";
  return "";
}
