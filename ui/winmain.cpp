// The program's entry: build the window, run the loop, exit with 0.
#include <windows.h>

#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CreateMainWindow(instance);
  RunMessageLoop();
  return 0;
}
