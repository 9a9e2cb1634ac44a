// Windows side of the console services: file attributes, searches and handles for folders,
// the console API for the terminal, a console control handler for Ctrl-C and Ctrl-Break.
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>

#include "cli/console.h"

namespace {

// The control handler runs on a thread of its own, so the flag is atomic rather than volatile.
std::atomic<int> interruptSignal{0};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interruptSignal.store(1);
  return TRUE;
}

// Consoles before Windows 8 refuse one write of more than about 64 KiB; a --info table of a
// large tree is longer than that.
constexpr std::size_t kConsoleWriteChars = 8192;

// The console behind standard output or error, or null where the stream goes to a file or a
// pipe. Each stream is asked once: under Wine every question is a round trip to its server.
HANDLE ConsoleOf(std::FILE* stream) {
  static HANDLE consoles[3] = {};
  static bool asked[3] = {};
  const int fd = _fileno(stream);
  if (fd < 1 || fd > 2) return nullptr;
  if (!asked[fd]) {
    asked[fd] = true;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) consoles[fd] = handle;
  }
  return consoles[fd];
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

}  // namespace

PathKind KindOfPath(const std::string& path) {
  if (path.empty()) return PathKind::Missing;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::Other;
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

// Older consoles print escape sequences literally; padding with spaces works everywhere.
const char* EraseToLineEnd() {
  return "";
}

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() {
  return interruptSignal.load() != 0;
}

// A console reads bytes in its own code page, the OEM one on most systems, where a name that
// is not ASCII, its bytes written in the ANSI code page, reads as other characters.
void WriteText(std::FILE* stream, const std::string& text) {
  const HANDLE console = ConsoleOf(stream);
  const int size = static_cast<int>(text.size());
  const int chars = console != nullptr && size > 0
                        ? MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0)
                        : 0;
  if (chars <= 0) {
    std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  std::wstring wide(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), chars);
  std::fflush(stream);  // what stdio still holds comes first
  for (std::size_t done = 0; done < wide.size();) {
    auto count = static_cast<DWORD>(std::min(wide.size() - done, kConsoleWriteChars));
    // The two halves of a character beyond the first 65536 stay in one write.
    if (done + count < wide.size() && IS_HIGH_SURROGATE(wide[done + count - 1])) --count;
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, count, &written, nullptr) || written == 0) {
      return;
    }
    done += written;
  }
}

std::string FolderIdentity(const std::string& folder) {
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

std::vector<std::string> SubfolderNames(const std::string& folder) {
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

bool MakeFolder(const std::string& folder) {
  if (CreateDirectoryA(folder.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && KindOfPath(folder) == PathKind::Folder;
}

std::string FolderArgument(const std::string& folder) {
  std::string result = folder;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  // "C:\" and "\" are roots and keep their backslash.
  while (result.size() > 1 && IsSeparator(result.back()) &&
         !(result.size() == 3 && result[1] == ':')) {
    result.pop_back();
  }
  // "C:" alone is the drive's current folder; the backslash the batch appends would turn it
  // into the drive's root.
  if (result.size() == 2 && result[1] == ':') result += '.';
  return result;
}

std::string FullPath(const std::string& folder) {
  if (folder.empty()) return folder;
  const DWORD size = GetFullPathNameA(folder.c_str(), 0, nullptr, nullptr);
  std::string full(size, '\0');
  const DWORD length = size > 0 ? GetFullPathNameA(folder.c_str(), size, full.data(), nullptr) : 0;
  if (length == 0 || length >= size) return folder;
  full.resize(length);
  return full;
}

std::string ForDisplay(const std::string& text) {
  return text;
}
