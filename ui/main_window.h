// The main window: its handles, the start-up that creates it, the message loop and tooltips.
#pragma once

#include <windows.h>

#include <string>

inline constexpr int IDC_BROWSE_SOURCE = 10;
inline constexpr int IDC_BROWSE_DEST = 11;
inline constexpr int IDC_CONVERT = 12;
inline constexpr int IDC_FILE_LIST = 14;
inline constexpr int IDC_LOGO = 15;

// The label reads "Web Site: " and the address; a click on it opens the same address.
inline constexpr char kWebSiteLabel[] = "Web Site: www.varnel.example";
inline constexpr const char* kWebAddress = kWebSiteLabel + sizeof("Web Site: ") - 1;

// Handles set once at start-up and never changed.
struct MainControls {
  HWND main = nullptr;
  HWND sourceEdit = nullptr;
  HWND destEdit = nullptr;
  HWND sourceBrowse = nullptr;
  HWND destBrowse = nullptr;
  HWND fileList = nullptr;
  HWND currentBar = nullptr;
  HWND totalBar = nullptr;
  HWND convertButton = nullptr;
  HWND webLink = nullptr;
  HWND tooltip = nullptr;  // null when the tooltip window could not be made
  HFONT font = nullptr;
};

extern MainControls Controls;
// The one message record of the main loop, which the batch's pump fills as well.
extern MSG SharedMessage;

// Creates the tooltip window, the main window and its children, and shows them.
void CreateMainWindow(HINSTANCE instance);
// Runs until the quit message arrives.
void RunMessageLoop();

// The text of a path field, read through a buffer of `bufferSize` bytes (the batch's 260, the
// folder picker caller's 261); a shell path has at most 259 characters.
std::string PathFieldText(HWND field, int bufferSize);

void AddTooltip(HWND tooltip, HWND owner, HWND control, const char* text);
void RemoveTooltip(HWND tooltip, HWND owner, HWND control);
