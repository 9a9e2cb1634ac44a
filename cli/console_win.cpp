// Windows side of the console services: file attributes, searches and handles for folders,
// the console API for the terminal, a console control handler for Ctrl-C and Ctrl-Break.
#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "cli/console.h"

namespace {

// The control handler runs on a thread of its own, so the flag is atomic rather than volatile.
std::atomic<int> interruptSignal{0};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interruptSignal.store(1);
  return TRUE;
}

UINT consoleOutputCodePage = 0;

void RestoreConsoleOutputCodePage() {
  SetConsoleOutputCP(consoleOutputCodePage);
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

void UseUtf8ConsoleIfAnsiIsUtf8() {
  if (GetACP() != CP_UTF8) return;
  consoleOutputCodePage = GetConsoleOutputCP();
  // Without a console (output to a file or pipe) the bytes pass as they are.
  if (consoleOutputCodePage == 0 || consoleOutputCodePage == CP_UTF8) return;
  // The console keeps its code page after the process ends; the shell that started us must get
  // its own back.
  if (SetConsoleOutputCP(CP_UTF8)) std::atexit(RestoreConsoleOutputCodePage);
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

std::string ForDisplay(const std::string& text) {
  return text;
}
