// Checks, bounded waits and cross-process access to tonequay.exe's windows for the e2e driver.
#include "tests/e2e/harness.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>

namespace {

constexpr int kBoxTextId = 0xFFFF;  // the static that holds a message box's text
constexpr int kBoxIconId = 0x440;   // the static that shows a message box's icon
constexpr DWORD kPollMs = 20;

std::string Printable(const std::wstring& text) {
  return "\"" + Narrow(text) + "\"";
}

// The child windows of the process, visible or not, of one class.
struct ClassSearch {
  DWORD pid;
  const wchar_t* className;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectByClass(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<ClassSearch*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == search->pid && ClassOf(window) == search->className) {
    search->found.push_back(window);
  }
  return TRUE;
}

std::uint32_t Crc32(const std::uint8_t* data, size_t size, std::uint32_t crc = 0) {
  static std::uint32_t table[256];
  static bool ready = false;
  if (!ready) {
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    ready = true;
  }
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((value >> shift) & 0xFF);
}

void PutChunk(std::vector<std::uint8_t>& png, const char* type,
              const std::vector<std::uint8_t>& body) {
  PutBig32(png, static_cast<std::uint32_t>(body.size()));
  std::vector<std::uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  png.insert(png.end(), typed.begin(), typed.end());
  PutBig32(png, Crc32(typed.data(), typed.size()));
}

// A zlib stream of stored (uncompressed) blocks: no compressor needed, any viewer reads it.
std::vector<std::uint8_t> StoredZlib(const std::vector<std::uint8_t>& raw) {
  std::vector<std::uint8_t> out = {0x78, 0x01};
  size_t offset = 0;
  do {
    const size_t size = std::min<size_t>(raw.size() - offset, 65535);
    const bool last = offset + size == raw.size();
    out.push_back(last ? 1 : 0);
    out.push_back(size & 0xFF);
    out.push_back(size >> 8);
    out.push_back(~size & 0xFF);
    out.push_back((~size >> 8) & 0xFF);
    out.insert(out.end(), raw.begin() + offset, raw.begin() + offset + size);
    offset += size;
  } while (offset < raw.size());
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(out, (b << 16) | a);
  return out;
}

}  // namespace

void Report::Begin(const std::string& scenario) {
  scenario_ = scenario;
  std::printf("---- %s\n", scenario.c_str());
}

bool Report::Check(bool ok, const std::string& what, const std::string& detail) {
  if (ok) {
    ++passed_;
    std::printf("PASS %s: %s\n", scenario_.c_str(), what.c_str());
  } else {
    ++failed_;
    std::printf("FAIL %s: %s%s%s\n", scenario_.c_str(), what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
  }
  return ok;
}

bool Report::Equal(const std::wstring& actual, const std::wstring& expected,
                   const std::string& what) {
  return Check(actual == expected, what,
               "got " + Printable(actual) + ", expected " + Printable(expected));
}

bool Report::Equal(long long actual, long long expected, const std::string& what) {
  return Check(actual == expected, what,
               "got " + std::to_string(actual) + ", expected " + std::to_string(expected));
}

bool Report::Hex(unsigned long actual, unsigned long expected, const std::string& what) {
  char detail[64];
  std::snprintf(detail, sizeof detail, "got 0x%08lX, expected 0x%08lX", actual, expected);
  return Check(actual == expected, what, detail);
}

void Report::Skip(const std::string& what) {
  ++skipped_;
  std::printf("SKIP %s: %s\n", scenario_.c_str(), what.c_str());
}

void Report::Note(const std::string& text) {
  std::printf("     %s\n", text.c_str());
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

std::wstring Quote(const std::wstring& text) {
  return L"\"" + text + L"\"";
}

bool WaitFor(const std::function<bool()>& done, DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(kPollMs);
  }
}

RemoteMemory::RemoteMemory(HANDLE process, size_t size)
    : process_(process),
      address_(VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}

RemoteMemory::~RemoteMemory() {
  if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
}

bool RemoteMemory::Write(size_t offset, const void* data, size_t size) {
  SIZE_T done = 0;
  return address_ && WriteProcessMemory(process_, At(offset), data, size, &done) && done == size;
}

bool RemoteMemory::Read(size_t offset, void* data, size_t size) const {
  SIZE_T done = 0;
  return address_ && ReadProcessMemory(process_, At(offset), data, size, &done) && done == size;
}

std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!window ||
      !SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendMs, &length)) {
    return L"<no answer>";
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_NORMAL, kSendMs, &copied)) {
    return L"<no answer>";
  }
  text.resize(std::min<size_t>(copied, length));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  // Classes redirected by the common-controls manifest may carry their version in front.
  std::wstring text = name;
  const size_t bang = text.find(L'!');
  return bang == std::wstring::npos ? text : text.substr(bang + 1);
}

