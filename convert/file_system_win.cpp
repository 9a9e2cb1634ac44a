// kernel32 calls behind the file system seam; paths and names stay in the ANSI code page.
#include "convert/file_system_win.h"

#include <windows.h>

#include <vector>

namespace {

HANDLE ToHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(handle);
}

// Languages whose code pages have no double-byte characters.
bool IsSingleByteLanguage(unsigned primary) {
  switch (primary) {
    case 0x00:
    case 0x06:
    case 0x07:
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x10:
    case 0x13:
    case 0x14:
    case 0x16:
    case 0x1D:
      return true;
    default:
      return false;
  }
}

// The locale's default ANSI code page when it reads as a number, else the system's.
UINT AnsiCodePageOf(LCID lcid) {
  char text[16] = {};
  if (GetLocaleInfoA(lcid, LOCALE_IDEFAULTANSICODEPAGE, text, sizeof text) > 0) {
    UINT codePage = 0;
    bool digits = text[0] != '\0';
    for (const char* c = text; *c != '\0'; ++c) {
      if (*c < '0' || *c > '9') {
        digits = false;
        break;
      }
      codePage = codePage * 10 + static_cast<UINT>(*c - '0');
    }
    if (digits && codePage != 0) return codePage;
  }
  return GetACP();
}

// SetFileInformationByHandle, which Windows XP's kernel32 lacks: looked up when the file system
// is made, so that the programs still start there.
using SetFileInformationFn = BOOL(WINAPI*)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// Renames the open `file` to `to` unless `to` exists; the handle needs DELETE access.
bool RenameOpenFile(SetFileInformationFn setInformation, HANDLE file, const std::string& to) {
  const int chars = MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, nullptr, 0);
  if (chars <= 0) return false;
  std::vector<unsigned char> storage(sizeof(FILE_RENAME_INFO) +
                                     static_cast<std::size_t>(chars) * sizeof(WCHAR));
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(chars - 1) * sizeof(WCHAR);
  MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, info->FileName, chars);
  return setInformation(file, FileRenameInfo, info, static_cast<DWORD>(storage.size())) != 0;
}

}  // namespace

LeadByteSet LeadBytesForLocale(unsigned long lcid, bool ntFamily, bool dbcsSystem) {
  LeadByteSet set;
  if (lcid == 0) lcid = 0x0409;
  const bool wanted = ntFamily ? !IsSingleByteLanguage(LANGIDFROMLCID(lcid) & 0x3FF) : dbcsSystem;
  if (!wanted) return set;
  CPINFO info{};
  if (!GetCPInfo(AnsiCodePageOf(lcid), &info)) return set;
  for (int i = 0; i + 1 < MAX_LEADBYTES; i += 2) {
    const BYTE low = info.LeadByte[i];
    const BYTE high = info.LeadByte[i + 1];
    if (low == 0 && high == 0) break;
    for (unsigned b = low; b <= high; ++b) set.set(b);
  }
  return set;
}

WinFileSystem::WinFileSystem(Move move) {
  if (move == Move::ThroughHandleWhereAvailable) {
    setFileInformation_ = reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetFileInformationByHandle"));
  }
  // A process whose manifest asks for UTF-8 gets it from GetACP() alone; the thread locale
  // still names its language's code page, whose lead bytes would split UTF-8 names wrongly.
  if (GetACP() == CP_UTF8) return;
  // The high bit of GetVersion marks the Windows line outside the NT family.
  const bool ntFamily = (GetVersion() & 0x80000000u) == 0;
  leadBytes_ =
      LeadBytesForLocale(GetThreadLocale(), ntFamily, GetSystemMetrics(SM_DBCSENABLED) != 0);
}

std::vector<FoundFile> WinFileSystem::FindFiles(const std::string& pattern) {
  std::vector<FoundFile> found;
  WIN32_FIND_DATAA data{};
  const HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    const std::uint64_t size =
        (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    const std::uint64_t changed =
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime;
    const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    found.push_back({data.cFileName, folder ? 0 : size, changed, folder});
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return found;
}

std::string WinFileSystem::VolumeRoot(const std::string& folder) {
  return folder.substr(0, 3);
}

DiskSpace WinFileSystem::DiskFree(const std::string& root) {
  DWORD sectorsPerCluster = 0;
  DWORD bytesPerSector = 0;
  DWORD freeClusters = 0;
  DWORD totalClusters = 0;
  GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                    &totalClusters);
  return {sectorsPerCluster, bytesPerSector, freeClusters, totalClusters};
}

FileHandle WinFileSystem::OpenRead(const std::string& path) {
  const HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) Failed(GetLastError());
  return FromHandle(file);
}

