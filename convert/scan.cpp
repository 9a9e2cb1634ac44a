// The scan runs both searches in turn so that ".wav" names replace any ".med" names.
#include "convert/scan.h"

#include <vector>

namespace {

void ReplaceIfFound(const std::vector<FoundFile>& found, FileList& list) {
  if (found.empty()) return;
  list.Clear();
  for (const FoundFile& entry : found) list.Add(entry.name);
}

}  // namespace

void ScanFolder(const std::string& folder, FileList& list, FileSystem& fs) {
  // The backslash is inserted even after a drive root's own; the search takes "C:\\*.med".
  ReplaceIfFound(fs.FindFiles(folder + "\\*.med"), list);
  ReplaceIfFound(fs.FindFiles(folder + "\\*.wav"), list);
}