std::vector<std::wstring> ListItems(HWND list) {
  std::vector<std::wstring> items;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, kSendMs, &count)) return items;
  for (int i = 0; i < static_cast<int>(count); ++i) {
    DWORD_PTR length = 0;
    SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_NORMAL, kSendMs, &length);
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL,
                        kSendMs, &copied);
    text.resize(std::min<size_t>(copied, length));
    items.push_back(text);
  }
  return items;
}

int ListSelection(HWND list) {
  DWORD_PTR index = 0;
  if (!SendMessageTimeoutW(list, LB_GETCURSEL, 0, 0, SMTO_NORMAL, kSendMs, &index)) return -2;
  return static_cast<int>(static_cast<LRESULT>(index));
}

int BarPosition(HWND bar) {
  DWORD_PTR position = 0;
  if (!SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, kSendMs, &position)) return -1;
  return static_cast<int>(position);
}

RECT RectIn(HWND window, HWND parent) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void Click(HWND button) {
  PostMessageW(button, BM_CLICK, 0, 0);
}

bool AnswerDialog(HWND dialog, int buttonId) {
  if (const HWND button = GetDlgItem(dialog, buttonId)) {
    Click(button);
  } else {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
  }
  return WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
}

bool SetBrowseSelection(HANDLE process, HWND dialog, const std::wstring& folder) {
  // The dialog takes the path as a pointer into its own process.
  RemoteMemory path(process, (folder.size() + 1) * sizeof(wchar_t));
  if (!path.Write(0, folder.c_str(), (folder.size() + 1) * sizeof(wchar_t))) return false;
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(path.At(0)),
                             SMTO_NORMAL, kSendMs, &result) != 0;
}

