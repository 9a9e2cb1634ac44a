// The in-memory file system: enough of Windows' behaviour to drive the batch and the scan.
#include "fakes/fake_file_system.h"

#include <algorithm>
#include <cstring>

#include "convert/wildcard.h"

const char* FsOpName(FsOp op) {
  switch (op) {
    case FsOp::FindFiles:
      return "FindFiles";
    case FsOp::OpenRead:
      return "OpenRead";
    case FsOp::CreateNew:
      return "CreateNew";
    case FsOp::Size:
      return "Size";
    case FsOp::SeekSet:
      return "SeekSet";
    case FsOp::Read:
      return "Read";
    case FsOp::Write:
      return "Write";
    case FsOp::Close:
      return "Close";
    case FsOp::Replace:
      return "Replace";
    case FsOp::Remove:
      return "Remove";
  }
  return "?";
}

void FakeFileSystem::AddFile(const std::string& path, Bytes data) {
  Entry& entry = entries_[path];
  entry.data = std::move(data);
  entry.folder = false;
  entry.order = nextOrder_++;
}

void FakeFileSystem::AddFolder(const std::string& path) {
  Entry& entry = entries_[path];
  entry.folder = true;
  entry.order = nextOrder_++;
}

bool FakeFileSystem::Exists(const std::string& path) const {
  return entries_.count(path) != 0;
}

const FakeFileSystem::Bytes& FakeFileSystem::Data(const std::string& path) const {
  return entries_.at(path).data;
}

std::vector<std::string> FakeFileSystem::Paths() const {
  std::vector<std::pair<int, std::string>> ordered;
  for (const auto& [path, entry] : entries_) {
    if (!entry.folder) ordered.emplace_back(entry.order, path);
  }
  std::sort(ordered.begin(), ordered.end());
  std::vector<std::string> paths;
  paths.reserve(ordered.size());
  for (const auto& item : ordered) paths.push_back(item.second);
  return paths;
}

void FakeFileSystem::FailOn(FsOp op, int nth) {
  faults_[op] = nth;
}

int FakeFileSystem::Calls(FsOp op) const {
  const auto it = calls_.find(op);
  return it == calls_.end() ? 0 : it->second;
}

bool FakeFileSystem::Faulted(FsOp op) {
  const int call = ++calls_[op];
  const auto it = faults_.find(op);
  return it != faults_.end() && it->second == call;
}

std::uint64_t FakeFileSystem::UsedBytes() const {
  std::uint64_t used = 0;
  for (const auto& item : entries_) used += item.second.data.size();
  return used;
}

std::vector<FoundFile> FakeFileSystem::FindFiles(const std::string& pattern) {
  findPatterns_.push_back(pattern);
  if (Faulted(FsOp::FindFiles)) return {};
  const std::size_t slash = pattern.rfind('\\');
  const std::string folder = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
  const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  std::vector<std::pair<int, FoundFile>> found;
  for (const auto& [path, entry] : entries_) {
    if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) continue;
    const std::string name = path.substr(folder.size());
    if (name.find('\\') != std::string::npos || !WildcardMatch(namePattern, name)) continue;
    const auto size = sizes_.count(path) ? sizes_.at(path) : entry.data.size();
    found.push_back({entry.order, {name, entry.folder ? 0 : size}});
  }
  std::sort(found.begin(), found.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<FoundFile> result;
  result.reserve(found.size());
  for (auto& item : found) result.push_back(std::move(item.second));
  return result;
}

std::string FakeFileSystem::VolumeRoot(const std::string& folder) {
  return folder.substr(0, 3);
}

DiskSpace FakeFileSystem::DiskFree(const std::string& root) {
  diskFreeRoots_.push_back(root);
  return space_;
}

FileHandle FakeFileSystem::OpenRead(const std::string& path) {
  if (Faulted(FsOp::OpenRead) || locked_.count(path)) return kInvalidFile;
  const auto it = entries_.find(path);
  if (it == entries_.end() || it->second.folder) return kInvalidFile;
  for (const auto& item : open_) {
    if (item.second.path == path && item.second.writable) return kInvalidFile;
  }
  open_[nextHandle_] = {path, 0, false};
  return nextHandle_++;
}

NewFile FakeFileSystem::CreateNew(const std::string& path) {
  if (Faulted(FsOp::CreateNew)) return {CreateResult::Failed, kInvalidFile};
  if (entries_.count(path)) return {CreateResult::AlreadyExists, kInvalidFile};
  AddFile(path, {});
  open_[nextHandle_] = {path, 0, true};
  return {CreateResult::Created, nextHandle_++};
}

std::uint64_t FakeFileSystem::Size(FileHandle file) {
  if (Faulted(FsOp::Size)) return 0;
  const std::string& path = open_.at(file).path;
  if (sizes_.count(path)) return sizes_.at(path);
  return entries_.at(path).data.size();
}

bool FakeFileSystem::SeekSet(FileHandle file, std::uint32_t offset) {
  if (Faulted(FsOp::SeekSet)) return false;
  open_.at(file).position = offset;
  return true;
}

std::uint32_t FakeFileSystem::Read(FileHandle file, void* buffer, std::uint32_t count) {
  if (onRead) onRead(open_.at(file).path);
  if (Faulted(FsOp::Read)) return 0;
  Open& handle = open_.at(file);
  const Bytes& data = entries_.at(handle.path).data;
  if (handle.position >= data.size()) return 0;
  const auto n =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(count, data.size() - handle.position));
  std::memcpy(buffer, data.data() + handle.position, n);
  handle.position += n;
  return n;
}

std::uint32_t FakeFileSystem::Write(FileHandle file, const void* buffer, std::uint32_t count) {
  if (Faulted(FsOp::Write)) return 0;
  Open& handle = open_.at(file);
  if (!handle.writable) return 0;
  std::uint32_t n = count;
  if (capacity_ != 0) {
    const std::uint64_t used = UsedBytes();
    n = used >= capacity_
            ? 0
            : static_cast<std::uint32_t>(std::min<std::uint64_t>(n, capacity_ - used));
  }
  Bytes& data = entries_.at(handle.path).data;
  if (data.size() < handle.position + n) data.resize(handle.position + n);
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  std::copy(bytes, bytes + n, data.begin() + static_cast<std::ptrdiff_t>(handle.position));
  handle.position += n;
  return n;
}

bool FakeFileSystem::Close(FileHandle file) {
  const bool faulted = Faulted(FsOp::Close);
  // A close that fails could not flush: what was written is not all on the disk.
  const auto it = open_.find(file);
  if (faulted && it != open_.end() && it->second.writable) {
    Bytes& data = entries_.at(it->second.path).data;
    data.resize(data.size() / 2);
  }
  open_.erase(file);
  return !faulted;
}

bool FakeFileSystem::Replace(const std::string& from, const std::string& to) {
  if (Faulted(FsOp::Replace) || readOnly_.count(to) || locked_.count(to)) return false;
  const auto it = entries_.find(from);
  if (it == entries_.end()) return false;
  const auto target = entries_.find(to);
  if (target != entries_.end() && target->second.folder) return false;
  Entry moved = std::move(it->second);
  entries_.erase(it);
  const bool existed = target != entries_.end();
  const int order = existed ? entries_[to].order : moved.order;
  entries_[to] = std::move(moved);
  entries_[to].order = order;
  return true;
}

bool FakeFileSystem::Remove(const std::string& path) {
  if (Faulted(FsOp::Remove) || readOnly_.count(path)) return false;
  return entries_.erase(path) != 0;
}
