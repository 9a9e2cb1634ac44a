// The file system of Linux and macOS behind the conversion logic.
#pragma once

#include "convert/file_system.h"

// A path joined with '\', as the batch builds it, with '/' between its parts instead.
std::string ToPosix(std::string path);

// Maps '\' in every path onto '/', so a name that itself holds a backslash cannot be reached.
// Searches match case-insensitively, but a name without wildcards that exists exactly as
// written finds that one file only, as a case-insensitive volume would.
class PosixFileSystem final : public FileSystem {
 public:
  std::vector<FoundFile> FindFiles(const std::string& pattern) override;
  std::string VolumeRoot(const std::string& folder) override;
  DiskSpace DiskFree(const std::string& root) override;
  FileHandle OpenRead(const std::string& path) override;
  NewFile CreateNew(const std::string& path) override;
  std::uint64_t Size(FileHandle file) override;
  bool SeekSet(FileHandle file, std::uint32_t offset) override;
  std::uint32_t Read(FileHandle file, void* buffer, std::uint32_t count) override;
  std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) override;
  CopyCount CopyBody(FileHandle from, FileHandle to, std::uint32_t count) override;
  bool Close(FileHandle file) override;
  bool Replace(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  PathKind KindOfPath(const std::string& path) override;
  std::string FolderIdentity(const std::string& folder) override;
  std::vector<std::string> SubfolderNames(const std::string& folder) override;
  bool MakeFolder(const std::string& folder) override;
  LeadByteSet LeadBytes() override;
  std::string TakeErrorText() override;

 private:
  // Keeps `code` (an errno value) unless an earlier failure is kept already.
  void Failed(int code);

  int error_ = 0;  // the errno value of the first failure not yet taken; 0 for none
};
