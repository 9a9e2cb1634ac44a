// Test doubles: sound files stated apart from the program, a disk in memory, a recording UI.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "convert/batch_ui.h"
#include "convert/file_system.h"
#include "convert/wildcard.h"
#include "sound/wave.h"

using Bytes = std::vector<std::uint8_t>;

// `data` with the low `n` bytes of `value` written over it from `at`, least significant first.
inline Bytes Poke(Bytes data, std::size_t at, std::uint32_t value, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) data.at(at + i) = static_cast<std::uint8_t>(value >> 8 * i);
  return data;
}
inline Bytes WithTag(const Bytes& data, std::uint16_t tag) {
  return Poke(data, 20, tag, 2);
}

// The pieces of a RIFF/WAVE file, written apart from the program's own writer: `value` in `n`
// little-endian bytes, pieces joined, a four-character id, a chunk padded to even length, the
// file around its chunks (its RIFF size give or take `riffExtra`), a format chunk's body (tag,
// channels, rate, byte rate as rate times align, align, bits, then `extra`) and the chunk.
inline Bytes Le(std::uint32_t value, std::size_t n) {
  return Poke(Bytes(n), 0, value, n);
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
inline Bytes Id(const char* id) {
  return Bytes(id, id + 4);
}
inline Bytes ChunkOf(const std::string& id, const Bytes& body) {
  return Cat({Bytes(id.begin(), id.end()), Le(static_cast<std::uint32_t>(body.size()), 4), body,
              Bytes(body.size() % 2)});
}
inline Bytes Riff(const Bytes& chunks, std::int64_t riffExtra = 0) {
  return Cat({Id("RIFF"), Le(static_cast<std::uint32_t>(chunks.size() + 4 + riffExtra), 4),
              Id("WAVE"), chunks});
}
inline Bytes FmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                     std::uint16_t align, std::uint16_t bits, const Bytes& extra = {}) {
  return Cat({Le(tag, 2), Le(channels, 2), Le(rate, 4), Le(rate * align, 4), Le(align, 2),
              Le(bits, 2), extra});
}
inline Bytes Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t align,
                 std::uint16_t bits, const Bytes& extra = {}) {
  return ChunkOf("fmt ", FmtBody(tag, channels, rate, align, bits, extra));
}

// "RIFF", a size, "WAVEfmt ", then bytes from `seed` that repeat at no power-of-two distance,
// so no two files look alike and a piece copied to a wrong offset shows.
inline Bytes SoundFile(std::size_t size, std::uint16_t tag, std::uint8_t seed = 1) {
  Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) {
    data[i] = static_cast<std::uint8_t>(i < 16 ? "RIFF\x10\0\0\0WAVEfmt "[i]
                                               : seed + (i * 2654435761u >> 24));
  }
  return WithTag(data, tag);
}

// SoundFile under the header of a mono IMA ADPCM sound of 22050 Hz in 512-byte blocks.
inline Bytes PlayableSound(std::size_t size, std::uint16_t tag, std::uint8_t seed = 1) {
  Bytes data = Poke(Poke(Poke(SoundFile(size, tag, seed), 4, size - 8, 4), 16, 20, 4), 22, 1, 2);
  data = Poke(Poke(Poke(Poke(data, 24, 22050, 4), 28, 11100, 4), 32, 512, 2), 34, 4, 2);
  return Poke(Poke(Poke(data, 36, 2 | 1017u << 16, 4), 40, 0x61746164, 4), 44, size - 48, 4);
}

// A format chunk as read, at 8000 Hz; `samplesPerBlock` 0: none stated.
inline WaveFormat Format(std::uint16_t tag, std::uint16_t channels, std::uint16_t align,
                         std::uint16_t bits, std::uint32_t samplesPerBlock = 0) {
  WaveFormat format;
  format.hasFormat = true;
  format.tag = tag;
  format.channels = channels;
  format.sampleRate = 8000;
  format.blockAlign = align;
  format.bitsPerSample = bits;
  format.samplesPerBlock = samplesPerBlock;
  return format;
}

inline const char* const kFsOps[] = {"FindFiles", "OpenRead", "CreateNew", "Size",    "SeekSet",
                                     "Read",      "Write",    "Close",     "Replace", "Remove"};

