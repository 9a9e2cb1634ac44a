// The batch job: pre-checks, then each listed file copied with its format tag toggled,
// written under a temporary name and moved over the output name only when complete.
#include "convert/batch.h"

#include <algorithm>
#include <string>
#include <vector>

#include "convert/progress.h"
#include "convert/sound_rules.h"

bool Converting = false;

namespace {

// Sizes, offsets and counts are signed 32-bit values in the file's step: 2 GiB and more is
// refused whole, never converted cut short.
constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;
// A header shorter than this has no complete format tag.
constexpr std::uint32_t kMinHeaderBytes = kFormatTagOffset + 2;
constexpr int kTempNameAttempts = 1000;

enum class FileOutcome { Converted, Failed, Aborted };

struct Batch {
  BatchUi& ui;
  FileSystem& fs;
  std::string sourceFolder;
  std::string destFolder;
  LeadByteSet leadBytes;
  int tempSerial = 1;
};

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

void ShowError(Batch& batch, const std::string& text) {
  batch.ui.ShowMessage(text, "Error", MessageIcon::Error);
}

// A temporary name no longer than `room` bytes, empty when none fits: "~N.tmp", or "~N" in
// the room of a four-byte output name such as ".wav". A leading '~' starts no reserved device
// name and keeps the name a valid short one.
std::string TempName(std::size_t room, int serial) {
  const std::string name = "~" + std::to_string(serial);
  if (name.size() + 4 <= room) return name + ".tmp";
  return name.size() <= room ? name : std::string();
}

// Creates the output's temporary file in the output's own folder, so the final move never
// crosses into another volume mounted below the destination.
NewFile CreateTemp(Batch& batch, const std::string& outputName, std::string& tempPath) {
  const std::string outputFolder = FolderPartOf(outputName, batch.leadBytes);
  return CreateTempFile(batch.fs, batch.destFolder + outputFolder,
                        outputName.size() - outputFolder.size(), batch.tempSerial, tempPath);
}

// Reads the header, refusing files too large to hold or without a complete header that is
// accepted, unless `anyHeader` (an output written anew, not by toggling the tag).
FileOutcome CheckSource(Batch& batch, FileHandle source, const std::string& sourcePath,
                        std::uint64_t size, SoundHeader& header, bool anyHeader) {
  if (size > kMaxFileSize) {
    batch.fs.Close(source);
    ShowError(batch, "File too large " + Quoted(sourcePath));
    return FileOutcome::Failed;
  }
  std::uint32_t headerBytes = batch.fs.Read(source, header.data(), 12);
  if (headerBytes == 12) headerBytes += batch.fs.Read(source, header.data() + 12, 28);
  // A file whose size holds a whole tag but whose read came back short changed or failed while
  // it was read: its format is not what is wrong.
  const bool readShort = size >= kMinHeaderBytes && headerBytes < kMinHeaderBytes;
  if (readShort || size < kMinHeaderBytes || (!anyHeader && !IsAcceptedHeader(header))) {
    batch.fs.Close(source);
    ShowError(batch, readShort ? "Error read file " + Quoted(sourcePath) : kNotSupportedText);
    return FileOutcome::Failed;
  }
  return FileOutcome::Converted;
}

// Writes the toggled tag of `header` over the copy's own at kFormatTagOffset.
bool WriteToggledTag(FileSystem& fs, FileHandle file, const SoundHeader& header) {
  std::uint8_t bytes[2] = {header[kFormatTagOffset], header[kFormatTagOffset + 1]};
  ToggleTagBytes(bytes);
  return fs.SeekSet(file, kFormatTagOffset) && fs.Write(file, bytes, 2) == 2;
}

// Moves the finished temporary output over the output name, or removes it.
FileOutcome PlaceOutput(Batch& batch, FileHandle temp, const std::string& tempPath,
                        const std::string& destPath) {
  const ReplaceResult replaced = batch.fs.CloseAndReplace(temp, tempPath, destPath);
  if (replaced != ReplaceResult::Replaced) {
    batch.fs.Remove(tempPath);
    ShowError(batch,
              (replaced == ReplaceResult::NotFlushed ? "Error write file " : "Error create file ") +
                  Quoted(destPath));
    return FileOutcome::Failed;
  }
  return FileOutcome::Converted;
}

// `bytes`: written to the output; `read`: the source's size, the batch's measure of progress.
FileOutcome ConvertOne(Batch& batch, int index, const FileStep& step, std::uint64_t& bytes,
                       std::uint64_t& read) {
  FileSystem& fs = batch.fs;
  const std::string name = batch.ui.List().Item(index);
  const std::string sourcePath = batch.sourceFolder + name;
  const std::string& outputName = step.outputName;
  const std::string destPath = batch.destFolder + outputName;

  const FileHandle source = fs.OpenRead(sourcePath);
  if (source == kInvalidFile) {
    ShowError(batch, "Error open file " + Quoted(sourcePath));
    return FileOutcome::Failed;
  }
  // An abort confirmed in the last pump or while an error box showed stops here, before
  // anything is written for this file.
  if (!Converting) {
    fs.Close(source);
    return FileOutcome::Aborted;
  }

  const std::uint64_t size = fs.Size(source);
  SoundHeader header{};
  if (CheckSource(batch, source, sourcePath, size, header, static_cast<bool>(step.write)) !=
      FileOutcome::Converted) {
    return FileOutcome::Failed;
  }
  const auto length = static_cast<std::uint32_t>(size);

  std::string tempPath;
  const NewFile temp = CreateTemp(batch, outputName, tempPath);
  if (temp.result != CreateResult::Created) {
    fs.Close(source);
    ShowError(batch, "Error create file " + Quoted(destPath));
    return FileOutcome::Failed;
  }

  read = size;
  if (step.write) {
    fs.Close(source);
    if (!step.write(fs, temp.file, bytes)) {
      fs.Close(temp.file);
      fs.Remove(tempPath);
      return FileOutcome::Failed;
    }
    return PlaceOutput(batch, temp.file, tempPath, destPath);
  }

  // The whole file is copied from its first byte, then the tag read with the header, toggled,
  // is written over the copied one. A copy of whole blocks from offset 0 is one a file system
  // can share rather than duplicate, and no block of the output is ever written in part.
  const CopyCount copied =
      fs.SeekSet(source, 0) ? fs.CopyBody(source, temp.file, length) : CopyCount{};
  // A source that is still growing (another program writing it, where sharing allows that)
  // would otherwise be converted cut short and reported as done.
  std::uint8_t extra = 0;
  const bool readAll = copied.read == length && fs.Read(source, &extra, 1) == 0;
  fs.Close(source);
  const bool wroteAll =
      copied.written == copied.read && (!readAll || WriteToggledTag(fs, temp.file, header));
  if (!wroteAll || !readAll) {
    fs.Close(temp.file);
    fs.Remove(tempPath);
    ShowError(batch, wroteAll ? "Error read file " + Quoted(sourcePath)
                              : "Error write file " + Quoted(destPath));
    return FileOutcome::Failed;
  }
  bytes = size;
  return PlaceOutput(batch, temp.file, tempPath, destPath);
}

bool PrecheckFails(BatchUi& ui, const std::string& text) {
  ui.ShowMessage(text, "Error", MessageIcon::Error);
  return true;
}

void SetIdle(BatchUi& ui) {
  ui.SetCurrentBar(0);
  ui.SetTotalBar(0);
  ui.EnableBrowse(true);
  ui.SetConvertCaption("Convert");
  ui.SetConvertTip("Start converting");
  Converting = false;
}

}  // namespace

