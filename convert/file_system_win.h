// The kernel32 file system behind the conversion logic.
#pragma once

#include "convert/file_system.h"

class WinFileSystem final : public FileSystem {
 public:
  // How CloseAndReplace moves a finished file: through its open handle where kernel32 can
  // (Windows Vista on), or always by name as on Windows XP.
  enum class Move { ThroughHandleWhereAvailable, ByName };

  // Reads the lead bytes of the thread locale's ANSI code page once; none when the process's
  // ANSI code page is UTF-8. Looks up the move through the handle once.
  explicit WinFileSystem(Move move = Move::ThroughHandleWhereAvailable);

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
  ReplaceResult CloseAndReplace(FileHandle file, const std::string& from,
                                const std::string& to) override;
  bool Remove(const std::string& path) override;
  PathKind KindOfPath(const std::string& path) override;
  std::string FolderIdentity(const std::string& folder) override;
  std::vector<std::string> SubfolderNames(const std::string& folder) override;
  bool MakeFolder(const std::string& folder) override;
  LeadByteSet LeadBytes() override;
  bool NamesIgnoreCase() override { return true; }
  std::string TakeErrorText() override;

 private:
  // Keeps `code` (a system error code) unless an earlier failure is kept already.
  void Failed(unsigned long code);

  LeadByteSet leadBytes_;
  unsigned long error_ = 0;  // the code of the first failure not yet taken; 0 for none
  // kernel32's SetFileInformationByHandle, or null where the files are moved by name.
  void (*setFileInformation_)() = nullptr;
};

// The lead bytes for locale `lcid` (0 means 0x0409); `dbcsSystem` stands in for the language
// test on Windows outside the NT family.
LeadByteSet LeadBytesForLocale(unsigned long lcid, bool ntFamily, bool dbcsSystem);