// Windows-style paths; any operation fails at a chosen call. It lists files in reverse name
// order and sub-folders in name order, so a caller that sorts shows, and as Windows it deletes or
// moves no file that is open. A folder is made only inside a folder or a drive ("E:").
class FakeFileSystem final : public FileSystem {
 public:
  std::map<std::string, Bytes> entries;          // by full path: the whole disk
  std::map<std::string, std::uint64_t> sizes;    // what searches and Size say instead
  std::map<std::string, std::uint64_t> changed;  // when each was last written, as a test says
  DiskSpace space{8, 512, 1u << 30, 1u << 31};   // of E:\, the one volume answering
  std::map<std::string, int> failAt, calls;      // by operation name; calls count from 1
  std::function<void(Bytes& data)> onRead;       // may cut or grow the file being read
  std::string failText, errorText;               // what a failed call gives; the first not taken
  LeadByteSet leadBytes;
  struct OpenFile {
    std::string path;
    std::size_t position;
    bool writable;
  };
  std::map<FileHandle, OpenFile> open;  // handles not yet closed
  std::vector<std::string> created;     // every path CreateNew was given
  std::set<std::string> folders;        // by full path, with no '\' at the end
  // A link's path -> the folder it leads to. It is listed as a sub-folder only when in `folders`
  // too: a link the platform shows as a plain folder.
  std::map<std::string, std::string> links;
  bool ignoreCase = false;  // what NamesIgnoreCase says; the paths stay exact either way
  int readsPastEnd = 0;     // reads from a position beyond the end of their file

  std::vector<FoundFile> FindFiles(const std::string& pattern) override {
    const std::size_t cut = pattern.rfind('\\') + 1;  // 0 without a folder part
    std::vector<FoundFile> found;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
      const std::string& path = entry->first;
      if (path.size() > cut && path.compare(0, cut, pattern, 0, cut) == 0 &&
          path.find('\\', cut) == std::string::npos &&
          WildcardMatch(pattern.substr(cut), path.substr(cut))) {
        found.push_back({path.substr(cut), SizeOf(path), changed[path], false});
      }
    }
    return Fail("FindFiles") ? std::vector<FoundFile>{} : found;
  }
  std::string VolumeRoot(const std::string& folder) override { return folder.substr(0, 3); }
  DiskSpace DiskFree(const std::string& root) override {
    return root == "E:\\" ? space : DiskSpace{};
  }
  FileHandle OpenRead(const std::string& path) override {
    return Fail("OpenRead") || entries.count(path) == 0 ? kInvalidFile : Open(path, false);
  }
  // Nothing is made inside a file.
  NewFile CreateNew(const std::string& path) override {
    created.push_back(path);
    if (Fail("CreateNew")) return {};
    for (std::size_t cut = 0; (cut = path.find('\\', cut + 1)) != std::string::npos;)
      if (entries.count(path.substr(0, cut)) != 0) return {};
    if (entries.count(path) != 0) return {CreateResult::AlreadyExists, kInvalidFile};
    entries[path] = {};
    return {CreateResult::Created, Open(path, true)};
  }
  std::uint64_t Size(FileHandle file) override {
    return Fail("Size") ? 0 : SizeOf(open.at(file).path);
  }
  bool SeekSet(FileHandle file, std::uint32_t offset) override {
    open.at(file).position = offset;
    return !Fail("SeekSet");
  }
  std::uint32_t Read(FileHandle file, void* buffer, std::uint32_t count) override {
    OpenFile& h = open.at(file);
    Bytes& data = entries.at(h.path);
    if (onRead) onRead(data);
    readsPastEnd += h.position > data.size() ? 1 : 0;
    if (Fail("Read") || h.position >= data.size()) return 0;
    const std::size_t n = std::min<std::size_t>(count, data.size() - h.position);
    std::memcpy(buffer, data.data() + h.position, n);
    h.position += n;
    return static_cast<std::uint32_t>(n);
  }
  // A failing write stops halfway, as on a volume that fills up.
  std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) override {
    OpenFile& h = open.at(file);
    const std::uint32_t n = Fail("Write") ? count / 2 : count;
    Bytes& data = entries.at(h.path);
    data.resize(std::max(data.size(), h.position + n));
    if (n != 0) std::memcpy(data.data() + h.position, buffer, n);
    h.position += n;
    return n;
  }
  // A failing close could not flush: half of what was written never reaches the disk.
  bool Close(FileHandle file) override {
    const OpenFile handle = open.at(file);  // throws for a handle closed twice
    open.erase(file);
    if (!Fail("Close")) return true;
    if (handle.writable) entries.at(handle.path).resize(handle.position / 2);
    return false;
  }
  bool Replace(const std::string& from, const std::string& to) override {
    if (Fail("Replace") || entries.count(from) == 0 || IsOpen(from) || IsOpen(to)) return false;
    entries[to] = std::move(entries.at(from));
    return entries.erase(from) != 0;
  }
  bool Remove(const std::string& path) override {
    return !Fail("Remove") && !IsOpen(path) && entries.erase(path) != 0;
  }
  PathKind KindOfPath(const std::string& path) override {
    if (folders.count(Target(path)) != 0) return PathKind::Folder;
    return entries.count(path) != 0 ? PathKind::Other : PathKind::Missing;
  }
  std::string FolderIdentity(const std::string& folder) override {
    return KindOfPath(folder) == PathKind::Folder ? Target(folder) : "";
  }
  std::vector<std::string> SubfolderNames(const std::string& folder) override {
    std::vector<std::string> names;
    for (const std::string& path : folders) {
      if (path.rfind('\\') == folder.size() && path.compare(0, folder.size(), folder) == 0)
        names.push_back(path.substr(folder.size() + 1));
    }
    return names;
  }
  bool MakeFolder(const std::string& folder) override {
    const std::string parent = folder.substr(0, folder.rfind('\\'));
    if (KindOfPath(folder) == PathKind::Missing &&
        (parent.size() == 2 || KindOfPath(parent) == PathKind::Folder))
      folders.insert(folder);
    return KindOfPath(folder) == PathKind::Folder;
  }
  LeadByteSet LeadBytes() override { return leadBytes; }
  bool NamesIgnoreCase() override { return ignoreCase; }
  std::string TakeErrorText() override { return std::exchange(errorText, ""); }

 private:
  std::string Target(const std::string& path) const {
    return links.count(path) != 0 ? links.at(path) : path;
  }
  bool Fail(const std::string& op) {
    if (++calls[op] != failAt[op]) return false;
    if (errorText.empty()) errorText = failText;
    return true;
  }
  bool IsOpen(const std::string& path) const {
    return std::any_of(open.begin(), open.end(),
                       [&](const auto& h) { return h.second.path == path; });
  }
  std::uint64_t SizeOf(const std::string& path) const {
    return sizes.count(path) != 0 ? sizes.at(path) : entries.at(path).size();
  }
  FileHandle Open(const std::string& path, bool writable) {
    open[++lastHandle_] = {path, 0, writable};
    return lastHandle_;
  }

  FileHandle lastHandle_ = 100;
};

