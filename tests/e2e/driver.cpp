// Works tonequay.exe's window under Wine from outside, as a person would; prints PASS or FAIL per
// check and exits 1 on any FAIL.
#include <windows.h>
// Both build on windows.h.
#include <commctrl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Str = std::wstring;
namespace fs = std::filesystem;

// A window as it should be: its rectangle (a child's in the client area), the styles that
// GetWindowLong reads, its id, and whether it is a label drawn in the dialog font.
struct WindowRow {
  const char *name, *className, *text;
  DWORD style, exStyle;
  RECT rect;
  int id;
  bool label;
};

// clang-format off
// Centred on 1024x768, 332x213 under the caption, with a system menu and a minimize box.
constexpr WindowRow kWindow =
    {"the window", "Brannix455454545453", "Tonequay v1.0 by Varnel", 0x14CA0000, 0x100, {346, 277, 678, 490}, 0};

// The window's children by name, in creation order, which is also the tab order.
enum Child {
  kPathLabel, kSourcePath, kSourceButton, kSaveToLabel, kDestPath, kDestButton, kFilesLabel,
  kFileList, kCurrentLabel, kCurrentBar, kTotalLabel, kTotalBar, kConvert, kLineUnderPaths,
  kLineBetweenHalves, kLogo, kWebLink, kFrame, kChildCount
};
constexpr WindowRow kChildren[kChildCount] = {  // in the order of Child
    {"Path: label", "Static", "Path:", 0x50000000, 0, {8, 8, 125, 22}, 0, true},
    {"source path", "Edit", "", 0x50010880, 0x200, {8, 22, 125, 44}, 0},
    {"source button", "Button", "...", 0x50010000, 0, {130, 21, 153, 44}, 10},
    {"Save to: label", "Static", "Save to:", 0x50000000, 0, {172, 8, 289, 22}, 0, true},
    {"destination path", "Edit", "", 0x50010880, 0x200, {172, 22, 289, 44}, 0},
    {"destination button", "Button", "...", 0x50010000, 0, {294, 21, 317, 44}, 11},
    {"Files: label", "Static", "Files:", 0x50000000, 0, {8, 62, 153, 76}, 0, true},
    {"file list", "ListBox", "", 0x50010400, 0x200, {8, 76, 153, 208}, 14},
    {"Current file: label", "Static", "Current file:", 0x50000000, 0, {172, 62, 317, 76}, 0, true},
    {"current file's bar", "msctls_progress32", "", 0x50000001, 0, {172, 76, 317, 93}, 0},
    {"Total: label", "Static", "Total:", 0x50000000, 0, {172, 102, 317, 116}, 0, true},
    {"total bar", "msctls_progress32", "", 0x50000001, 0, {172, 116, 317, 133}, 0},
    {"Convert button", "Button", "Convert", 0x50010000, 0, {172, 142, 240, 168}, 12},
    {"line under the paths", "Static", "", 0x50000010, 0x20000, {3, 52, 328, 54}, 0},
    {"line between the halves", "Static", "", 0x50000011, 0x20000, {161, 56, 163, 209}, 0},
    {"logo", "Static", "PWRBADGE", 0x5000000E, 0, {245, 142, 317, 168}, 15},
    {"web link", "Static", "Web Site: www.varnel.example", 0x50000001, 0, {166, 180, 321, 196}, 0, true},
    {"frame", "Static", "", 0x50000012, 0, {0, 0, 326, 207}, 0},
};
// clang-format on

constexpr DWORD kLong = 20000;  // ms
const Str kDone = L"Information: Done";
// The tips up to the Convert button's own, which says what a click does now.
const std::string kFolderTips =
    "source button: Select files; destination button: Select path for output files; "
    "Convert button: ";

// "class "text" style extended-style (left,top)-(right,bottom) id", as a row reads.
std::string Describe(const std::string& className, const std::string& text, DWORD style,
                     DWORD exStyle, const RECT& r, int id) {
  char line[400];
  std::snprintf(line, sizeof line, "%s \"%s\" %08lX %08lX (%ld,%ld)-(%ld,%ld) %d",
                className.c_str(), text.c_str(), style, exStyle, r.left, r.top, r.right, r.bottom,
                id);
  return line;
}

