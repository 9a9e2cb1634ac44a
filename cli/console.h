// The few services of the terminal and the process that the command-line tool needs.
#pragma once

#include <cstdint>
#include <cstdio>
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
// True once Ctrl-C was pressed (or SIGINT, SIGTERM or SIGHUP received) after
// InstallInterruptHandler.
bool InterruptRequested();

// Milliseconds from a fixed point of this process's life, never going back.
std::uint64_t MonotonicMilliseconds();
// Pauses for `milliseconds`, or less where Ctrl-C cuts it short.
void SleepMilliseconds(std::uint64_t milliseconds);

// How many processes share the console this one writes to, where that console has a window on
// the screen: 1 when it was made for this one alone (started from Explorer, by a double click or a
// folder dropped on it); 0 where there is no such console (a terminal, or Wine's console on one).
int ConsoleProcessCount();
// Waits for a line of standard input, or its end.
void WaitForEnter();

// Writes `text`, in the process's ANSI code page, to standard output or error: on a console as
// its characters, whatever code page the console shows bytes in; elsewhere as the same bytes.
void WriteText(std::FILE* stream, const std::string& text);

// A folder argument as the batch takes it: this platform's separators turned into '\' where
// that is the native one, and trailing separators dropped unless the folder is a root.
std::string FolderArgument(const std::string& folder);
// `folder` as a full path, as the system reads it: from the current folder, or for "C:out" from
// drive C's own; unchanged where every call takes a relative path, or where it cannot be read.
std::string FullPath(const std::string& folder);
// A message or path for the user: the batch joins folders and names with '\', which is shown
// as this platform's own separator; a control character, which a name may hold where names are
// bytes, is shown as '?', so that no name moves the cursor, recolours a terminal or fakes a line.
// One line at a time, then.
std::string ForDisplay(const std::string& text);
// ForDisplay's separators alone, for a document whose writer escapes what a name holds.
std::string WithOwnSeparators(const std::string& text);
// `text`, in the process's ANSI code page, as UTF-8, for a document other programs read.
std::string AsUtf8(const std::string& text);
