// Fuzzes the batch over the in-memory file system: the files, their contents and names, the
// list, the free space, one failing operation, a source that changes while it is read, and an
// abort. A model replays what the window showed, file by file, and the file system must end
// exactly as the model says: each output the input with its tag toggled, each other file as
// it was, no temporary file left, and one box per failed file plus one "Done".
//
// Input, in order: a setup byte, a disk byte, a fault op and call number, a source-change
// read number and size, an abort byte, a file count, each file's bytes (see TakeFile), a list
// length and the list's file indices.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "convert/batch.h"
#include "convert/sound_rules.h"
#include "fakes/fake_batch_ui.h"
#include "fakes/fake_file_system.h"
#include "fuzz/fuzz_input.h"

namespace {

using Bytes = FakeFileSystem::Bytes;
using Files = std::map<std::string, Bytes>;

constexpr char kSourceFolder[] = "D:\\snd";
constexpr char kDestFolder[] = "E:\\out";
constexpr unsigned kMaxFiles = 6;
constexpr unsigned kMaxList = 8;
constexpr std::size_t kMaxBody = 96;

enum class DestKind { None, File, Folder, ReadOnly, Locked };

struct SourceFile {
  std::string name;
  bool present = true;
  bool locked = false;
  Bytes data;
  std::uint64_t reportedSize = 0;  // 0: the real size
  DestKind dest = DestKind::None;
  Bytes destData;
};

// Sizes that disagree with the data: past what the data holds, or too large to convert.
// Sizes from 1 MiB up to 2 GiB would make the batch allocate them, which tells nothing.
constexpr std::uint64_t kLyingSizes[] = {1u << 20, 0x80000000ull, 0x100000016ull,
                                         0xFFFFFFFFFFFFFFFFull};

std::string TakeName(FuzzInput& input) {
  static const char* const kCommon[] = {"a.med",   "A.MED", "b.wav",    "c",
                                        "x.y.med", ".med",  "\x82.med", "d.Med"};
  std::string name = input.Bool() ? std::string(kCommon[input.Pick(8)]) : input.String(12);
  // Names the batch takes for its own temporary files stay out of the model's way.
  if (!name.empty() && name[0] == '~') name[0] = '_';
  return name;
}

// A sound file most of the time, so conversions happen; any bytes otherwise.
Bytes TakeContent(FuzzInput& input) {
  const unsigned shape = input.Pick(4);
  const std::string body = input.String(kMaxBody);
  if (shape == 0) return Bytes(body.begin(), body.end());
  Bytes data = {'R', 'I', 'F', 'F', 0,   0,   0,  0, 'W', 'A',
                'V', 'E', 'f', 'm', 't', ' ', 20, 0, 0,   0};
  const std::uint16_t tag = shape == 1 ? kMedFormatTag : shape == 2 ? kWavFormatTag : 1;
  data.push_back(static_cast<std::uint8_t>(tag & 0xFF));
  data.push_back(static_cast<std::uint8_t>(tag >> 8));
  data.insert(data.end(), body.begin(), body.end());
  return data;
}

// A flags byte (present, locked, lying size, destination kind), then the name and contents.
SourceFile TakeFile(FuzzInput& input) {
  SourceFile file;
  const std::uint8_t flags = input.Byte();
  file.present = (flags & 0x07) != 0;
  file.locked = (flags & 0x0F) == 0x09;
  if ((flags & 0x30) == 0x30) file.reportedSize = kLyingSizes[(flags >> 6) & 3];
  file.name = TakeName(input);
  file.data = TakeContent(input);
  file.dest = static_cast<DestKind>(input.Pick(5));
  if (file.dest != DestKind::None && file.dest != DestKind::Folder) {
    const std::string old = input.String(24);
    file.destData.assign(old.begin(), old.end());
  }
  return file;
}

Bytes ConvertedFrom(Bytes data) {
  SoundHeader header{};
  for (std::size_t i = 0; i < header.size() && i < data.size(); ++i) header[i] = data[i];
  const std::uint16_t tag = ToggleFormatTag(FormatTagOf(header));
  data[kFormatTagOffset] = static_cast<std::uint8_t>(tag & 0xFF);
  data[kFormatTagOffset + 1] = static_cast<std::uint8_t>(tag >> 8);
  return data;
}

bool Convertible(const Bytes& data) {
  if (data.size() < kFormatTagOffset + 2) return false;
  SoundHeader header{};
  for (std::size_t i = 0; i < header.size() && i < data.size(); ++i) header[i] = data[i];
  return IsAcceptedHeader(header);
}

std::string PathIn(const std::string& folder, const std::string& name) {
  return folder + "\\" + name;
}

Files Snapshot(const FakeFileSystem& fs) {
  Files files;
  for (const std::string& path : fs.Paths()) files[path] = fs.Data(path);
  return files;
}

bool IsTempName(const std::string& folder, const std::string& path) {
  const std::string prefix = folder + "\\~tonequay-";
  return path.compare(0, prefix.size(), prefix) == 0 && path.size() > prefix.size() + 4 &&
         path.compare(path.size() - 4, 4, ".tmp") == 0;
}

struct Change {
  int item = -1;  // the list entry whose read it happened in
  std::string path;
  std::size_t size = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  // Setup: same folder for both, trailing backslashes, an empty folder text, lead bytes.
  const std::uint8_t setup = input.Byte();
  const bool sameFolder = (setup & 0x01) != 0;
  const std::string sourceFolder = kSourceFolder;
  const std::string destFolder = sameFolder ? sourceFolder : std::string(kDestFolder);
  std::string sourceText = sourceFolder + ((setup & 0x02) != 0 ? "\\" : "");
  std::string destText = destFolder + ((setup & 0x04) != 0 ? "\\" : "");
  if ((setup & 0x38) == 0x38) sourceText.clear();
  if ((setup & 0x38) == 0x30) destText.clear();
  LeadByteSet leadBytes;
  if ((setup & 0x40) != 0) {
    for (unsigned b = 0x81; b <= 0xFE; ++b) leadBytes.set(b);
  }