class Driver {
 public:
  Str program, fixtures, work;  // DOS paths from the runner
  int failed = 0;
  PROCESS_INFORMATION app{};  // the program under test, one at a time
  HWND main = nullptr;
  std::vector<HWND> kids;  // in creation order

  bool Check(bool ok, const std::string& what, const std::string& detail = "") {
    std::printf("%s %s%s\n", ok ? "PASS" : "FAIL", what.c_str(), ok ? "" : (": " + detail).c_str());
    if (!ok) ++failed;
    return ok;
  }
  template <class S>
  std::string Narrow(const S& ascii) const {
    return {ascii.begin(), ascii.end()};
  }
  template <class C>  // `want` takes the type of `got`, so a literal may stand there
  bool Equal(const std::basic_string<C>& got, const std::common_type_t<std::basic_string<C>>& want,
             const std::string& what) {
    return Check(got == want, what,
                 "got \"" + Narrow(got) + "\", expected \"" + Narrow(want) + "\"");
  }
  bool Until(DWORD ms, const std::function<bool()>& done) {  // fails a check, never hangs
    for (const ULONGLONG end = GetTickCount64() + ms; !done(); Sleep(20))
      if (GetTickCount64() >= end) return false;
    return true;
  }
  Str Fixture(const Str& name) const { return name.empty() ? name : fixtures + name; }
  std::string NameOf(HWND window) const {
    const auto at = std::find(kids.begin(), kids.end(), window);
    return at == kids.end() ? "none" : kChildren[at - kids.begin()].name;
  }
  bool Running() const { return WaitForSingleObject(app.hProcess, 0) == WAIT_TIMEOUT; }
  // Posted: a sent click would wait out the boxes it opens.
  void Click(Child button) const { PostMessageW(kids[button], BM_CLICK, 0, 0); }
  LRESULT Send(HWND window, UINT message, WPARAM w = 0, LPARAM l = 0) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, 10000, &result) ? result : -9;
  }
  // Wine marshals WM_GETTEXT and LB_GETTEXT across processes only as wide messages.
  Str Text(HWND window, UINT message = WM_GETTEXT, WPARAM item = 512) {
    wchar_t text[512] = {};
    Send(window, message, item, reinterpret_cast<LPARAM>(text));
    return text;
  }
  RECT Rect(HWND window, HWND in = nullptr) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, in, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  POINT Centre(Child child) {
    const RECT r = Rect(kids[child]);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  std::string Read(const Str& path) {  // "" when missing
    std::ifstream in(fs::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // "name|" for each file of `folder` ending in `ext`, in the folder's order, as the program scans.
  Str Names(const Str& folder, const wchar_t* ext = L"") {
    Str names;
    for (const auto& file : fs::directory_iterator(fs::path(folder)))
      if (!*ext || !_wcsicmp(file.path().extension().c_str(), ext))
        names += file.path().filename().wstring() + L"|";
    return names;
  }
  // Makes each folder and sound file ("folder\name:size", tag 17 for .wav, else 122, JUNK first
  // in a "junk" one) before a program starts: a folder dialog may not show a folder made later.
  void Fixtures(const Str& files) const {
    std::wistringstream list(files);
    for (Str file; list >> file;) {
      const size_t colon = file.find(L':');
      fs::create_directories(fs::path(fixtures + file).parent_path());
      if (colon == Str::npos) continue;
      std::string bytes = file.find(L"junk") != Str::npos ? "RIFF1234WAVEJUNK" : "RIFF1234WAVEfmt ";
      bytes.append(std::stoi(file.substr(colon + 1)), '!');
      bytes[20] = file[colon - 1] == L'v' ? 17 : 122;
      bytes[21] = 0;
      std::ofstream(fs::path(fixtures + file.substr(0, colon)), std::ios::binary) << bytes;
    }
  }
  // Each of the first `done` files of `from` but a "junk" one has its twin in `to`, byte for byte
  // but for the toggled tag; the others have none, and `to` holds nothing else.
  void Converted(const Str& from, const Str& to, size_t done, const std::string& what) {
    std::wistringstream names(Names(Fixture(from)));
    size_t count = 0, made = 0;
    for (Str name; std::getline(names, name, L'|'); ++count) {
      const Str stem = name.substr(0, name.rfind(L'.'));
      const bool med = !_wcsicmp(name.c_str() + stem.size(), L".med");
      std::string twin = Read(Fixture(from) + L"\\" + name);
      twin[20] = static_cast<char>(med ? 17 : 122);
      const bool wanted = count < done && name.find(L"junk") == Str::npos;
      made += wanted;
      Check((Read(Fixture(to) + L"\\" + stem + (med ? L".wav" : L".med")) == twin) == wanted,
            what + ": " + Narrow(name) + (wanted ? "" : " not") + " converted");
    }
    const Str outputs = Names(Fixture(to));
    Equal(std::to_string(std::count(outputs.begin(), outputs.end(), L'|')), std::to_string(made),
          what + ": no other file");
  }

  bool Start() {
    STARTUPINFOW startup{sizeof startup};
    Str line = L"tonequay.exe";
    CreateProcessW(program.c_str(), &line[0], 0, 0, 0, 0, 0, fixtures.c_str(), &startup, &app);
    // The window shows before its children exist, and they get their font from posted messages.
    Until(kLong, [&] {
      main = FindWindowA(kWindow.className, nullptr);
      kids.clear();
      for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) kids.push_back(c);
      return (IsWindowVisible(main) && kids.size() == kChildCount) || !Running();
    });
    const bool found =
        Check(main != nullptr, "a window of class " + std::string(kWindow.className));
    return Check(kids.size() == kChildCount, "the window has 18 children") && found && Drain();
  }
  bool Exit0() const {
    DWORD code = 9;
    return !WaitForSingleObject(app.hProcess, kLong) && GetExitCodeProcess(app.hProcess, &code) &&
           !code;
  }
  // Returns once all messages posted before are handled, in whatever loop the program is (main,
  // batch pump or a box): a marker in the source field's text limit, posted last, has arrived.
  bool Drain() {
    static LRESULT marker = 4000;
    const HWND field = kids[kSourcePath];
    PostMessageW(field, EM_SETLIMITTEXT, ++marker, 0);
    return Until(kLong, [&] { return Send(field, EM_GETLIMITTEXT) == marker || !Running(); });
  }
  void PostAtOnce(std::initializer_list<MSG> posts) const {  // all queued before any is handled
    SuspendThread(app.hThread);
    for (const MSG& m : posts) PostMessageW(m.hwnd, m.message, m.wParam, 0);
    ResumeThread(app.hThread);
  }
  HWND Dialog(DWORD ms = 0) {  // a visible one the window owns, once there is one
    HWND w = nullptr;
    Until(ms, [&] {
      for (w = FindWindowW(L"#32770", 0); w; w = FindWindowExW(0, w, L"#32770", 0))
        if (GetWindow(w, GW_OWNER) == main && IsWindowVisible(w)) return true;
      return !Running();
    });
    return w;
  }
  bool Answer(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, id, reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    return Until(kLong, [&] { return !IsWindowVisible(dialog); }) && Drain();
  }
  void* InProgram(const void* bytes, size_t size) const {  // pointers Wine does not marshal
    void* at = VirtualAllocEx(app.hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    WriteProcessMemory(app.hProcess, at, bytes, size, nullptr);
    return at;
  }
  // The tips of the one top-most tooltip window as "control: text; ...", each marked unless the
  // window's and subclassing. The record and the text the control writes must be in the program.
  std::string Tips() {
    const HWND window = FindWindowW(TOOLTIPS_CLASSW, 0);
    if (FindWindowExW(0, window, TOOLTIPS_CLASSW, 0) ||
        !(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST))
      return "not one top-most tooltip window";
    std::string tips;
    struct {
      TTTOOLINFOA info;
      char text[256];
    } tool{{static_cast<UINT>(TTTOOLINFOA_V1_SIZE)}, {}};
    auto* at = static_cast<decltype(tool)*>(InProgram(&tool, sizeof tool));
    for (int i = 0; i < Send(window, TTM_GETTOOLCOUNT); ++i) {
      tool.info.lpszText = at->text;
      tool.text[0] = 0;
      WriteProcessMemory(app.hProcess, at, &tool, sizeof tool, nullptr);
      Send(window, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(at));
      ReadProcessMemory(app.hProcess, at, &tool, sizeof tool, nullptr);
      const bool own = tool.info.uFlags == (TTF_IDISHWND | TTF_SUBCLASS) && tool.info.hwnd == main;
      tips += (i ? "; " : "") + NameOf((HWND)tool.info.uId) + ": " + tool.text +
              (own ? "" : " (not the window's subclassing tip)");
    }
    VirtualFreeEx(app.hProcess, at, 0, MEM_RELEASE);
    return tips;
  }

  // Whether `control` shows the stock `icon`, or else its text in the dialog font, as drawn here.
  bool Shows(HWND control, LPCWSTR icon = nullptr) {
    RECT r = Rect(control), box = {0, 0, r.right - r.left, r.bottom - r.top};
    const Str text = Text(control);
    const UINT centred = (GetWindowLongW(control, GWL_STYLE) & SS_CENTER) ? DT_CENTER : 0;
    std::vector<DWORD> pixels[2];  // drawn here, and copied from the screen
    for (int onScreen = 0; onScreen < 2; ++onScreen) {
      BITMAPINFO info{{sizeof(BITMAPINFOHEADER), box.right, -box.bottom, 1, 32, BI_RGB}};
      DWORD* bits = nullptr;
      HDC dc = CreateCompatibleDC(nullptr), screen = GetDC(nullptr);
      HGDIOBJ old = SelectObject(dc, CreateDIBSection(dc, &info, 0, (void**)&bits, nullptr, 0));
      FillRect(dc, &box, GetSysColorBrush(COLOR_3DFACE));
      SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
      SetBkColor(dc, GetSysColor(COLOR_3DFACE));
      if (onScreen) BitBlt(dc, 0, 0, box.right, box.bottom, screen, r.left, r.top, SRCCOPY);
      if (!onScreen && icon)
        DrawIconEx(dc, 0, 0, LoadIconW(0, icon), box.right, box.bottom, 0, 0, 3);
      if (!onScreen && !icon) DrawTextW(dc, text.c_str(), -1, &box, centred | DT_WORDBREAK);
      GdiFlush();
      // Shifted, the unused alpha byte drops out.
      for (int p = 0; bits && p < box.right * box.bottom; ++p)
        pixels[onScreen].push_back(bits[p] << 8);
      DeleteObject(SelectObject(dc, old));
      DeleteDC(dc);
      ReleaseDC(nullptr, screen);
    }
    return !pixels[1].empty() && pixels[0] == pixels[1];
  }
  // The pointer as X draws it once the program (or, with `own`, the driver) handled the move:
  // input comes before painting. Wine starts x11.py with no handle; it writes x11.out whole.
  std::string CursorAt(POINT at, bool own = false) {
    SetCursorPos(at.x, at.y);
    if (!own) InvalidateRect(main, nullptr, FALSE);
    Until(kLong, [&] { return own || !GetUpdateRect(main, nullptr, FALSE); });
    std::string last, now;
    Until(kLong, [&] {
      for (MSG m; own && PeekMessageW(&m, 0, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
      DeleteFileW((work + L"x11.out").c_str());
      STARTUPINFOW startup{sizeof startup};
      PROCESS_INFORMATION child{};
      Str line = work + L"x11.py cursor";
      CreateProcessW(0, &line[0], 0, 0, 0, 0, 0, 0, &startup, &child);
      last = now;
      now.clear();
      Until(10000, [&] { return !(now = Read(work + L"x11.out")).empty(); });
      return now == last && !now.empty();
    });
    return now;
  }
  std::string Focused() {  // the control with the keyboard focus
    GUITHREADINFO thread{sizeof thread};
    GetGUIThreadInfo(app.dwThreadId, &thread);
    return NameOf(thread.hwndFocus);
  }
  // Presses the keys together; returns the focused control once the focus moved, or after `ms`.
  std::string Press(std::initializer_list<BYTE> keys, DWORD ms = 5000) {
    const std::string before = Focused();
    for (BYTE key : keys) keybd_event(key, 0, 0, 0);
    for (BYTE key : keys) keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    std::string now;
    Until(ms, [&] { return (now = Focused()) != before; });
    return now;
  }

  // The next message box. Checks that the icon it draws and its buttons suit its title.
  HWND NextBox() {
    const HWND box = Dialog(kLong);
    const Str title = Text(box);
    const bool question = title == L"Question";
    const LPCWSTR icon = question ? IDI_QUESTION : title == L"Error" ? IDI_ERROR : IDI_INFORMATION;
    const std::string what = "\"" + Narrow(Says(box)) + "\" box: ";
    Check(Until(5000, [&] { return Shows(GetDlgItem(box, 0x440), icon); }), what + "its icon");
    const std::pair<int, const char*> kinds[] = {
        {IDOK, "OK "}, {IDCANCEL, "Cancel "}, {IDYES, "Yes "}, {IDNO, "No "}};
    std::string buttons;
    for (const auto& [id, name] : kinds)
      if (GetDlgItem(box, id)) buttons += name;
    Equal(buttons, question ? "Yes No " : "OK ", what + "its buttons");
    return box;
  }
  Str Says(HWND box) { return Text(box) + L": " + Text(GetDlgItem(box, 0xFFFF)); }  // title: text
  Str Finish() {  // answers the next box with OK; returns what it said once the window is idle
    const HWND box = NextBox();
    const Str says = Says(box);
    Answer(box, IDOK);
    Until(kLong, [&] { return Text(kids[kConvert]) == L"Convert" && !Dialog(); });
    return says;
  }
  Str List() {
    Str items;
    for (int i = 0; i < Send(kids[kFileList], LB_GETCOUNT); ++i)
      items += Text(kids[kFileList], LB_GETTEXT, i) + L"|";
    return items;
  }
  // Busy after the first of six files, Convert turns into Cancel with its own tip.
  void Busy(bool busy, const std::string& what) {
    const std::string state = what + (busy ? ", busy: " : ", idle again: ");
    const auto position = [&](Child bar) { return std::to_string(Send(kids[bar], PBM_GETPOS)); };
    Equal(Text(kids[kConvert]), busy ? L"Cancel" : L"Convert", state + "the Convert button");
    Equal(position(kCurrentBar), "0", state + "the current file's bar");
    Equal(position(kTotalBar), busy ? "16" : "0", state + "the total bar");
    for (Child button : {kSourceButton, kDestButton})
      Check(IsWindowEnabled(kids[button]) != busy,
            state + kChildren[button].name + (busy ? " off" : " on"));
    Equal(Tips(), kFolderTips + (busy ? "Abort converting" : "Start converting"),
          state + "the tips");
  }

  // Picks `folder` (none: Cancel) with `button`; checks the dialog's place, title and status line.
  void Pick(Child button, const Str& folder) {
    const Str dest = Text(kids[kDestPath]);
    Click(button);
    const HWND dialog = Dialog(kLong), status = GetDlgItem(dialog, 14147);
    const RECT r = Rect(dialog);
    const auto shows = [&](const Str& path) {
      return Until(5000, [&] { return Text(status) == path; });
    };
    const std::string what = std::string(kChildren[button].name) + "'s dialog" +
                             (folder.empty() ? ", cancelled: " : " for " + Narrow(folder) + ": ");
    Check(r.left == (1024 - r.right + r.left) / 2 && r.top == (768 - r.bottom + r.top) / 2,
          what + "centred", "at " + std::to_string(r.left) + "," + std::to_string(r.top));
    Equal(Text(GetDlgItem(dialog, 14146)),
          button == kDestButton ? L"" : L"Choose folder with med-files:", what + "its title");
    if (!dest.empty()) Check(shows(dest), what + Narrow(dest) + " preselected");
    if (!folder.empty()) {
      Send(dialog, BFFM_SETSELECTIONW, TRUE,
           (LPARAM)InProgram(folder.c_str(), folder.size() * 2 + 2));
      Check(shows(folder), what + "the folder shown once picked");
    }
    Answer(dialog, folder.empty() ? IDCANCEL : IDOK);
  }

  // Start-up, one part of the window after the other, then a close of the idle window.
  void Startup() {
    if (!Start()) return;
    for (auto part : {&Driver::StartupTable, &Driver::StartupKeyboard, &Driver::StartupPointer,
                      &Driver::StartupLink, &Driver::StartupThemeChange, &Driver::StartupClose})
      (this->*part)();
  }
  // `window` as its `row` states it, and a label drawn in the dialog font: Wine answers
  // WM_GETFONT from another process with 0.
  void Matches(HWND window, const RECT& rect, const WindowRow& row) {
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    const wchar_t* bang = wcschr(className, L'!');  // Wine's versioned classes: "6.0...!Button"
    Equal(Describe(Narrow(Str(bang ? bang + 1 : className)), Narrow(Text(window)),
                   GetWindowLongW(window, GWL_STYLE), GetWindowLongW(window, GWL_EXSTYLE), rect,
                   GetDlgCtrlID(window)),
          Describe(row.className, row.text, row.style, row.exStyle, row.rect, row.id),
          std::string(row.name) + ": class, text, styles, place, id");
    if (row.label)
      Check(Until(5000, [&] { return Shows(window); }),
            std::string(row.name) + " in the dialog font");
  }
  // The window (its height without the caption) and its children as the table states them, and
  // the tooltips of the idle window.
  void StartupTable() {
    RECT window = Rect(main);
    window.bottom -= GetSystemMetrics(SM_CYCAPTION);
    Matches(main, window, kWindow);
    Equal(std::to_string(GetClassLongW(main, GCL_STYLE)), "3",
          "the window's class style: redrawn on a resize");
    for (int i = 0; i < kChildCount; ++i) Matches(kids[i], Rect(kids[i], main), kChildren[i]);
    Equal(Tips(), kFolderTips + "Start converting", "one top-most tooltip window, three tips");
  }
  // Tab and Shift+Tab walk the controls in creation order; the path fields are read-only.
  void StartupKeyboard() {
    Equal(Focused(), "source path", "the focus at start-up");
    SetForegroundWindow(main);
    Press({'X'}, 0);  // the focus read now is the one before X; the Tabs start from where X left it
    std::string order;
    for (int tab = 0; tab < 6; ++tab) order += Press({VK_TAB}) + ", ";
    Equal(order,
          "source button, destination path, destination button, file list, "
          "Convert button, source path, ",
          "the focus after each of six Tabs");
    Equal(Press({VK_SHIFT, VK_TAB}), "Convert button", "the focus after Shift+Tab");
    PostMessageW(kids[kDestPath], WM_CHAR, 'z', 0);
    const bool drained = Drain();
    Check(drained && Text(kids[kSourcePath]).empty(), "the source path after typing X: empty");
    Check(drained && Text(kids[kDestPath]).empty(), "the destination path after a z: empty");
  }
  // The stock hand over the link, the stock arrow elsewhere, as the driver's window shows them.
  void StartupPointer() {
    const HWND mine = CreateWindowExW(WS_EX_TOPMOST, L"Static", 0,
                                      WS_POPUP | WS_VISIBLE | SS_NOTIFY, 0, 0, 64, 64, 0, 0, 0, 0);
    SetClassLongPtrW(mine, GCLP_HCURSOR, (LONG_PTR)LoadCursorW(0, IDC_ARROW));
    const std::string arrow = CursorAt({20, 20}, true);
    SetClassLongPtrW(mine, GCLP_HCURSOR, (LONG_PTR)LoadCursorW(0, IDC_HAND));
    const std::string hand = CursorAt({40, 20}, true);
    DestroyWindow(mine);
    SetForegroundWindow(main);
    const RECT client = Rect(kids[kFrame]);
    const struct {
      const char* where;
      POINT at;
      const char* shape;
    } spots[] = {{"web link", Centre(kWebLink), "hand"},
                 {"Files: label", Centre(kFilesLabel), "arrow"},
                 {"web link again", Centre(kWebLink), "hand"},
                 {"logo", Centre(kLogo), "arrow"},
                 {"background", {client.left + 60, client.top + 48}, "arrow"},  // under the paths
                 {"source path", Centre(kSourcePath), "its own"}};
    for (const auto& spot : spots) {  // shapes X draws alike tell nothing: every spot fails
      std::string shape = "unknown, X draws the stock arrow and hand alike";
      if (arrow != hand) {
        const std::string now = CursorAt(spot.at);
        shape = now == arrow ? "arrow" : now == hand ? "hand" : "its own";
      }
      Equal(shape, spot.shape, std::string("the pointer over the ") + spot.where);
    }
  }
  // Only a click on the label opens its address, here with x11.py for a browser; one for the
  // background click would have written the log before the end of the run.
  void StartupLink() {
    const Str browser = L"\"" + work + L"x11.py\" url \"%1\"";
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\ddeexec");
    RegSetKeyValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, REG_SZ, browser.c_str(),
                    browser.size() * 2 + 2);
    for (LPARAM at : {MAKELPARAM(60, 48), MAKELPARAM(243, 188)}) {
      PostMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON, at);
      PostMessageW(main, WM_LBUTTONUP, 0, at);
    }
    std::string urls;
    Until(kLong, [&] { return (urls = Read(work + L"url.log")).find('\n') != std::string::npos; });
    Check(urls == "http://www.varnel.example\n", "a click on the label opens its address", urls);
  }
  // A theme change brings back the window's size for the caption height, where it stands; from
  // a size the window really had, so a change that does nothing cannot pass.
  void StartupThemeChange() {
    SetWindowPos(main, nullptr, 0, 0, 420, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT resized = Rect(main);
    Send(main, WM_THEMECHANGED);
    const RECT r = Rect(main);
    const auto pair = [](LONG a, LONG b) { return std::to_string(a) + "," + std::to_string(b); };
    const auto size = [&](const RECT& w) { return pair(w.right - w.left, w.bottom - w.top); };
    Equal(size(resized) + " to " + size(r),
          "420,300 to " + pair(332, 213 + GetSystemMetrics(SM_CYCAPTION)),
          "WM_THEMECHANGED restores the window's size");
    Equal(pair(r.left, r.top), "346,277", "WM_THEMECHANGED keeps the window's place");
  }
  void StartupClose() {
    PostMessageW(main, WM_CLOSE, 0, 0);
    Until(kLong, [&] { return !Running() || Dialog(); });
    Check(!Dialog(), "closing the idle window asks nothing");
    Check(Exit0(), "closing the idle window: exit code 0");
  }

  // A refused Convert, the folder dialogs, a conversion each way, then the abort question.
  void Batches() {
    if (!Start()) return;
    Click(kConvert);
    Equal(Finish(), L"Error: Please select files first", "Convert with no files is refused");
    Picks();
    BothWays();
    Aborts();
  }
  // The button, its pick (none: Cancel), the fields, the folder listed (for WAV files: mixed).
  void Picks() {
    const struct {
      Child button;
      Str pick, source, dest, list;
    } picks[] = {{kDestButton, L"out", L"", L"out", L"neither"},
                 {kSourceButton, L"mixed", L"mixed", L"mixed", L"mixed"},
                 {kDestButton, L"meds", L"mixed", L"meds", L"mixed"},
                 {kSourceButton, L"", L"", L"", L"meds"},
                 {kSourceButton, L"neither", L"neither", L"neither", L"meds"},
                 {kSourceButton, L"meds", L"meds", L"meds", L"meds"},
                 {kDestButton, L"", L"meds", L"", L"meds"}};
    for (const auto& row : picks) {
      Pick(row.button, Fixture(row.pick));
      const std::string what = "picks, row " + std::to_string(&row - picks + 1) + ": ";
      Equal(Text(kids[kSourcePath]), Fixture(row.source), what + "the source path");
      Equal(Text(kids[kDestPath]), Fixture(row.dest), what + "the destination path");
      Equal(List(), Names(Fixture(row.list), row.list == L"mixed" ? L".wav" : L".med"),
            what + "the file list");
    }
  }
  void BothWays() {
    for (const Str& to : {Str(L"wav"), Str(L"back")}) {
      const Str from = to == L"wav" ? L"conv" : L"wav";
      Pick(kSourceButton, Fixture(from));
      Pick(kDestButton, Fixture(to));
      Click(kConvert);
      if (to == L"wav") {  // junk.med's byte 20 is no tag: refused before Done
        const HWND box = NextBox();
        Equal(Says(box), L"Error: Not supported MED file", "wav: junk.med refused in one box");
        Answer(box, IDOK);
      }
      Equal(Finish(), kDone, Narrow(to) + ": the batch ends with Done");
      Equal(List(), Names(Fixture(from)), Narrow(to) + ": the list, every file of " + Narrow(from));
      Converted(from, to, 9, Narrow(from) + " to " + Narrow(to));
    }
  }
  // Six files, asked to abort after the first by a request queued behind Convert. A Convert
  // click behind Yes must not start a batch inside the ending one; a close there quits after it.
  void Aborts() {
    Pick(kSourceButton, Fixture(L"abort"));
    const struct {
      std::string what;
      UINT request, answer, then;  // WM_CLOSE to the window, else to the Convert button
    } rows[] = {{"Cancel, Yes, Convert", BM_CLICK, IDYES, BM_CLICK},
                {"Cancel, No", BM_CLICK, IDNO, WM_NULL},
                {"close, No", WM_CLOSE, IDNO, WM_NULL},
                {"close, Yes", WM_CLOSE, IDYES, WM_NULL},
                {"Cancel, Yes, close", BM_CLICK, IDYES, WM_CLOSE}};
    for (const auto& row : rows) {
      const Str out = L"abort" + std::to_wstring(&row - rows + 1);
      const auto to = [&](UINT message) { return message == WM_CLOSE ? main : kids[kConvert]; };
      Pick(kDestButton, Fixture(out));
      PostAtOnce({{kids[kConvert], BM_CLICK}, {to(row.request), row.request}});
      const HWND question = NextBox();
      Equal(Says(question), L"Question: Abort converting?", row.what + ": the question");
      Equal(std::to_string(Send(kids[kFileList], LB_GETCURSEL)), "0",
            row.what + ": asked after file 1, selected");
      Busy(true, row.what);
      PostAtOnce({{question, WM_COMMAND, row.answer}, {to(row.then), row.then}});
      Until(kLong, [&] { return !IsWindowVisible(question); });
      Equal(Finish(), kDone, row.what + ": the batch ends with Done");
      Converted(L"abort", out, row.answer == IDYES ? 1 : 6, row.what);
      if (row.then == WM_CLOSE) break;
      Check(Drain() && !Dialog(), row.what + ": no second batch");
      Check(Running() && IsWindowVisible(main), row.what + ": the window stays open");
      Busy(false, row.what);
    }
    Check(Exit0(), "close while a batch ends: the program then quits with exit code 0");
  }
};

}  // namespace

// Usage: tonequay-e2e PROGRAM FIXTURES\ WORK\, DOS paths.
int wmain(int, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  Driver driver{argv[1], argv[2], argv[3]};
  driver.Fixtures(
      L"mixed\\x1.med:90 mixed\\w1.wav:90 mixed\\w2.wav:90 meds\\m1.med:90 "
      L"meds\\m2.MED:90 meds\\m3.med:90 neither\\notes.txt:90 out\\ wav\\ back\\ "
      L"conv\\bass.med:7700 conv\\Drum.MED:12800 conv\\lead.take2.med:5100 conv\\junk.med:90 "
      L"abort1\\ abort2\\ abort3\\ abort4\\ abort5\\ abort\\f1.med:65000 abort\\f2.med:65000 "
      L"abort\\f3.med:65000 abort\\f4.med:65000 abort\\f5.med:65000 abort\\f6.med:65000");
  driver.Startup();
  driver.Batches();
  driver.Check(driver.Read(driver.work + L"url.log") == "http://www.varnel.example\n",
               "a click on the window's background opened nothing");
  std::printf("%d failed\n", driver.failed);
  return driver.failed ? 1 : 0;
}
