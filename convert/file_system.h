// The file, folder, search, free-space and code-page operations the conversion logic needs.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

// An open file; kInvalidFile is its one invalid value.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Bytes that start a double-byte character in the ANSI code page.
using LeadByteSet = std::bitset<256>;

struct FoundFile {
  std::string name;       // bare name, no folder part
  std::uint64_t size;     // full size; folders report 0
  std::uint64_t changed;  // when it was last written, in the platform's units: only compared
  bool folder;
};

struct DiskSpace {
  std::uint64_t sectorsPerCluster = 0;
  std::uint64_t bytesPerSector = 0;
  std::uint64_t freeClusters = 0;
  std::uint64_t totalClusters = 0;
};

enum class PathKind { Missing, Folder, Other };
enum class CreateResult { Created, AlreadyExists, Failed };
enum class ReplaceResult { Replaced, NotFlushed, NotMoved };

struct NewFile {
  CreateResult result = CreateResult::Failed;
  FileHandle file = kInvalidFile;
};

struct CopyCount {
  std::uint32_t read = 0;     // bytes taken from the source
  std::uint32_t written = 0;  // bytes of those that reached the target
};

// Paths use '\' between folder and name; an implementation maps that onto its own separator.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Every entry matching "folder\pattern" (wildcards * and ?, case-insensitive), folders
  // included, in the order the platform lists them; no match or a failed search gives none.
  virtual std::vector<FoundFile> FindFiles(const std::string& pattern) = 0;
  // The root of the volume that holds `folder`, as DiskFree expects it.
  virtual std::string VolumeRoot(const std::string& folder) = 0;
  // The four counts of the volume at `root`; a failed query leaves them all 0.
  virtual DiskSpace DiskFree(const std::string& root) = 0;
  // Opens an existing file for reading, letting others read it too; kInvalidFile on failure.
  virtual FileHandle OpenRead(const std::string& path) = 0;
  // Creates a file that must not exist yet, for writing, shared with nobody.
  virtual NewFile CreateNew(const std::string& path) = 0;
  // The file's full size in bytes.
  virtual std::uint64_t Size(FileHandle file) = 0;
  // Moves the position to `offset` from the start; false on failure.
  virtual bool SeekSet(FileHandle file, std::uint32_t offset) = 0;
  // Reads up to `count` bytes at the position; returns how many were read (0 on failure).
  virtual std::uint32_t Read(FileHandle file, void* buffer, std::uint32_t count) = 0;
  // Writes `count` bytes at the position; returns how many were written.
  virtual std::uint32_t Write(FileHandle file, const void* buffer, std::uint32_t count) = 0;
  // Copies up to `count` bytes from `from`'s position to `to`'s, moving both on; it stops early
  // at the end of `from` or at the first failed read or write. The default reads and writes
  // through one buffer of fixed size.
  virtual CopyCount CopyBody(FileHandle from, FileHandle to, std::uint32_t count);
  // Releases the handle; false when data could not be flushed.
  virtual bool Close(FileHandle file) = 0;
  // Moves `from` over `to`, replacing an existing `to` in one step; false on failure.
  virtual bool Replace(const std::string& from, const std::string& to) = 0;
  // Closes `file`, the one CreateNew made at `from`, and moves it over `to` as Replace does;
  // NotFlushed, with nothing moved, when its data could not be flushed. The default closes,
  // then replaces.
  virtual ReplaceResult CloseAndReplace(FileHandle file, const std::string& from,
                                        const std::string& to);
  // Deletes the file at `path`; false on failure.
  virtual bool Remove(const std::string& path) = 0;
  // Whether `path` names an existing folder, something else, or nothing; an empty path is nothing.
  virtual PathKind KindOfPath(const std::string& path) = 0;
  // A key equal for every path to one folder and different between folders; empty when `folder`
  // is no folder or cannot be examined.
  virtual std::string FolderIdentity(const std::string& folder) = 0;
  // Names of the folders directly inside `folder`, links and junctions to folders left out.
  virtual std::vector<std::string> SubfolderNames(const std::string& folder) = 0;
  // Creates `folder` unless a folder of that name exists already; false when there is none after.
  virtual bool MakeFolder(const std::string& folder) = 0;
  // Lead bytes of the ANSI code page, fixed when the file system was made.
  virtual LeadByteSet LeadBytes() = 0;
  // True where two names that differ only in letter case are one file, so no second file of
  // such a name can stand beside the first.
  virtual bool NamesIgnoreCase() { return false; }
  // The system's words for the first open, create, read, write, close, move, delete or folder
  // creation that failed since they were last taken, and forgets them; empty when none failed
  // or the system gave none. The first is the cause; later ones follow from it. A name that
  // CreateNew finds taken and a read that meets the end of the file are answers, not failures.
  virtual std::string TakeErrorText() = 0;
};
