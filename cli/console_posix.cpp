// POSIX side of the console services: stat, readdir and mkdir for folders, isatty and
// TIOCGWINSZ for the terminal, sigaction for Ctrl-C.
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "cli/console.h"
#include "convert/file_system_posix.h"

namespace {

// Written only by the handler, read by the batch between files.
volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void OnInterrupt(int /*signal*/) {
  interruptSignal = 1;
}

}  // namespace

PathKind KindOfPath(const std::string& path) {
  struct stat info {};
  if (path.empty() || stat(path.c_str(), &info) != 0) return PathKind::Missing;
  return S_ISDIR(info.st_mode) ? PathKind::Folder : PathKind::Other;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

const char* EraseToLineEnd() {
  return "\x1b[K";
}

void InstallInterruptHandler() {
  struct sigaction previous {};
  if (sigaction(SIGINT, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
    // A job started with Ctrl-C ignored (in the background of a script) keeps ignoring it.
    return;
  }
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Restarted calls keep a read or write that the signal lands in from failing half-done.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

bool InterruptRequested() {
  return interruptSignal != 0;
}

void WriteText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string FolderIdentity(const std::string& folder) {
  struct stat info {};
  if (stat(ToPosix(folder).c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return {};
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

std::vector<std::string> SubfolderNames(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(ToPosix(folder).c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat info {};
    // Not following links keeps a link back up the tree from becoming an endless walk.
    if (name != "." && name != ".." &&
        fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(info.st_mode)) {
      names.push_back(name);
    }
  }
  closedir(dir);
  return names;
}

bool MakeFolder(const std::string& folder) {
  const std::string path = ToPosix(folder);
  if (mkdir(path.c_str(), 0777) == 0) return true;
  return errno == EEXIST && KindOfPath(path) == PathKind::Folder;
}

std::string FolderArgument(const std::string& folder) {
  std::string result = folder;
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

// statvfs and every other call take a relative path, and messages show it as it was typed.
std::string FullPath(const std::string& folder) {
  return folder;
}

std::string ForDisplay(const std::string& text) {
  std::string result = text;
  for (char& c : result) {
    if (c == '\\') c = '/';
  }
  return result;
}