NewFile WinFileSystem::CreateNew(const std::string& path) {
  // DELETE lets CloseAndReplace move the finished file through this handle.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) return {CreateResult::Created, FromHandle(file)};
  const DWORD error = GetLastError();
  // A folder of that name refuses with access denied rather than "exists".
  const bool exists =
      error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
      (error == ERROR_ACCESS_DENIED && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
  if (exists) return {CreateResult::AlreadyExists, kInvalidFile};
  Failed(error);
  return {};
}

std::uint64_t WinFileSystem::Size(FileHandle file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(ToHandle(file), &size)) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool WinFileSystem::SeekSet(FileHandle file, std::uint32_t offset) {
  LARGE_INTEGER distance{};
  distance.QuadPart = offset;
  return SetFilePointerEx(ToHandle(file), distance, nullptr, FILE_BEGIN) != 0;
}

std::uint32_t WinFileSystem::Read(FileHandle file, void* buffer, std::uint32_t count) {
  auto* bytes = static_cast<char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    DWORD got = 0;
    const BOOL ok = ReadFile(ToHandle(file), bytes + done, count - done, &got, nullptr);
    if (!ok) Failed(GetLastError());
    if (!ok || got == 0) break;
    done += got;
  }
  return done;
}

std::uint32_t WinFileSystem::Write(FileHandle file, const void* buffer, std::uint32_t count) {
  const auto* bytes = static_cast<const char*>(buffer);
  std::uint32_t done = 0;
  while (done < count) {
    DWORD put = 0;
    const BOOL ok = WriteFile(ToHandle(file), bytes + done, count - done, &put, nullptr);
    if (!ok) Failed(GetLastError());
    if (!ok || put == 0) break;
    done += put;
  }
  return done;
}

bool WinFileSystem::Close(FileHandle file) {
  if (CloseHandle(ToHandle(file))) return true;
  Failed(GetLastError());
  return false;
}

bool WinFileSystem::Replace(const std::string& from, const std::string& to) {
  // Most outputs are new, and a move that may not replace anything settles them with one look-up
  // of the name: under Wine each look-up of a missing name reads the whole folder.
  if (MoveFileExA(from.c_str(), to.c_str(), 0)) return true;
  const DWORD error = GetLastError();
  if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
    Failed(error);
    return false;
  }
  // Windows refuses to create a file with plain attributes over a read-only, hidden or system
  // one; such an output is refused the same way instead of being replaced by the move, which
  // would drop its attributes (and which Wine as root lets through even for a read-only file).
  constexpr DWORD kRefused =
      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  const DWORD attributes = GetFileAttributesA(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kRefused)) {
    Failed(ERROR_ACCESS_DENIED);
    return false;
  }
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  Failed(GetLastError());
  return false;
}

// Moving the open file spares opening it again by name: under Wine three server requests and a
// look-up of the name for every file, a fifth of a small file's conversion. An existing output,
// or a volume that renames no open file, is then moved by name as before, and so is every file
// where kernel32 cannot move an open one. A close can still fail (a network volume writing back
// what it held): the file is then no output. Moved through its handle it took a name where no
// output was, as that move replaces nothing, and goes again; by name nothing was moved yet.
ReplaceResult WinFileSystem::CloseAndReplace(FileHandle file, const std::string& from,
                                             const std::string& to) {
  const bool moved = setFileInformation_ != nullptr &&
                     RenameOpenFile(reinterpret_cast<SetFileInformationFn>(setFileInformation_),
                                    ToHandle(file), to);
  if (!CloseHandle(ToHandle(file))) {
    Failed(GetLastError());
    if (moved) DeleteFileA(to.c_str());
    return ReplaceResult::NotFlushed;
  }
  return moved || Replace(from, to) ? ReplaceResult::Replaced : ReplaceResult::NotMoved;
}

bool WinFileSystem::Remove(const std::string& path) {
  if (DeleteFileA(path.c_str())) return true;
  Failed(GetLastError());
  return false;
}

PathKind WinFileSystem::KindOfPath(const std::string& path) {
  if (path.empty()) return PathKind::Missing;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::Other;
}

std::string WinFileSystem::FolderIdentity(const std::string& folder) {
  // Only a handle opened with backup semantics can stand for a folder.
  const HANDLE handle = CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return {};
  // Some network shares answer 0 for every file; the full path is the next best key there.
  if (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0) {
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(folder.c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string("path:") + full : std::string();
  }
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
         ":" + std::to_string(info.nFileIndexLow);
}

std::vector<std::string> WinFileSystem::SubfolderNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data{};
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    // Junctions and folder links are reparse points; not following them keeps a link back up
    // the tree from becoming an endless walk.
    const DWORD kind =
        data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
    if (kind == FILE_ATTRIBUTE_DIRECTORY && name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return names;
}

bool WinFileSystem::MakeFolder(const std::string& folder) {
  if (CreateDirectoryA(folder.c_str(), nullptr)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS && KindOfPath(folder) == PathKind::Folder) return true;
  Failed(error);
  return false;
}

LeadByteSet WinFileSystem::LeadBytes() {
  return leadBytes_;
}

// In the user's language and the ANSI code page, as every other text of the program; without
// the line break and the full stop that end it, as it goes at the end of a line of ours.
std::string WinFileSystem::TakeErrorText() {
  const DWORD error = error_;
  error_ = 0;
  char text[512] = {};
  if (error == 0 || FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, error, 0, text, sizeof text, nullptr) == 0) {
    return {};
  }
  std::string result = text;
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  return result;
}

void WinFileSystem::Failed(unsigned long code) {
  if (error_ == 0) error_ = code;
}
