// POSIX side of the console services: isatty and TIOCGWINSZ for the terminal, sigaction for
// Ctrl-C and requests to end.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <ctime>

#include "cli/console.h"

namespace {

// Written only by the handler, read by the batch between files.
volatile std::sig_atomic_t interruptSignal = 0;

extern "C" void OnInterrupt(int /*signal*/) {
  interruptSignal = 1;
}

}  // namespace

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

int TerminalColumns() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

const char* EraseToLineEnd() {
  return "\x1b[K";
}

// A request to end (kill, a closed terminal) stops the run as Ctrl-C does, between files: killed
// outright, a run would leave its temporary file in DEST.
void InstallInterruptHandler() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    // A job started with the signal ignored (in the background of a script) keeps ignoring it.
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Restarted calls keep a read or write that the signal lands in from failing half-done.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

bool InterruptRequested() {
  return interruptSignal != 0;
}

std::uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

// A signal ends the pause early, which is what a watch waiting for Ctrl-C wants.
void SleepMilliseconds(std::uint64_t milliseconds) {
  const timespec pause{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000 * 1000000)};
  nanosleep(&pause, nullptr);
}

// A terminal outlives the programs it runs: none needs to be kept open to be read.
int ConsoleProcessCount() {
  return 0;
}

void WaitForEnter() {
  for (int c = std::getchar(); c != EOF && c != '\n';) c = std::getchar();
}

void WriteText(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

std::string FolderArgument(const std::string& folder) {
  std::string result = folder;
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

// statvfs and every other call take a relative path, and messages show it as it was typed.
std::string FullPath(const std::string& folder) {
  return folder;
}

std::string WithOwnSeparators(const std::string& text) {
  std::string result = text;
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

std::string ForDisplay(const std::string& text) {
  std::string result = WithOwnSeparators(text);
  for (char& c : result) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  return result;
}

// Names are bytes here; the JSON writer replaces what is not UTF-8.
std::string AsUtf8(const std::string& text) {
  return text;
}
