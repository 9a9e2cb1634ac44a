// The main window's procedure: the three buttons, quitting, the web link and theme changes.
#pragma once

#include <windows.h>

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