  FakeFileSystem fs;
  fs.SetLeadBytes(leadBytes);
  fs.AddFolder(sourceFolder);
  if (!sameFolder) fs.AddFolder(destFolder);

  // Disk: the volume's answer (plenty, none, little, failed query) and a write capacity.
  const std::uint8_t disk = input.Byte();
  const DiskSpace answers[] = {
      {8, 512, 1u << 30, 1u << 31}, {8, 512, 0, 1000}, {1, 512, 1, 1000}, {0, 0, 0, 0}};
  fs.SetDiskSpace(answers[disk & 3]);
  const unsigned extraRoom = (disk >> 2) * 8u;  // 0 means no limit

  const FsOp faultOp = kAllFsOps[input.Pick(sizeof kAllFsOps / sizeof kAllFsOps[0])];
  const int faultCall = static_cast<int>(input.Pick(12));   // 0: no fault
  const int changeRead = static_cast<int>(input.Pick(10));  // 0: no source changes
  const std::uint8_t changeSize = input.Byte();
  const std::uint8_t abortAt = input.Byte();  // low bits: which call; 0x80: in a box

  std::vector<SourceFile> files(input.Pick(kMaxFiles + 1));
  for (SourceFile& file : files) file = TakeFile(input);
  std::vector<int> listed(input.Pick(kMaxList + 1));
  for (int& index : listed) index = files.empty() ? -1 : static_cast<int>(input.Pick(files.size()));

  RecordingBatchUi ui;
  ui.sourceText = sourceText;
  ui.destText = destText;
  for (const SourceFile& file : files) {
    const std::string path = PathIn(sourceFolder, file.name);
    if (file.present && !fs.Exists(path)) {
      fs.AddFile(path, file.data);
      if (file.reportedSize != 0) fs.OverrideSize(path, file.reportedSize);
      if (file.locked) fs.LockPath(path);
    }
    const std::string destPath = PathIn(destFolder, OutputNameFor(file.name, leadBytes));
    if (file.dest == DestKind::None || fs.Exists(destPath)) continue;
    if (file.dest == DestKind::Folder) {
      fs.AddFolder(destPath);
      continue;
    }
    fs.AddFile(destPath, file.destData);
    if (file.dest == DestKind::ReadOnly) fs.SetReadOnly(destPath);
    if (file.dest == DestKind::Locked) fs.LockPath(destPath);
  }
  for (int index : listed) {
    ui.list.items.push_back(index < 0 ? std::string("none.med") : files[index].name);
  }
  if (extraRoom != 0) {
    std::uint64_t used = 0;
    for (const auto& item : Snapshot(fs)) used += item.second.size();
    fs.SetCapacity(used + extraRoom);
  }
  if (faultCall != 0) fs.FailOn(faultOp, faultCall);