// Its path is never longer than the output's, so every output the platform can create has a
// temporary file it can create too. The name is never one that exists already, so a user's own
// file of that name is never touched.
NewFile CreateTempFile(FileSystem& fs, const std::string& folder, std::size_t room, int& serial,
                       std::string& path) {
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    const std::string name = TempName(room, serial);
    if (name.empty()) break;
    path = folder + name;
    const NewFile temp = fs.CreateNew(path);
    if (temp.result != CreateResult::AlreadyExists) return temp;
    ++serial;
  }
  return {};
}

// Zero free clusters is a real answer.
bool NotEnoughSpace(FileSystem& fs, const std::string& destFolder, std::uint64_t totalBytes) {
  const DiskSpace space = fs.DiskFree(fs.VolumeRoot(destFolder));
  if (space.sectorsPerCluster == 0 || space.bytesPerSector == 0 || space.totalClusters == 0) {
    return false;
  }
  const std::uint64_t needed = totalBytes / space.sectorsPerCluster / space.bytesPerSector;
  return needed > space.freeClusters;
}

std::uint64_t ListedBytes(FileSystem& fs, const std::string& sourceFolder, const FileList& list) {
  const LeadByteSet leadBytes = fs.LeadBytes();
  const auto byName = [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; };
  std::vector<FoundFile> listing;  // of `listed`, sorted by name
  std::string listed;
  bool haveListing = false;
  std::uint64_t total = 0;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string item = list.Item(i);
    const std::string folder = FolderPartOf(item, leadBytes);
    if (!haveListing || folder != listed) {
      listing = fs.FindFiles(sourceFolder + folder + "*");
      std::sort(listing.begin(), listing.end(), byName);
      listed = folder;
      haveListing = true;
    }
    const FoundFile wanted{item.substr(folder.size()), 0, 0, false};
    const auto at = std::lower_bound(listing.begin(), listing.end(), wanted, byName);
    if (at != listing.end() && at->name == wanted.name) {
      total += at->size;
      continue;
    }
    const std::vector<FoundFile> found = fs.FindFiles(sourceFolder + item);
    if (!found.empty()) total += found.front().size;
  }
  return total;
}

