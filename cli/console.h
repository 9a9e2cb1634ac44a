// The few services of the terminal and the process that the command-line tool needs.
#pragma once

#include <string>

// True when standard error is an interactive terminal, where a progress line can redraw itself.
bool StderrIsTerminal();
// Width of the terminal behind standard error in columns; 0 when unknown.
int TerminalColumns();
// What ends a redrawn progress line so that nothing of a longer earlier line stays visible;
// empty where only padding with spaces is safe.
const char* EraseToLineEnd();

// Routes Ctrl-C to a flag instead of ending the process, so a batch can stop between files.
void InstallInterruptHandler();
// True once Ctrl-C was pressed (or SIGINT received) after InstallInterruptHandler.
bool InterruptRequested();

// Sets the console to show the text the program writes when that text is UTF-8 (the process's
// ANSI code page is UTF-8), putting the console's own code page back when the process exits.
void UseUtf8ConsoleIfAnsiIsUtf8();

// A folder argument as the batch takes it: this platform's separators turned into '\' where
// that is the native one, and trailing separators dropped unless the folder is a root.
std::string FolderArgument(const std::string& folder);
// A message or path for the user: the batch joins folders and names with '\', which is shown
// as this platform's own separator.
std::string ForDisplay(const std::string& text);
