// Selection rules of the command line. Names are compared in ASCII case only: that is what a
// case-insensitive search matches on every platform this runs on.
#include "cli/select.h"

#include <algorithm>

#include "cli/verdict.h"
#include "convert/sound_rules.h"

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

std::string MixedFolderNotices(const Tree& tree, const std::string& top) {
  std::string notices;
  for (std::size_t i = 0; i < tree.folders.size(); ++i) {
    const TreeFolder& folder = tree.folders[i];
    if (folder.leftOut == 0) continue;
    const auto wavs = std::count(tree.folderOf.begin(), tree.folderOf.end(), static_cast<int>(i));
    std::string shown = WithTrailingBackslash(top) + folder.relative;
    shown.pop_back();
    notices += shown + ": " + Counted(static_cast<std::uint64_t>(wavs), ".wav file") +
               " converted, " + Counted(static_cast<std::uint64_t>(folder.leftOut), ".med file") +
               " left out; --to wav converts them\n";
  }
  return notices;
}

OutputOnDisk FindOutputOnDisk(FileSystem& fs, const std::string& destFolder,
                              const std::string& outputName, const LeadByteSet& leadBytes) {
  OutputOnDisk result{outputName, {}};
  if (fs.NamesIgnoreCase() || outputName.empty()) return result;
  const std::string folder = FolderPartOf(outputName, leadBytes);
  const std::string wanted = ToLowerAscii(outputName.substr(folder.size()));
  // A search by a plain name may stop at the file of exactly that name; a wildcard in its
  // place makes it list every name that could match.
  std::string pattern = destFolder + outputName;
  pattern.back() = '?';
  for (const FoundFile& found : fs.FindFiles(pattern)) {
    if (ToLowerAscii(found.name) == wanted) result.clashes.push_back(found.name);
  }
  if (result.clashes.size() == 1) result.name = folder + result.clashes.front();
  if (result.clashes.size() < 2) result.clashes.clear();
  std::sort(result.clashes.begin(), result.clashes.end());
  return result;
}

std::string ClashLine(const std::string& destPath, const std::vector<std::string>& clashes) {
  std::string names;
  for (const std::string& name : clashes) names += (names.empty() ? "" : ", ") + name;
  return "refused: \"" + destPath + "\" has " + std::to_string(clashes.size()) +
         " files whose names differ from it only in letter case (" + names + "); keep one of them";
}
