// The tree walk. Folder identities rather than names decide what was visited, so a link that
// Windows or Wine shows as a plain folder, or a second path to the destination, is recognised.
#include "convert/tree.h"

#include <algorithm>
#include <set>
#include <utility>

#include "convert/sound_rules.h"

namespace {

std::vector<std::string> NamesOf(const std::vector<FoundFile>& found) {
  std::vector<std::string> names;
  names.reserve(found.size());
  for (const FoundFile& entry : found) names.push_back(entry.name);
  return names;
}

}  // namespace

Tree WalkTree(const std::string& top, const std::string& skip, FileSystem& fs, Pick pick,
              bool descend) {
  struct Pending {
    std::string folder;
    std::string relative;
    int parent;
  };
  const std::string skipIdentity = fs.FolderIdentity(skip);
  std::set<std::string> seen;
  Tree tree;
  std::vector<Pending> pending{{top, "", -1}};
  while (!pending.empty()) {
    const Pending next = std::move(pending.back());
    pending.pop_back();
    const std::string identity = fs.FolderIdentity(next.folder);
    if (identity.empty() || !seen.insert(identity).second) continue;
    if (next.parent >= 0 && identity == skipIdentity) continue;
    const int index = static_cast<int>(tree.folders.size());
    tree.folders.push_back({next.relative, next.parent, next.parent < 0});

    std::vector<std::string> files;
    if (pick == Pick::EverySound) {
      files = SoundFilesIn(next.folder, fs);
    } else {
      // The window's rule takes the .wav files where there are any; the .med files it passes
      // over are counted, so that the user can be told.
      std::vector<std::string> wavs;
      std::vector<std::string> meds;
      if (pick != Pick::MedFiles) wavs = NamesOf(fs.FindFiles(next.folder + "\\*.wav"));
      if (pick != Pick::WavFiles) meds = NamesOf(fs.FindFiles(next.folder + "\\*.med"));
      const bool takeWavs = pick == Pick::WavFiles || (pick == Pick::WindowRule && !wavs.empty());
      if (takeWavs) tree.folders.back().leftOut = static_cast<int>(meds.size());
      files = takeWavs ? std::move(wavs) : std::move(meds);
    }
    std::sort(files.begin(), files.end());
    for (const std::string& name : files) {
      tree.files.push_back(next.relative + name);
      tree.folderOf.push_back(index);
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

std::vector<std::string> SoundFilesIn(const std::string& folder, FileSystem& fs) {
  std::vector<std::string> names;
  for (const char* pattern : {"\\*.med", "\\*.wav"}) {
    for (const FoundFile& found : fs.FindFiles(folder + pattern)) names.push_back(found.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool MakeTreeFolder(Tree& tree, int index, const std::string& destTop, FileSystem& fs) {
  // The top is made from the start, so the climb ends there at the latest.
  std::vector<int> missing;
  for (int i = index; !tree.folders[static_cast<std::size_t>(i)].made;
       i = tree.folders[static_cast<std::size_t>(i)].parent) {
    missing.push_back(i);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    TreeFolder& folder = tree.folders[static_cast<std::size_t>(*it)];
    std::string path = destTop + '\\' + folder.relative;
    path.pop_back();  // the relative path ends in '\', which the folder's own name must not
    if (!fs.MakeFolder(path)) return false;
    folder.made = true;
  }
  return true;
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