BatchSummary ConvertBatch(BatchUi& ui, FileSystem& fs, FileSteps* steps) {
  BatchSummary summary;
  const std::string sourceText = ui.SourceText();
  if (sourceText.empty() && PrecheckFails(ui, "Please select files first")) return summary;
  const std::string destText = ui.DestText();
  if (destText.empty() && PrecheckFails(ui, "Please select destination path")) return summary;
  Batch batch{ui, fs, WithTrailingBackslash(sourceText), WithTrailingBackslash(destText),
              fs.LeadBytes()};

  FileList& list = ui.List();
  const int count = list.Count();
  const std::uint64_t totalBytes = ListedBytes(fs, batch.sourceFolder, list);
  if (NotEnoughSpace(fs, batch.destFolder, totalBytes) &&
      PrecheckFails(ui, "Not enough free space on destination path")) {
    return summary;
  }

  summary.started = true;
  summary.listed = count > 0 ? count : 0;
  ui.EnableBrowse(false);
  ui.SetConvertCaption("Cancel");
  ui.SetConvertTip("Abort converting");
  std::uint64_t doneBytes = 0;
  Converting = true;

  for (int i = 0; i < count; ++i) {
    ui.SetCurrentBar(0);
    list.Select(i);
    const FileStep step =
        steps != nullptr ? steps->StepFor(i)
                         : FileStep{true, OutputNameFor(list.Item(i), batch.leadBytes), nullptr};
    if (!step.admitted) {
      ++summary.failed;
      continue;
    }
    std::uint64_t bytes = 0, read = 0;
    const FileOutcome outcome = ConvertOne(batch, i, step, bytes, read);
    if (steps != nullptr && outcome != FileOutcome::Aborted)
      steps->Done(i, outcome == FileOutcome::Converted);
    if (outcome == FileOutcome::Aborted) {
      summary.skipped = count - i;
      break;
    }
    if (outcome == FileOutcome::Failed) {
      ++summary.failed;
      continue;
    }
    ++summary.converted;
    summary.bytesWritten += bytes;
    // A file written anew (a fit) is no longer than its source, but it is done all the same.
    doneBytes += read;
    ui.SetTotalBar(TotalPercent(doneBytes, totalBytes));
    ui.Pump();
  }

  ui.ShowMessage("Done", "Information", MessageIcon::Information);
  SetIdle(ui);
  return summary;
}
