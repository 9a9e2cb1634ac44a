// Sound files and folders for the e2e scenarios, and the disk checks made on what they produce.
#include "tests/e2e/fixtures.h"

namespace {

constexpr std::uint32_t kBlockAlign = 256;
constexpr std::uint32_t kSamplesPerBlock = 505;  // (256 - 4) * 2 + 1 for mono 4-bit
constexpr std::uint32_t kSampleRate = 22050;

void Put16(Bytes& out, std::uint16_t value) {
  out.push_back(value & 0xFF);
  out.push_back(value >> 8);
}

void Put32(Bytes& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back((value >> shift) & 0xFF);
}

void PutId(Bytes& out, const char* id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id[i]));
}

}  // namespace

Bytes MakeSound(std::uint16_t tag, std::uint32_t blocks, std::uint32_t seed) {
  Bytes data;
  std::uint32_t state = seed * 2654435761u + 1;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (std::uint32_t b = 0; b < blocks; ++b) {
    Put16(data, static_cast<std::uint16_t>(next()));         // first sample
    data.push_back(static_cast<std::uint8_t>(next() % 89));  // step index 0..88
    data.push_back(0);                                       // reserved
    for (std::uint32_t i = 4; i < kBlockAlign; ++i) data.push_back(next() & 0xFF);
  }

  Bytes file;
  PutId(file, "RIFF");
  Put32(file, 4 + (8 + 20) + (8 + 4) + 8 + static_cast<std::uint32_t>(data.size()));
  PutId(file, "WAVE");
  PutId(file, "fmt ");
  Put32(file, 20);
  Put16(file, tag);
  Put16(file, 1);  // channels
  Put32(file, kSampleRate);
  Put32(file, kSampleRate * kBlockAlign / kSamplesPerBlock);
  Put16(file, kBlockAlign);
  Put16(file, 4);  // bits per sample
  Put16(file, 2);  // extra bytes
  Put16(file, kSamplesPerBlock);
  PutId(file, "fact");
  Put32(file, 4);
  Put32(file, blocks * kSamplesPerBlock);
  PutId(file, "data");
  Put32(file, static_cast<std::uint32_t>(data.size()));
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

Bytes WithTag(Bytes bytes, std::uint16_t tag) {
  if (bytes.size() >= 22) {
    bytes[20] = tag & 0xFF;
    bytes[21] = tag >> 8;
  }
  return bytes;
}

bool MakeFolder(const std::wstring& path) {
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WriteBytes(const std::wstring& path, const Bytes& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = bytes.empty() || (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()),
                                              &written, nullptr) &&
                                    written == bytes.size());
  return CloseHandle(file) && ok;
}

bool ReadBytes(const std::wstring& path, Bytes& bytes) {
  bytes.clear();
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) != 0;
  if (ok && size.QuadPart > 0) {
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ok = ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
         read == bytes.size();
  }
  CloseHandle(file);
  return ok;
}

bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> Names(const std::wstring& folder, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data{};
  const HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return names;
}

void ListTree(const std::wstring& folder) {
  WIN32_FIND_DATAW data{};
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name != L"." && name != L"..") {
      ListTree(folder + L"\\" + name);
    }
  } while (FindNextFileW(search, &data));
  FindClose(search);
}

bool FreeClusters(const std::wstring& root, std::uint64_t& free, std::uint64_t& clusterBytes) {
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
  if (!GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                         &totalClusters)) {
    return false;
  }
  free = freeClusters;
  clusterBytes = static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector;
  return true;
}

ExclusiveLock::ExclusiveLock(const std::wstring& path)
    : file_(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                        nullptr)) {}

ExclusiveLock::~ExclusiveLock() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}
