// An in-memory file system with Windows-style paths, read-only files, and any operation
// failing at a chosen call. It lists in reverse name order, so a caller that sorts shows.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "convert/file_system.h"
#include "convert/wildcard.h"
#include "support/sound_file.h"

inline const char* const kFsOps[] = {"FindFiles", "OpenRead", "CreateNew", "Size",    "SeekSet",
                                     "Read",      "Write",    "Close",     "Replace", "Remove"};

struct FakeEntry {
  Bytes data;
  bool folder = false, readOnly = false;      // a read-only file is neither replaced nor removed
  std::optional<std::uint64_t> reportedSize;  // what searches and Size say instead
  std::uint64_t Size() const { return folder ? 0 : reportedSize.value_or(data.size()); }
};

class FakeFileSystem final : public FileSystem {
 public:
  std::map<std::string, FakeEntry, std::greater<>> entries;  // by full path
  DiskSpace space{8, 512, 1u << 30, 1u << 31};               // of E:\, the one volume answering
  std::map<std::string, int> failAt, calls;  // by operation name; calls count from 1
  std::vector<std::string> patterns;         // every search, in order
  std::function<void(const std::string& path, Bytes& data)> onRead;  // may cut or grow it
  LeadByteSet leadBytes;

  FakeEntry* Find(const std::string& path) {
    const auto at = entries.find(path);
    return at == entries.end() ? nullptr : &at->second;
  }
  std::map<std::string, Bytes> Files() const {  // the whole disk, to compare at once
    std::map<std::string, Bytes> files;
    for (const auto& [path, entry] : entries) {
      if (!entry.folder) files[path] = entry.data;
    }
    return files;
  }
  std::size_t OpenHandles() const { return open_.size(); }

  std::vector<FoundFile> FindFiles(const std::string& pattern) override {
    patterns.push_back(pattern);
    const std::size_t cut = pattern.rfind('\\') + 1;  // 0 without a folder part
    std::vector<FoundFile> found;
    for (const auto& [path, entry] : entries) {
      const std::string name = path.substr(std::min(cut, path.size()));
      if (path.compare(0, cut, pattern, 0, cut) == 0 && !name.empty() &&
          name.find('\\') == std::string::npos && WildcardMatch(pattern.substr(cut), name)) {
        found.push_back({name, entry.Size()});
      }
    }
    return Fail("FindFiles") ? std::vector<FoundFile>{} : found;
  }
  std::string VolumeRoot(const std::string& folder) override { return folder.substr(0, 3); }
  DiskSpace DiskFree(const std::string& root) override {
    return root == "E:\\" ? space : DiskSpace{};
  }
  FileHandle OpenRead(const std::string& path) override {
    const FakeEntry* entry = Find(path);
    return Fail("OpenRead") || !entry || entry->folder ? kInvalidFile : Open(path, false);
  }
  NewFile CreateNew(const std::string& path) override {
    if (Fail("CreateNew")) return {};
    if (Find(path)) return {CreateResult::AlreadyExists, kInvalidFile};
    entries[path] = {};
    return {CreateResult::Created, Open(path, true)};
  }
  std::uint64_t Size(FileHandle file) override {
    return Fail("Size") ? 0 : entries.at(open_.at(file).path).Size();
  }
  bool SeekSet(FileHandle file, std::uint32_t offset) override {
    open_.at(file).position = offset;
    return !Fail("SeekSet");
  }
  std::uint32_t Read(FileHandle file, void* buffer, std::uint32_t count) override {
    OpenFile& handle = open_.at(file);
    Bytes& data = entries.at(handle.path).data;
    if (onRead) onRead(handle.path, data);
    if (Fail("Read") || handle.position >= data.size()) return 0;
    const auto n = std::min<std::size_t>(count, data.size() - handle.position);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(handle.position), n,
                static_cast<std::uint8_t*>(buffer));
    handle.position += n;
    return static_cast<std::uint32_t>(n);
  }
  // A failing write stops halfway, as on a volume that fills up.
  std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) override {
    OpenFile& handle = open_.at(file);
    const std::uint32_t n = !handle.writable ? 0 : Fail("Write") ? count / 2 : count;
    Bytes& data = entries.at(handle.path).data;
    data.resize(std::max<std::size_t>(data.size(), handle.position + n));
    std::copy_n(static_cast<const std::uint8_t*>(buffer), n,
                data.begin() + static_cast<std::ptrdiff_t>(handle.position));
    handle.position += n;
    return n;
  }
  // A failing close could not flush: half of what was written never reaches the disk.
  bool Close(FileHandle file) override {
    const OpenFile handle = open_.at(file);  // throws for a handle closed twice
    open_.erase(file);
    if (!Fail("Close")) return true;
    if (handle.writable) entries.at(handle.path).data.resize(handle.position / 2);
    return false;
  }
  bool Replace(const std::string& from, const std::string& to) override {
    const FakeEntry* target = Find(to);
    if (Fail("Replace") || !Find(from) || IsOpen(from) || (target && target->readOnly)) {
      return false;
    }
    entries[to].data = std::move(entries.at(from).data);
    return entries.erase(from) != 0;
  }
  // Windows deletes neither a read-only file nor one that is still open.
  bool Remove(const std::string& path) override {
    const FakeEntry* entry = Find(path);
    return !Fail("Remove") && entry && !entry->readOnly && !IsOpen(path) &&
           entries.erase(path) != 0;
  }
  LeadByteSet LeadBytes() override { return leadBytes; }

 private:
  struct OpenFile {
    std::string path;
    std::size_t position;
    bool writable;
  };

  bool Fail(const std::string& op) { return ++calls[op] == failAt[op]; }
  bool IsOpen(const std::string& path) const {
    return std::any_of(open_.begin(), open_.end(), [&](auto& h) { return h.second.path == path; });
  }
  FileHandle Open(const std::string& path, bool writable) {
    open_[++lastHandle_] = {path, 0, writable};
    return lastHandle_;
  }

  std::map<FileHandle, OpenFile> open_;
  FileHandle lastHandle_ = 100;
};