  // Another program cuts the file being read, between the size query and a read.
  std::vector<Change> changes;
  int reads = 0;
  fs.onRead = [&](const std::string& path) {
    if (++reads != changeRead) return;
    // Shrinking only here; a file that grows while it is read is refused, as the batch tests
    // show.
    const std::size_t newSize = changeSize % (fs.Data(path).size() + 1);
    changes.push_back({ui.list.selected, path, newSize});
    fs.Resize(path, newSize);
  };
  int pumps = 0;
  int boxes = 0;
  bool aborted = false;
  std::size_t partsBeforeAbort = 0;  // files begun when the abort came
  const int abortCall = abortAt & 0x0F;
  const auto abort = [&] {
    Converting = false;
    aborted = true;
    partsBeforeAbort =
        static_cast<std::size_t>(std::count(ui.events.begin(), ui.events.end(), "current 0"));
  };
  ui.onPump = [&] {
    if ((abortAt & 0x80) == 0 && ++pumps == abortCall) abort();
  };
  ui.onMessage = [&](const std::string&) {
    if ((abortAt & 0x80) != 0 && ++boxes == abortCall) abort();
  };

  const Files before = Snapshot(fs);
  Converting = false;
  const BatchSummary summary = ConvertBatch(ui, fs);
  const Files after = Snapshot(fs);
  gFuzzReport = [&] {
    std::fprintf(stderr, "fault: %s call %d; source change at read %d\nlist:\n", FsOpName(faultOp),
                 faultCall, changeRead);
    for (const std::string& item : ui.list.items) std::fprintf(stderr, "  [%s]\n", item.c_str());
    std::fprintf(stderr, "events:\n");
    for (const std::string& event : ui.events) std::fprintf(stderr, "  %s\n", event.c_str());
    std::fprintf(stderr, "files before -> after:\n");
    for (const auto& item : before) {
      std::fprintf(
          stderr, "  [%s] %zu -> %s\n", item.first.c_str(), item.second.size(),
          after.count(item.first) ? std::to_string(after.at(item.first).size()).c_str() : "gone");
    }
    for (const auto& item : after) {
      if (!before.count(item.first)) {
        std::fprintf(stderr, "  [%s] new, %zu\n", item.first.c_str(), item.second.size());
      }
    }
  };

  FUZZ_CHECK(!Converting, "the batch ends idle");
  FUZZ_CHECK(fs.OpenHandles() == 0, "every handle is closed");
  FUZZ_CHECK(fs.Exists(sourceFolder) && fs.Exists(destFolder), "no folder removed");

  const std::vector<std::string>& events = ui.events;
  if (!summary.started) {
    FUZZ_CHECK(events.size() == 1 && events[0].rfind("box Error: ", 0) == 0,
               "a refused batch shows one error box and nothing else");
    FUZZ_CHECK(after == before, "a refused batch changes nothing");
    FUZZ_CHECK(fs.Calls(FsOp::OpenRead) == 0, "a refused batch opens nothing");
    gFuzzReport = nullptr;
    return 0;
  }

  const std::vector<std::string> start = {"browse off", "caption Cancel", "tip Abort converting"};
  const std::vector<std::string> end = {
      "box Information: Done", "current 0",           "total 0", "browse on",
      "caption Convert",       "tip Start converting"};
  FUZZ_CHECK(events.size() >= start.size() + end.size(), "the batch starts and ends");
  FUZZ_CHECK(std::equal(start.begin(), start.end(), events.begin()), "the batch starts busy");
  FUZZ_CHECK(std::equal(end.begin(), end.end(), events.end() - static_cast<long>(end.size())),
             "the batch ends with one Done and idle controls");

