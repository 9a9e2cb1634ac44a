// Windows side of the console services: the console API for the terminal, a console control
// handler for Ctrl-C and Ctrl-Break.
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