// Also the file list. Lines read like "box Error: Please select files first", "total 25".
struct RecordingBatchUi final : BatchUi, FileList {
  std::string sourceText = "D:\\snd", destText = "E:\\out";
  std::vector<std::string> items, events, boxes;        // boxes: "Title: text" alone
  std::function<void()> onPump = [] {}, onBox = [] {};  // may clear Converting: an abort

  std::string SourceText() override { return sourceText; }
  std::string DestText() override { return destText; }
  FileList& List() override { return *this; }
  int Count() const override { return static_cast<int>(items.size()); }
  std::string Item(int index) const override { return items.at(static_cast<std::size_t>(index)); }
  void Select(int index) override { events.push_back("select " + std::to_string(index)); }
  void Clear() override { items.clear(); }
  void Add(const std::string& name) override { items.push_back(name); }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    const bool iconFits = (title == "Error") == (icon == MessageIcon::Error);
    events.push_back("box " +
                     boxes.emplace_back(title + (iconFits ? ": " : " (wrong icon): ") + text));
    onBox();
  }
  void SetCurrentBar(int value) override { events.push_back("current " + std::to_string(value)); }
  void SetTotalBar(int value) override { events.push_back("total " + std::to_string(value)); }
  void EnableBrowse(bool on) override { events.push_back(on ? "browse on" : "browse off"); }
  void SetConvertCaption(const std::string& text) override { events.push_back("caption " + text); }
  void SetConvertTip(const std::string& tip) override { events.push_back("tip " + tip); }
  void Pump() override {
    events.push_back("pump");
    onPump();
  }
};
