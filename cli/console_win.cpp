// Windows side of the console services: the console API for the terminal and its wide-character
// output, a console control handler for Ctrl-C and Ctrl-Break.
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

// GetTickCount's 32 bits run over every 49.7 days; the steps between calls are added up.
std::uint64_t MonotonicMilliseconds() {
  static DWORD last = GetTickCount();
  static std::uint64_t total = 0;
  const DWORD now = GetTickCount();
  total += static_cast<DWORD>(now - last);
  last = now;
  return total;
}

void SleepMilliseconds(std::uint64_t milliseconds) {
  Sleep(static_cast<DWORD>(milliseconds));
}

// A console with no window on the screen is read by nobody there: a program started hidden must
// never wait for a key, and Wine runs one started from a Unix terminal in a console of its own
// whose window is hidden (the terminal is what the user reads, and it stays).
int ConsoleProcessCount() {
  const HWND window = GetConsoleWindow();
  DWORD processes[2];
  return window == nullptr || IsWindowVisible(window) == FALSE
             ? 0
             : static_cast<int>(GetConsoleProcessList(processes, 2));
}

// Read from the console itself: standard input may have been read to its end already.
void WaitForEnter() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char line[64];
  DWORD read = 0;
  while (ReadFile(input, line, sizeof line, &read, nullptr) && read > 0 &&
         std::find(line, line + read, '\n') == line + read) {
  }
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

// Names hold no control characters here: the file systems refuse them.
std::string ForDisplay(const std::string& text) {
  return text;
}

std::string WithOwnSeparators(const std::string& text) {
  return text;
}

// Where the manifest's UTF-8 code page is honoured, names are UTF-8 already; older systems keep
// the ANSI one.
std::string AsUtf8(const std::string& text) {
  const int size = static_cast<int>(text.size());
  if (GetACP() == CP_UTF8 || size == 0) return text;
  const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (chars <= 0) return text;
  std::wstring wide(static_cast<std::size_t>(chars), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), chars);
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), chars, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), chars, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
}
