// An in-memory file system with Windows-style paths, exclusive locks and injected faults.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "convert/file_system.h"

enum class FsOp {
  FindFiles,
  OpenRead,
  CreateNew,
  Size,
  SeekSet,
  Read,
  Write,
  Close,
  Replace,
  Remove
};

inline constexpr FsOp kAllFsOps[] = {FsOp::FindFiles, FsOp::OpenRead, FsOp::CreateNew, FsOp::Size,
                                     FsOp::SeekSet,   FsOp::Read,     FsOp::Write,     FsOp::Close,
                                     FsOp::Replace,   FsOp::Remove};

const char* FsOpName(FsOp op);

class FakeFileSystem final : public FileSystem {
 public:
  using Bytes = std::vector<std::uint8_t>;

  // Files and folders live under full paths such as "C:\snd\a.med"; listing order is the
  // order of creation, as on a file system that lists in directory order.
  void AddFile(const std::string& path, Bytes data);
  void AddFolder(const std::string& path);
  bool Exists(const std::string& path) const;
  const Bytes& Data(const std::string& path) const;
  // Every file path, in creation order.
  std::vector<std::string> Paths() const;

  // Makes the `nth` call (1-based) of `op` fail; 0 turns the fault off.
  void FailOn(FsOp op, int nth);
  // Makes an open of `path` fail, as a file held open by another program.
  void LockPath(const std::string& path) { locked_[path] = true; }
  // Makes `path` read-only: it can be read but not replaced or removed.
  void SetReadOnly(const std::string& path) { readOnly_[path] = true; }
  // Bytes that may be written in all; 0 means no limit.
  void SetCapacity(std::uint64_t bytes) { capacity_ = bytes; }
  // Reports this size instead of the data's for `path`.
  void OverrideSize(const std::string& path, std::uint64_t size) { sizes_[path] = size; }
  void SetDiskSpace(DiskSpace space) { space_ = space; }
  void SetLeadBytes(const LeadByteSet& leadBytes) { leadBytes_ = leadBytes; }
  // Cuts or pads the data of file `path` in place, as another program writing it would.
  void Resize(const std::string& path, std::size_t size) { entries_.at(path).data.resize(size); }

  // Called at the start of every Read with the path being read; it may Resize that file to
  // model a source that changes between the size query and the read.
  std::function<void(const std::string& path)> onRead;

  int Calls(FsOp op) const;
  int OpenHandles() const { return static_cast<int>(open_.size()); }
  const std::vector<std::string>& FindPatterns() const { return findPatterns_; }
  const std::vector<std::string>& DiskFreeRoots() const { return diskFreeRoots_; }

  std::vector<FoundFile> FindFiles(const std::string& pattern) override;
  std::string VolumeRoot(const std::string& folder) override;
  DiskSpace DiskFree(const std::string& root) override;
  FileHandle OpenRead(const std::string& path) override;
  NewFile CreateNew(const std::string& path) override;
  std::uint64_t Size(FileHandle file) override;
  bool SeekSet(FileHandle file, std::uint32_t offset) override;
  std::uint32_t Read(FileHandle file, void* buffer, std::uint32_t count) override;
  std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) override;
  bool Close(FileHandle file) override;
  bool Replace(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  LeadByteSet LeadBytes() override { return leadBytes_; }

 private:
  struct Entry {
    Bytes data;
    bool folder = false;
    int order = 0;
  };
  struct Open {
    std::string path;
    std::uint64_t position = 0;
    bool writable = false;
  };

  bool Faulted(FsOp op);
  std::uint64_t UsedBytes() const;

  std::map<std::string, Entry> entries_;
  std::map<FileHandle, Open> open_;
  std::map<std::string, bool> locked_;
  std::map<std::string, bool> readOnly_;
  std::map<std::string, std::uint64_t> sizes_;
  std::map<FsOp, int> calls_;
  std::map<FsOp, int> faults_;
  std::vector<std::string> findPatterns_;
  std::vector<std::string> diskFreeRoots_;
  DiskSpace space_;
  LeadByteSet leadBytes_;
  std::uint64_t capacity_ = 0;
  FileHandle nextHandle_ = 100;
  int nextOrder_ = 0;
};
