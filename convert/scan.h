// Fills the file list from a source folder: its ".wav" files if any, else its ".med" files.
#pragma once

#include <string>

#include "convert/file_list.h"
#include "convert/file_system.h"

// Leaves the list as it was when the folder holds neither kind of file.
void ScanFolder(const std::string& folder, FileList& list, FileSystem& fs);
