// The file system of the platform being built for, under one name.
#pragma once

#ifdef _WIN32
#include "convert/file_system_win.h"
using PlatformFileSystem = WinFileSystem;
#else
#include "convert/file_system_posix.h"
using PlatformFileSystem = PosixFileSystem;
#endif
