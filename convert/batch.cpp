// The batch job: pre-checks, then each listed file copied whole with its format tag toggled,
// written under a temporary name and moved over the output name only when complete.
#include "convert/batch.h"

#include <memory>
#include <new>
#include <string>

#include "convert/progress.h"
#include "convert/sound_rules.h"

bool Converting = false;

namespace {

// The whole-file buffer is requested with a signed 32-bit size.
constexpr std::uint64_t kMaxFileSize = 0x7FFFFFFF;
// A header shorter than this has no complete format tag.
constexpr std::uint32_t kMinHeaderBytes = kFormatTagOffset + 2;
constexpr int kTempNameAttempts = 1000;
constexpr std::uint32_t kBufferStep = 1u << 20;

enum class FileOutcome { Converted, Failed, Aborted };

struct Batch {
  BatchUi& ui;
  FileSystem& fs;
  std::string sourceFolder;
  std::string destFolder;
  LeadByteSet leadBytes;
  int tempSerial = 1;
  // The whole-file buffer, kept from file to file and grown only for a larger one: fresh
  // memory costs a page fault per page on first touch, more than the copy itself. Each file
  // fills its own length before anything is written, so no byte of an earlier file leaks.
  std::unique_ptr<std::uint8_t[]> buffer{};
  std::uint32_t bufferSize = 0;
};

std::string Quoted(const std::string& path) {
  return "\"" + path + "\"";
}

void ShowError(Batch& batch, const std::string& text) {
  batch.ui.ShowMessage(text, "Error", MessageIcon::Error);
}

// Creates a fresh temporary file in the destination folder. The name is never one that
// exists already, so a user's own file of that name is never touched.
NewFile CreateTemp(Batch& batch, std::string& tempPath) {
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    tempPath = batch.destFolder + "~tonequay-" + std::to_string(batch.tempSerial) + ".tmp";
    const NewFile temp = batch.fs.CreateNew(tempPath);
    if (temp.result != CreateResult::AlreadyExists) return temp;
    ++batch.tempSerial;
  }
  return {};
}

// Reads the header, refusing files too large to hold or without a complete, accepted header.
FileOutcome CheckSource(Batch& batch, FileHandle source, const std::string& sourcePath,
                        std::uint64_t size, SoundHeader& header) {
  if (size > kMaxFileSize) {
    batch.fs.Close(source);
    ShowError(batch, "File too large " + Quoted(sourcePath));
    return FileOutcome::Failed;
  }
  std::uint32_t headerBytes = batch.fs.Read(source, header.data(), 12);
  if (headerBytes == 12) headerBytes += batch.fs.Read(source, header.data() + 12, 28);
  if (size < kMinHeaderBytes || headerBytes < kMinHeaderBytes || !IsAcceptedHeader(header)) {
    batch.fs.Close(source);
    ShowError(batch, "Not supported MED file");
    return FileOutcome::Failed;
  }
  return FileOutcome::Converted;
}

// The shared buffer, at least `length` bytes long; null when that much cannot be had. It grows
// in whole steps, so files of nearly the same size share one allocation; only the bytes a
// file fills are ever touched, so the step costs address space, not memory.
std::uint8_t* BufferFor(Batch& batch, std::uint32_t length) {
  if (length <= batch.bufferSize) return batch.buffer.get();
  // The old buffer goes first, so a larger file never needs room for both.
  batch.buffer.reset();
  batch.bufferSize = 0;
  // `length` is at most kMaxFileSize, so the rounded size cannot overflow.
  const std::uint32_t stepped = (length + kBufferStep - 1) / kBufferStep * kBufferStep;
  for (const std::uint32_t size : {stepped, length}) {
    batch.buffer.reset(new (std::nothrow) std::uint8_t[size]);
    if (batch.buffer) {
      batch.bufferSize = size;
      break;
    }
  }
  return batch.buffer.get();
}

