// Sound files and folders for the e2e scenarios, and the disk checks made on what they produce.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint16_t kMedTag = 122;
inline constexpr std::uint16_t kWavTag = 17;

// A real IMA ADPCM RIFF/WAVE file: "fmt " at offset 12 (so the tag sits at 20), mono,
// 256-byte blocks, each block with a valid header, then a "fact" and a "data" chunk.
Bytes MakeSound(std::uint16_t tag, std::uint32_t blocks, std::uint32_t seed);
// The same bytes with the format tag swapped the way a conversion swaps it.
Bytes WithTag(Bytes bytes, std::uint16_t tag);

bool MakeFolder(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const Bytes& bytes);
bool ReadBytes(const std::wstring& path, Bytes& bytes);
bool Exists(const std::wstring& path);
// Names matching `pattern` inside `folder`, in the order the file search gives them.
std::vector<std::wstring> Names(const std::wstring& folder, const std::wstring& pattern);
// Lists the whole tree once, so that the shell sees the folders settled before a dialog
// compares their item lists.
void ListTree(const std::wstring& folder);
// Free clusters and cluster size of the volume at `root`.
bool FreeClusters(const std::wstring& root, std::uint64_t& free, std::uint64_t& clusterBytes);

// Holds a file open with no sharing at all for as long as it lives.
class ExclusiveLock {
 public:
  explicit ExclusiveLock(const std::wstring& path);
  ~ExclusiveLock();
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;
  bool Held() const { return file_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE file_;
};