  // Each file's part of the sequence starts "current 0" and holds either one error box or the
  // total bar and a pump; only an aborted file has neither, and it is the last one.
  std::vector<std::vector<std::string>> parts;
  for (auto it = events.begin() + static_cast<long>(start.size());
       it != events.end() - static_cast<long>(end.size()); ++it) {
    if (*it == "current 0") parts.emplace_back();
    FUZZ_CHECK(!parts.empty(), "each file starts with the current bar at 0");
    parts.back().push_back(*it);
  }
  const int listedCount = static_cast<int>(ui.list.items.size());
  FUZZ_CHECK(summary.listed == listedCount, "every entry counted");
  FUZZ_CHECK(static_cast<int>(parts.size()) <= listedCount, "no file tried twice");

  Files model = before;
  for (const Change& change : changes) {
    FUZZ_CHECK(change.item >= 0 && change.item < static_cast<int>(parts.size()),
               "reads happen only while a file is converted");
  }
  int converted = 0;
  int failed = 0;
  int abortedParts = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::vector<std::string>& part = parts[i];
    const std::string& name = ui.list.items[i];
    const std::string sourcePath = PathIn(sourceFolder, name);
    const std::string destPath = PathIn(destFolder, OutputNameFor(name, leadBytes));
    // A file converts only when a cut came after its whole content was read (the read that
    // finds its end) or changed nothing, so it converts as it was before the cut.
    const auto found = model.find(sourcePath);
    const Bytes original = found == model.end() ? Bytes{} : found->second;
    for (const Change& change : changes) {
      if (change.item == static_cast<int>(i)) model[change.path].resize(change.size);
    }
    if (part.size() == 1) {
      FUZZ_CHECK(aborted && i + 1 == parts.size(), "a file is left without word only by an abort");
      ++abortedParts;
      continue;
    }
    // After an abort the batch stops at the first file that opens, before writing anything.
    FUZZ_CHECK(!aborted || i < partsBeforeAbort ||
                   part[1] == "box Error: Error open file \"" + sourcePath + "\"",
               "no file after an abort is converted or even read");
    if (part.size() == 3 && part[1].rfind("total ", 0) == 0 && part[2] == "pump") {
      ++converted;
      FUZZ_CHECK(found != model.end(), "only an existing file converts");
      FUZZ_CHECK(Convertible(original), "only an accepted header of 22 bytes converts");
      model[destPath] = ConvertedFrom(original);
      continue;
    }
    FUZZ_CHECK(part.size() == 2, "one box per failed file");
    ++failed;
    const std::string quotedSource = "\"" + sourcePath + "\"";
    const std::string quotedDest = "\"" + destPath + "\"";
    const std::string& box = part[1];
    FUZZ_CHECK(box == "box Error: Error open file " + quotedSource ||
                   box == "box Error: Not supported MED file" ||
                   box == "box Error: File too large " + quotedSource ||
                   box == "box Error: Error read file " + quotedSource ||
                   box == "box Error: Error create file " + quotedDest ||
                   box == "box Error: Error write file " + quotedDest,
               "a failure box names this file");
  }
  FUZZ_CHECK(summary.converted == converted, "converted count matches what was shown");
  FUZZ_CHECK(summary.failed == failed, "failed count matches the boxes");
  FUZZ_CHECK(
      summary.skipped == (abortedParts != 0 ? listedCount - static_cast<int>(parts.size()) + 1 : 0),
      "skipped files are those after an abort");
  FUZZ_CHECK(abortedParts != 0 || static_cast<int>(parts.size()) == listedCount,
             "without an abort every entry is tried");

  // The file system must hold exactly what the model holds. Only a failed delete may leave a
  // temporary file behind.
  const bool removeFailed =
      faultOp == FsOp::Remove && faultCall != 0 && fs.Calls(FsOp::Remove) >= faultCall;
  for (const auto& [path, bytes] : after) {
    const auto expected = model.find(path);
    if (expected == model.end()) {
      FUZZ_CHECK(removeFailed && IsTempName(destFolder, path),
                 "no file appears but converted outputs");
      continue;
    }
    FUZZ_CHECK(bytes == expected->second, "each file is unchanged or is the whole converted input");
  }
  for (const auto& item : model) {
    FUZZ_CHECK(after.count(item.first) != 0, "no file is lost");
  }
  gFuzzReport = nullptr;
  return 0;
}
