// The shell's classic folder dialog, opened centred on a given folder.
#pragma once

#include <windows.h>
// shlobj.h needs the types windows.h declares.
#include <shlobj.h>

#include <string>

#include "convert/file_list.h"
#include "convert/file_system.h"

// Returns the chosen folder, or "" when the dialog was cancelled. With `scanInto` the list is
// then refreshed from the chosen folder, or from `initialFolder` after a cancel.
std::string PickFolder(HWND owner, const std::string& title, const std::string& initialFolder,
                       FileList* scanInto, FileSystem& fs);

// `data` is the item list of the folder to preselect, possibly null.
int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data);

// The shell item list of `path`, or null; the caller frees it with CoTaskMemFree.
LPITEMIDLIST PathToItemList(HWND owner, const std::string& path);
