// The copy behind a backup and a restore, through the file system seam, and the byte comparison
// that tells an output already there.
#include "convert/keep.h"

#include <algorithm>
#include <vector>

#include "convert/batch.h"
#include "convert/sound_rules.h"

namespace {

constexpr std::uint32_t kCompareBytes = 64 * 1024;
// As the batch refuses a source: sizes and offsets are 32-bit values in the seam's copy.
constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;

std::string Line(const std::string& what, const std::string& path, FileSystem& fs) {
  const std::string reason = fs.TakeErrorText();
  return what + " \"" + path + "\"" + (reason.empty() ? "" : ": " + reason);
}

}  // namespace

bool MakeFoldersFor(FileSystem& fs, const std::string& top, const std::string& path) {
  const LeadByteSet leadBytes = fs.LeadBytes();
  std::string folder = FolderPartOf(path, leadBytes);
  std::vector<std::string> missing;
  while (folder.size() > top.size() &&
         fs.KindOfPath(folder.substr(0, folder.size() - 1)) != PathKind::Folder) {
    missing.push_back(folder.substr(0, folder.size() - 1));
    folder = FolderPartOf(missing.back(), leadBytes);
  }
  return std::all_of(missing.rbegin(), missing.rend(),
                     [&fs](const std::string& each) { return fs.MakeFolder(each); });
}

CopyResult CopyInto(FileSystem& fs, const std::string& fromFolder, const std::string& toFolder,
                    const std::string& name, bool replace) {
  CopyResult result;
  const std::string from = fromFolder + name, to = toFolder + name;
  fs.TakeErrorText();
  if (fs.KindOfPath(to) != PathKind::Missing) {
    if (!replace) return {CopyOutcome::Kept, 0, ""};
    if (SameBytes(fs, from, to, false)) return {CopyOutcome::Same, 0, ""};
  }
  const FileHandle source = fs.OpenRead(from);
  if (source == kInvalidFile) {
    result.error = Line("Error open file", from, fs);
    return result;
  }
  const std::uint64_t size = fs.Size(source);
  std::string tempPath;
  int serial = 1;
  const std::string folder = FolderPartOf(to, fs.LeadBytes());
  const NewFile temp =
      size > kMaxFileSize || !MakeFoldersFor(fs, toFolder, to)
          ? NewFile{}
          : CreateTempFile(fs, folder, to.size() - folder.size(), serial, tempPath);
  if (temp.result != CreateResult::Created) {
    fs.Close(source);
    result.error =
        size > kMaxFileSize ? "File too large \"" + from + "\"" : Line("Error create file", to, fs);
    return result;
  }
  const CopyCount copied = fs.CopyBody(source, temp.file, static_cast<std::uint32_t>(size));
  std::uint8_t extra = 0;
  const bool readAll = copied.read == size && fs.Read(source, &extra, 1) == 0;
  fs.Close(source);
  const ReplaceResult placed = readAll && copied.written == copied.read
                                   ? fs.CloseAndReplace(temp.file, tempPath, to)
                                   : ReplaceResult::NotFlushed;
  if (placed != ReplaceResult::Replaced) {
    if (!readAll || copied.written != copied.read) fs.Close(temp.file);
    fs.Remove(tempPath);
    result.error = !readAll                              ? Line("Error read file", from, fs)
                   : placed == ReplaceResult::NotFlushed ? Line("Error write file", to, fs)
                                                         : Line("Error create file", to, fs);
    return result;
  }
  return {CopyOutcome::Copied, size, ""};
}

bool SameBytes(FileSystem& fs, const std::string& a, const std::string& b, bool tagToggled) {
  const FileHandle from = fs.OpenRead(a);
  if (from == kInvalidFile) return false;
  const FileHandle to = fs.OpenRead(b);
  const std::uint64_t size = fs.Size(from);
  bool same =
      to != kInvalidFile && size == fs.Size(to) && (!tagToggled || size >= kFormatTagOffset + 2);
  std::vector<std::uint8_t> first(kCompareBytes), second(kCompareBytes);
  for (std::uint64_t offset = 0; same && offset < size;) {
    const std::uint32_t got = fs.Read(from, first.data(), kCompareBytes);
    // A read that fails or comes back short leaves the two not known to be the same.
    same = got != 0 && fs.Read(to, second.data(), got) == got;
    if (same && tagToggled && offset <= kFormatTagOffset && kFormatTagOffset + 2 <= offset + got)
      ToggleTagBytes(first.data() + (kFormatTagOffset - offset));
    same = same && std::equal(first.begin(), first.begin() + got, second.begin());
    offset += got;
  }
  fs.Close(from);
  if (to != kInvalidFile) fs.Close(to);
  return same;
}
