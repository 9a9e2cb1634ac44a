// Holds a file open without sharing, as a program busy with it would, until its standard input
// ends: "hold_file PATH" prints "held" once the file is open.
#include <windows.h>

#include <cstdio>

int main(int /*argc*/, char** argv) {
  // Without a PATH argv[1] is null, which CreateFileA refuses.
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::puts("held");
  std::fflush(stdout);
  for (int c = 0; c != EOF;) c = std::getchar();
  return CloseHandle(file) ? 0 : 1;
}
