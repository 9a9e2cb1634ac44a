// "own_console COMMAND" runs it in a new console, as Explorer does, and presses Enter when asked.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HANDLE Open(const char* name) {
  return CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// The screen buffer in one piece, so a line wider than the console reads on across its rows.
std::string Screen() {
  const HANDLE output = Open("CONOUT$");
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(output, &info);
  std::string text(static_cast<std::size_t>(info.dwSize.X * info.dwSize.Y), ' ');
  DWORD read = 0;
  ReadConsoleOutputCharacterA(output, text.data(), static_cast<DWORD>(text.size()), {0, 0}, &read);
  CloseHandle(output);
  return text;
}

}  // namespace

int main() {
  std::string command = GetCommandLineA();
  command.erase(0, command.find(' ') + 1);  // this program's own name
  STARTUPINFOA startup{sizeof startup};
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      nullptr, &startup, &child))
    return 1;
  // Wine's explorer gives this program a hidden console, and a process has one console at a time.
  FreeConsole();
  // Attached, this one would count among the console's processes and the program would not wait:
  // it attaches only while the program's thread is stopped, which GetThreadContext waits for.
  bool asked = false;
  while (!asked && WaitForSingleObject(child.hProcess, 20) == WAIT_TIMEOUT) {
    SuspendThread(child.hThread);
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(child.hThread, &context);
    if (AttachConsole(child.dwProcessId)) {
      asked = Screen().find("Press Enter to close.") != std::string::npos;
      FreeConsole();
    }
    ResumeThread(child.hThread);
  }
  // Printed: the screen the program left, if it asked, and its exit code. Having asked, it still
  // runs and reads the Enter; one that did not wait leaves it.
  if (asked && AttachConsole(child.dwProcessId)) {
    INPUT_RECORD key{KEY_EVENT};
    key.Event.KeyEvent = {TRUE, 1, VK_RETURN, 0x1C, {'\r'}, 0};
    const HANDLE input = Open("CONIN$");
    DWORD events = 0;
    WriteConsoleInputA(input, &key, 1, &events);
    WaitForSingleObject(child.hProcess, INFINITE);
    GetNumberOfConsoleInputEvents(input, &events);
    std::printf("%s%s\n", Screen().c_str(), events > 0 ? " Enter left unread" : "");
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  std::printf("exit %lu\n", code);
  return 0;
}
