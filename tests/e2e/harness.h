// Checks, bounded waits and cross-process access to tonequay.exe's windows for the e2e driver.
#pragma once

#include <windows.h>
// The common controls' and the shell's headers build on windows.h.
#include <commctrl.h>
#include <shlobj.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Every wait is bounded so a broken program fails a check instead of hanging the run. The
// bounds only stop waiting; no check passes or fails on how long something took.
inline constexpr DWORD kWaitMs = 20000;
inline constexpr UINT kSendMs = 10000;

inline constexpr wchar_t kMainClass[] = L"Brannix455454545453";

// What the runner prepared: DOS paths only, since the shell cannot parse Unix ones.
struct Options {
  std::wstring program;    // tonequay.exe
  std::wstring fixtures;   // root of this run's fixture tree (a drive of its own), ends in '\'
  std::wstring smallDisk;  // root of a tiny empty volume, or empty when none could be made
  std::wstring fillDisk;   // root of a second tiny empty volume, or empty
  std::wstring urlLog;     // file the web-address recorder appends each address it gets to
  std::wstring shots;      // folder that receives the screenshots, ends in '\'
};

// Prints one PASS/FAIL line per check and counts them.
class Report {
 public:
  void Begin(const std::string& scenario);
  bool Check(bool ok, const std::string& what, const std::string& detail = {});
  bool Equal(const std::wstring& actual, const std::wstring& expected, const std::string& what);
  bool Equal(long long actual, long long expected, const std::string& what);
  bool Hex(unsigned long actual, unsigned long expected, const std::string& what);
  void Skip(const std::string& what);
  void Note(const std::string& text);
  int Passed() const { return passed_; }
  int Failed() const { return failed_; }
  int Skipped() const { return skipped_; }

 private:
  std::string scenario_;
  int passed_ = 0;
  int failed_ = 0;
  int skipped_ = 0;
};

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);
std::wstring Quote(const std::wstring& text);

// Polls `done` until it holds or `ms` have passed.
bool WaitFor(const std::function<bool()>& done, DWORD ms = kWaitMs);

// A block of memory inside another process, for messages whose pointers are not marshalled.
class RemoteMemory {
 public:
  RemoteMemory(HANDLE process, size_t size);
  ~RemoteMemory();
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;
  bool Valid() const { return address_ != nullptr; }
  void* At(size_t offset) const { return static_cast<char*>(address_) + offset; }
  bool Write(size_t offset, const void* data, size_t size);
  bool Read(size_t offset, void* data, size_t size) const;

 private:
  HANDLE process_;
  void* address_;
};

// The main window's children in creation order, by their role.
struct Controls {
  std::vector<HWND> children;
  HWND sourceEdit = nullptr;
  HWND sourceBrowse = nullptr;
  HWND destEdit = nullptr;
  HWND destBrowse = nullptr;
  HWND fileList = nullptr;
  HWND currentBar = nullptr;
  HWND totalBar = nullptr;
  HWND convert = nullptr;
  HWND webLink = nullptr;
};

struct Tool {
  UINT flags = 0;
  HWND owner = nullptr;
  UINT_PTR id = 0;
  std::wstring text;
};

struct Box {
  HWND hwnd = nullptr;
  std::wstring title;
  std::wstring text;
  HICON icon = nullptr;
};

// One run of tonequay.exe. Ending the object ends a process still running, so a failed
// scenario never leaks its program into the next one.
class Program {
 public:
  explicit Program(Report& report) : report_(report) {}
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Starts the program and waits for its main window; reports a failure and returns false
  // when either does not happen.
  bool Start(const Options& options);
  HWND Main() const { return main_; }
  HANDLE Process() const { return process_.hProcess; }
  const Controls& Ui() const { return controls_; }
  bool Running() const;
  // Waits for the process to end and returns its exit code, or -1 while it still runs.
  long long WaitExit(DWORD ms = kWaitMs);

  // Dialogs ("#32770") owned by the main window, visible ones only.
  std::vector<HWND> Dialogs() const;
  // Waits for an owned dialog other than those in `open` to appear; null when none does.
  HWND WaitDialog(DWORD ms = kWaitMs, const std::vector<HWND>& open = {}) const;
  // Waits for the next message box, one not in `open`, and reads its title and text; checks
  // that its buttons and icon suit its title.
  Box NextBox(DWORD ms = kWaitMs, const std::vector<HWND>& open = {});
  // Checks that the next message box reads `title` and `text`, then answers it with the
  // button `answer` and waits for it to close.
  bool ExpectBox(const std::wstring& title, const std::wstring& text, int answer,
                 const std::string& what);

  // Posts several messages with the program's thread held still, so all of them are queued
  // before it handles the first: a click that starts a batch and a request that the batch's
  // first pump must find.
  void PostAtOnce(const std::vector<std::function<void()>>& posts);
  // Returns once every message posted to the window before this call has been handled,
  // in whatever loop (main, pump or modal box) the program happens to be.
  bool Drain();
  // Returns once the program has handled the mouse and keyboard input queued so far: input
  // comes before painting, so a repaint asked for now happens only after it.
  bool SyncInput();
  // Waits until the batch has handed the controls back (caption "Convert" and no box).
  bool WaitIdle();

  // Chooses `folder` in the browse dialog that `button` opens, or cancels it when `folder` is
  // empty; the dialog's handle and status text are returned through the pointers if given.
  bool Browse(HWND button, const std::wstring& folder, std::wstring* status = nullptr);

  HWND Tooltip() const;
  std::vector<Tool> Tools() const;

 private:
  Report& report_;
  PROCESS_INFORMATION process_{};
  HWND main_ = nullptr;
  Controls controls_;
  unsigned marker_ = 4000;
  std::map<std::wstring, HICON> iconOfTitle_;

  void CheckBoxKind(const Box& box);
};

// Cross-process reads: WM_GETTEXT and LB_GETTEXT are marshalled only as wide messages.
std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);
std::vector<std::wstring> ListItems(HWND list);
int ListSelection(HWND list);
int BarPosition(HWND bar);
RECT RectIn(HWND window, HWND parent);
// Clicks that may open a modal dialog must be posted: a sent one returns only when it closes.
void Click(HWND button);
bool AnswerDialog(HWND dialog, int buttonId);
bool SetBrowseSelection(HANDLE process, HWND dialog, const std::wstring& folder);

std::vector<HWND> ChildrenInOrder(HWND parent);
Controls ControlsOf(HWND main);

// Saves the window's pixels, as the screen shows them, to a PNG file; returns its size and
// how many different colours it holds (a blank capture has one).
bool SaveWindowPng(HWND window, const std::wstring& path, int& width, int& height, int& colours);
bool ReadPngSize(const std::wstring& path, int& width, int& height);