FileOutcome ConvertOne(Batch& batch, const std::string& name, std::uint64_t& bytes) {
  FileSystem& fs = batch.fs;
  const std::string sourcePath = batch.sourceFolder + name;
  const std::string destPath = batch.destFolder + OutputNameFor(name, batch.leadBytes);

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
  if (CheckSource(batch, source, sourcePath, size, header) != FileOutcome::Converted) {
    return FileOutcome::Failed;
  }
  const auto length = static_cast<std::uint32_t>(size);
  std::uint8_t* const buffer = BufferFor(batch, length);
  if (buffer == nullptr) {
    fs.Close(source);
    ShowError(batch, "File too large " + Quoted(sourcePath));
    return FileOutcome::Failed;
  }

  std::string tempPath;
  const NewFile temp = CreateTemp(batch, tempPath);
  if (temp.result != CreateResult::Created) {
    fs.Close(source);
    ShowError(batch, "Error create file " + Quoted(destPath));
    return FileOutcome::Failed;
  }

  // A source that is still growing (another program writing it, where sharing allows that)
  // would otherwise be converted cut short and reported as done.
  std::uint8_t extra = 0;
  const bool readAll = fs.SeekSet(source, 0) && fs.Read(source, buffer, length) == length &&
                       fs.Read(source, &extra, 1) == 0;
  fs.Close(source);
  if (!readAll) {
    fs.Close(temp.file);
    fs.Remove(tempPath);
    ShowError(batch, "Error read file " + Quoted(sourcePath));
    return FileOutcome::Failed;
  }

  // The tag comes from the header read earlier; the rest of the file is copied as it is.
  const std::uint16_t tag = ToggleFormatTag(FormatTagOf(header));
  header[kFormatTagOffset] = static_cast<std::uint8_t>(tag & 0xFF);
  header[kFormatTagOffset + 1] = static_cast<std::uint8_t>(tag >> 8);
  buffer[kFormatTagOffset] = header[kFormatTagOffset];
  buffer[kFormatTagOffset + 1] = header[kFormatTagOffset + 1];

  const bool wroteAll = fs.Write(temp.file, buffer, length) == length;
  const bool closed = fs.Close(temp.file);
  if (!wroteAll || !closed) {
    fs.Remove(tempPath);
    ShowError(batch, "Error write file " + Quoted(destPath));
    return FileOutcome::Failed;
  }
  if (!fs.Replace(tempPath, destPath)) {
    fs.Remove(tempPath);
    ShowError(batch, "Error create file " + Quoted(destPath));
    return FileOutcome::Failed;
  }
  bytes = size;
  return FileOutcome::Converted;
}

bool PrecheckFails(BatchUi& ui, const std::string& text) {
  ui.ShowMessage(text, "Error", MessageIcon::Error);
  return true;
}

// Too little room only when the volume answered; a failed query (a UNC or relative folder)
// leaves the per-file errors to report a full disk. Zero free clusters is a real answer.
bool NotEnoughSpace(FileSystem& fs, const std::string& destFolder, std::uint64_t totalBytes) {
  const DiskSpace space = fs.DiskFree(fs.VolumeRoot(destFolder));
  if (space.sectorsPerCluster == 0 || space.bytesPerSector == 0 || space.totalClusters == 0) {
    return false;
  }
  const std::uint64_t needed = totalBytes / space.sectorsPerCluster / space.bytesPerSector;
  return needed > space.freeClusters;
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

BatchSummary ConvertBatch(BatchUi& ui, FileSystem& fs) {
  BatchSummary summary;
  const std::string sourceText = ui.SourceText();
  if (sourceText.empty() && PrecheckFails(ui, "Please select files first")) return summary;
  const std::string destText = ui.DestText();
  if (destText.empty() && PrecheckFails(ui, "Please select destination path")) return summary;
  Batch batch{ui, fs, WithTrailingBackslash(sourceText), WithTrailingBackslash(destText),
              fs.LeadBytes()};

  FileList& list = ui.List();
  const int count = list.Count();
  std::uint64_t totalBytes = 0;
  for (int i = 0; i < count; ++i) {
    const std::vector<FoundFile> found = fs.FindFiles(batch.sourceFolder + list.Item(i));
    if (!found.empty()) totalBytes += found.front().size;
  }
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
    std::uint64_t bytes = 0;
    const FileOutcome outcome = ConvertOne(batch, list.Item(i), bytes);
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
    doneBytes += bytes;
    ui.SetTotalBar(TotalPercent(doneBytes, totalBytes));
    ui.Pump();
  }

  ui.ShowMessage("Done", "Information", MessageIcon::Information);
  SetIdle(ui);
  return summary;
}