std::vector<HWND> ChildrenInOrder(HWND parent) {
  // Children sit in creation order in the sibling chain: each new one goes to the bottom.
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

Controls ControlsOf(HWND main) {
  Controls controls;
  controls.children = ChildrenInOrder(main);
  const auto& c = controls.children;
  if (c.size() >= 17) {
    controls.sourceEdit = c[1];
    controls.sourceBrowse = c[2];
    controls.destEdit = c[4];
    controls.destBrowse = c[5];
    controls.fileList = c[7];
    controls.currentBar = c[9];
    controls.totalBar = c[11];
    controls.convert = c[12];
    controls.webLink = c[16];
  }
  return controls;
}

Program::~Program() {
  if (process_.hProcess) {
    if (Running()) {
      report_.Note("ending a program left running");
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, kWaitMs);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
}

bool Program::Start(const Options& options) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring commandLine = Quote(options.program);
  if (!CreateProcessW(options.program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, options.fixtures.c_str(), &startup, &process_)) {
    process_ = {};
    return report_.Check(false, "program starts",
                         "CreateProcess failed with error " + std::to_string(GetLastError()));
  }
  const DWORD pid = process_.dwProcessId;
  WaitFor([&] {
    for (HWND window = FindWindowExW(nullptr, nullptr, kMainClass, nullptr); window;
         window = FindWindowExW(nullptr, window, kMainClass, nullptr)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(window, &owner);
      if (owner == pid && IsWindowVisible(window)) {
        main_ = window;
        return true;
      }
    }
    return !Running();
  });
  if (!report_.Check(main_ != nullptr, "program shows its window of class Brannix455454545453",
                     Running() ? "no such window" : "the process ended")) {
    return false;
  }
  // The window shows before its children exist: wait for the loop to be waiting for input,
  // then let it handle what start-up posted (the fonts).
  WaitForInputIdle(process_.hProcess, kWaitMs);
  WaitFor([&] { return ChildrenInOrder(main_).size() >= 18 || !Running(); });
  controls_ = ControlsOf(main_);
  if (!report_.Check(controls_.children.size() >= 17, "main window has its children",
                     std::to_string(controls_.children.size()) + " found")) {
    return false;
  }
  Drain();
  return true;
}

bool Program::Running() const {
  return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

long long Program::WaitExit(DWORD ms) {
  if (WaitForSingleObject(process_.hProcess, ms) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return code;
}

std::vector<HWND> Program::Dialogs() const {
  ClassSearch search{process_.dwProcessId, L"#32770", {}};
  EnumWindows(CollectByClass, reinterpret_cast<LPARAM>(&search));
  std::vector<HWND> owned;
  for (HWND dialog : search.found) {
    if (GetWindow(dialog, GW_OWNER) == main_ && IsWindowVisible(dialog)) owned.push_back(dialog);
  }
  return owned;
}

HWND Program::WaitDialog(DWORD ms, const std::vector<HWND>& open) const {
  HWND dialog = nullptr;
  WaitFor(
      [&] {
        for (HWND candidate : Dialogs()) {
          if (std::find(open.begin(), open.end(), candidate) == open.end()) dialog = candidate;
        }
        return dialog != nullptr || !Running();
      },
      ms);
  return dialog;
}

Box Program::NextBox(DWORD ms, const std::vector<HWND>& open) {
  Box box;
  box.hwnd = WaitDialog(ms, open);
  if (box.hwnd) {
    box.title = TextOf(box.hwnd);
    box.text = TextOf(GetDlgItem(box.hwnd, kBoxTextId));
    DWORD_PTR icon = 0;
    SendMessageTimeoutW(GetDlgItem(box.hwnd, kBoxIconId), STM_GETICON, 0, 0, SMTO_NORMAL, kSendMs,
                        &icon);
    box.icon = reinterpret_cast<HICON>(icon);
    CheckBoxKind(box);
  }
  return box;
}

void Program::CheckBoxKind(const Box& box) {
  // A message box keeps only the buttons it was asked for.
  const bool question = box.title == L"Question";
  const bool okOnly = GetDlgItem(box.hwnd, IDOK) && !GetDlgItem(box.hwnd, IDYES) &&
                      !GetDlgItem(box.hwnd, IDNO) && !GetDlgItem(box.hwnd, IDCANCEL);
  const bool yesNo = GetDlgItem(box.hwnd, IDYES) && GetDlgItem(box.hwnd, IDNO) &&
                     !GetDlgItem(box.hwnd, IDOK) && !GetDlgItem(box.hwnd, IDCANCEL);
  const std::string kind = Narrow(Quote(box.title)) + " box";
  report_.Check(question ? yesNo : okOnly,
                kind + (question ? " offers Yes and No only" : " offers OK only"));
  // Each title comes with its own icon: error, information or question.
  const auto known = iconOfTitle_.find(box.title);
  if (known != iconOfTitle_.end()) {
    report_.Check(box.icon == known->second, kind + " shows the same icon as before");
    return;
  }
  bool distinct = box.icon != nullptr;
  for (const auto& [title, icon] : iconOfTitle_) distinct = distinct && icon != box.icon;
  report_.Check(distinct, kind + " shows an icon of its own");
  iconOfTitle_[box.title] = box.icon;
}

bool Program::ExpectBox(const std::wstring& title, const std::wstring& text, int answer,
                        const std::string& what) {
  const Box box = NextBox();
  if (!report_.Check(box.hwnd != nullptr, what + ": a message box appears",
                     Running() ? "none appeared" : "the program ended")) {
    return false;
  }
  bool ok = report_.Equal(box.text, text, what + ": box text");
  ok = report_.Equal(box.title, title, what + ": box title") && ok;
  ok = report_.Check(AnswerDialog(box.hwnd, answer), what + ": box closes when answered") && ok;
  return ok;
}

void Program::PostAtOnce(const std::vector<std::function<void()>>& posts) {
  const bool held = SuspendThread(process_.hThread) != static_cast<DWORD>(-1);
  for (const auto& post : posts) post();
  if (held) ResumeThread(process_.hThread);
}

bool Program::Drain() {
  // Posted messages are handled in order, so once the marker has arrived everything posted
  // before it has been handled. The edit's text limit is a value the program never touches.
  const unsigned marker = ++marker_;
  PostMessageW(controls_.sourceEdit, EM_SETLIMITTEXT, marker, 0);
  return WaitFor([&] {
    DWORD_PTR limit = 0;
    return (SendMessageTimeoutW(controls_.sourceEdit, EM_GETLIMITTEXT, 0, 0, SMTO_NORMAL, kSendMs,
                                &limit) &&
            limit == marker) ||
           !Running();
  });
}

bool Program::SyncInput() {
  InvalidateRect(main_, nullptr, FALSE);
  return WaitFor([&] {
    RECT update{};
    return !GetUpdateRect(main_, &update, FALSE) || !Running();
  });
}

bool Program::WaitIdle() {
  return WaitFor(
      [&] { return (TextOf(controls_.convert) == L"Convert" && Dialogs().empty()) || !Running(); });
}

bool Program::Browse(HWND button, const std::wstring& folder, std::wstring* status) {
  Click(button);
  const HWND dialog = WaitDialog();
  if (!report_.Check(dialog != nullptr, "the folder dialog opens")) return false;
  const HWND statusLine = GetDlgItem(dialog, 14147);
  if (status) *status = TextOf(statusLine);
  if (folder.empty()) return AnswerDialog(dialog, IDCANCEL) && Drain();
  SetBrowseSelection(process_.hProcess, dialog, folder);
  // The status line follows the selection, so it tells when the folder has been reached.
  const bool selected = WaitFor([&] { return TextOf(statusLine) == folder; }, 5000);
  report_.Check(selected, "the folder dialog selects " + Narrow(folder),
                "status line reads " + Narrow(TextOf(statusLine)));
  const bool closed = AnswerDialog(dialog, selected ? IDOK : IDCANCEL);
  return Drain() && selected && closed;
}

HWND Program::Tooltip() const {
  ClassSearch search{process_.dwProcessId, L"tooltips_class32", {}};
  EnumWindows(CollectByClass, reinterpret_cast<LPARAM>(&search));
  return search.found.size() == 1 ? search.found.front() : nullptr;
}

std::vector<Tool> Program::Tools() const {
  std::vector<Tool> tools;
  const HWND tooltip = Tooltip();
  DWORD_PTR count = 0;
  if (!tooltip ||
      !SendMessageTimeoutW(tooltip, TTM_GETTOOLCOUNT, 0, 0, SMTO_NORMAL, kSendMs, &count)) {
    return tools;
  }
  // The tool record and its text buffer must live in the program: the control writes there.
  constexpr size_t kTextBytes = 1024;
  RemoteMemory memory(process_.hProcess, sizeof(TTTOOLINFOA) + kTextBytes);
  for (UINT i = 0; i < count; ++i) {
    TTTOOLINFOA info{};
    info.cbSize = TTTOOLINFOA_V1_SIZE;
    info.lpszText = static_cast<char*>(memory.At(sizeof info));
    const char empty[1] = {};
    memory.Write(0, &info, sizeof info);
    memory.Write(sizeof info, empty, 1);
    DWORD_PTR found = 0;
    SendMessageTimeoutW(tooltip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(memory.At(0)),
                        SMTO_NORMAL, kSendMs, &found);
    char text[kTextBytes] = {};
    memory.Read(0, &info, sizeof info);
    memory.Read(sizeof info, text, kTextBytes - 1);
    tools.push_back({info.uFlags, info.hwnd, info.uId, Widen(text)});
  }
  return tools;
}

bool SaveWindowPng(HWND window, const std::wstring& path, int& width, int& height, int& colours) {
  RECT rect{};
  GetWindowRect(window, &rect);
  width = rect.right - rect.left;
  height = rect.bottom - rect.top;
  colours = 0;
  if (width <= 0 || height <= 0) return false;

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down rows, as PNG stores them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, dib);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);

  std::vector<std::uint8_t> raw;
  raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
  std::set<std::uint32_t> seen;
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    for (int x = 0; x < width; ++x) {
      const std::uint32_t bgra = pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
      seen.insert(bgra);
      raw.push_back((bgra >> 16) & 0xFF);
      raw.push_back((bgra >> 8) & 0xFF);
      raw.push_back(bgra & 0xFF);
    }
  }
  colours = static_cast<int>(seen.size());
  SelectObject(memory, previous);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!copied) return false;

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig32(header, width);
  PutBig32(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", StoredZlib(raw));
  PutChunk(png, "IEND", {});
  std::ofstream out(path.c_str(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  return static_cast<bool>(out);
}

bool ReadPngSize(const std::wstring& path, int& width, int& height) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::uint8_t head[24] = {};
  if (!in.read(reinterpret_cast<char*>(head), sizeof head)) return false;
  if (head[0] != 0x89 || head[1] != 'P' || head[12] != 'I' || head[15] != 'R') return false;
  width = (head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19];
  height = (head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23];
  return true;
}
