// Stands in for the web browser in the test's Wine prefix: appends the address it was asked to
// open to a log file, so the e2e driver can check what the web-site label opened.
// Usage: tonequay-e2e-url LOGFILE ADDRESS
#include <windows.h>
// CommandLineToArgvW
#include <shellapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 3) return 2;
  const HANDLE log = CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log == INVALID_HANDLE_VALUE) return 1;
  char line[2048] = {};
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, argv[2], -1, line, sizeof line - 2, nullptr, nullptr);
  if (size <= 0) return 1;
  line[size - 1] = '\n';
  DWORD written = 0;
  WriteFile(log, line, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(log);
  return 0;
}
