// Works tonequay.exe's window from outside under Wine and checks what it shows, draws and
// writes; prints PASS or FAIL with each check's name, and exits 1 when any failed.
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
using Strs = std::vector<Str>;
namespace fs = std::filesystem;
// Children by creation order; the kTips prefix is the tooltips' text up to the Convert tip's.
constexpr int kSource = 1, kSourceButton = 2, kDest = 4, kDestButton = 5, kList = 7, kConvert = 12,
              kLink = 16;
const Str kTips = L"2 Select files; 5 Select path for output files; 12 ",
          kAbort = L"Abort converting?";

class Driver {
 public:
  Str program, fixtures, work, volume;  // DOS paths from the runner; `volume` a tiny one, or ""
  int failed = 0;

  std::string N(const Str& s) { return std::string(s.begin(), s.end()); }  // ASCII only
  Str S(long long n) { return std::to_wstring(n); }
  HWND K(int i) { return i < static_cast<int>(kids.size()) ? kids[i] : nullptr; }
  bool Running() { return WaitForSingleObject(app.hProcess, 0) == WAIT_TIMEOUT; }
  void Click(int kid) { PostMessageW(K(kid), BM_CLICK, 0, 0); }  // a sent one would wait out boxes
  LRESULT Send(HWND window, UINT message, WPARAM w = 0, LPARAM l = 0) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, 10000, &result) ? result : -9;
  }
  bool Check(bool ok, const std::string& what, const std::string& detail = "") {
    failed += !ok;
    std::printf("%s %s%s\n", ok ? "PASS" : "FAIL", what.c_str(), ok ? "" : (": " + detail).c_str());
    return ok;
  }
  bool Eq(const Str& got, const Str& want, const std::string& what) {
    return Check(got == want, what, "got \"" + N(got) + "\", expected \"" + N(want) + "\"");
  }
  // Every wait is for a condition, bounded so that a broken program fails a check instead of
  // hanging the run; no check passes or fails on how long something took.
  bool WaitFor(const std::function<bool()>& done, DWORD ms = 20000) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (!done()) {
      if (GetTickCount64() >= end) return false;
      Sleep(20);
    }
    return true;
  }
  // Wine marshals WM_GETTEXT and LB_GETTEXT across processes only as wide messages.
  Str Text(HWND window, UINT message = WM_GETTEXT, WPARAM item = 512) {
    wchar_t text[512] = {};
    Send(window, message, item, reinterpret_cast<LPARAM>(text));
    return text;
  }
  Str List() {
    Str items;
    for (int i = 0; i < Send(K(kList), LB_GETCOUNT); ++i)
      items += Text(K(kList), LB_GETTEXT, i) + L"|";
    return items;
  }
  RECT Rect(HWND window, HWND in = nullptr, bool client = false) {
    RECT r{};
    client ? GetClientRect(window, &r) : GetWindowRect(window, &r);
    MapWindowPoints(client ? window : nullptr, in, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }

  // Fixture files, their contents as byte strings ("" when missing).
  std::string Read(const Str& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  Strs Names(const Str& folder, const Str& pattern = L"*") {
    Strs names;  // in the order the folder lists them, as the program scans it
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileW((folder + L"\\" + pattern).c_str(), &data);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &data)) {
      if (data.cFileName[0] != L'.') names.push_back(data.cFileName);
    }
    FindClose(search);
    return names;
  }
  Str Join(const Strs& names) {
    Str all;
    for (const Str& name : names) all += name + L"|";
    return all;
  }
  // A folder holding sound files "name:size ...": "RIFF", "WAVE" and the format tag at 20 (17
  // for .wav, else 122), then bytes of their own.
  void Folder(const Str& path, const Str& files = L"") {
    fs::create_directories(path);
    std::wistringstream list(files);
    for (Str file; list >> file;) {
      const size_t colon = file.find(L':');
      std::string bytes(std::stoi(file.substr(colon + 1)), '\0');
      unsigned seed = std::hash<Str>()(file);
      for (char& byte : bytes) byte = static_cast<char>((seed = seed * 1664525 + 1013904223) >> 24);
      bytes.replace(0, 4, "RIFF")
          .replace(8, 4, "WAVE")
          .replace(20, 1, 1, file[colon - 1] == L'v' ? 17 : 122)[21] = 0;
      std::ofstream(fs::path(path + L"\\" + file.substr(0, colon)), std::ios::binary) << bytes;
    }
  }
  // Every fixture exists before a program starts: a folder dialog may not show a folder made
  // while the program runs.
  void MakeFixtures() {
    const wchar_t* folders[][2] = {
        {L"mixed", L"x1.med:90 w1.wav:90 w2.wav:90"},
        {L"meds", L"m1.med:90 m2.MED:90 m3.med:90"},
        {L"neither", L"notes.txt:90"},
        {L"big", L"a.med:160000 b.med:160000"},
        {L"out", L""},
        {L"conv", L"bass.med:7700 Drum.MED:12800 lead.take2.med:5100 pad.med:1800"},
        {L"fail", L"a-held.med:900 c-dest-held.med:900 d-fine.med:900"},
        {L"failout", L"c-dest-held.wav:300"},
        {L"wav", L""},
        {L"back", L""},
        {L"fill", L"1-first.med:8000 2-second.med:12300 3-third.med:300"},
        {L"abort",
         L"f1.med:65000 f2.med:65000 f3.med:65000 f4.med:65000 f5.med:65000 f6.med:65000"},
        {L"cancel", L""},
        {L"close", L""},
        {L"again", L""},
        {L"quit", L""}};
    for (const auto& [name, files] : folders) Folder(fixtures + name, files);
    std::ofstream(fs::path(F(L"fail\\b-refused.med"))) << std::string(300, 'x');
    if (!volume.empty()) Folder(volume + L"out"), Folder(volume + L"fill", L"2-second.wav:300");
  }
  Str F(const Str& name) { return fixtures + name; }
  Str OutputName(const Str& name) {
    const Str stem = name.substr(0, name.rfind(L'.'));
    return stem + (_wcsicmp(name.c_str() + stem.size(), L".med") ? L".med" : L".wav");
  }
  // The first `done` of `names` converted from `from` into `to` byte for byte with the tag
  // toggled, the others not made, and no temporary file left.
  void Converted(const Str& from, const Str& to, const Strs& names, const std::string& what,
                 size_t done = 99) {
    for (size_t i = 0; i < names.size(); ++i) {
      std::string in = Read(from + L"\\" + names[i]), out = Read(to + L"\\" + OutputName(names[i]));
      if (in.size() > 20) in[20] = in[20] == 122 ? 17 : 122;
      Check(i < done ? out == in : out.empty(),
            what + ": " + N(names[i]) + (i < done ? " converted" : " not converted"));
    }
    Check(Names(to, L"~tonequay-*").empty(), what + ": no temporary file is left");
  }

  // The program under test, one at a time.
  PROCESS_INFORMATION app{};
  HWND main = nullptr;
  std::vector<HWND> kids;  // in creation order

  void End() {
    if (app.hProcess && Running()) Check(!TerminateProcess(app.hProcess, 9), "no hang");
    CloseHandle(app.hProcess), CloseHandle(app.hThread);
    app = {}, main = nullptr, kids.clear();
  }
  bool Start(const char* what) {
    End();
    std::printf("---- %s\n", what);
    STARTUPINFOW startup{sizeof startup};
    Str line = L"tonequay.exe";
    CreateProcessW(program.c_str(), &line[0], 0, 0, 0, 0, 0, fixtures.c_str(), &startup, &app);
    // The window shows before its children exist, and they get their font from posted messages.
    WaitFor([&] {
      main = FindWindowW(L"Brannix455454545453", nullptr), kids.clear();
      for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) kids.push_back(c);
      return (IsWindowVisible(main) && kids.size() == 18) || !Running();
    });
    return Check(kids.size() == 18, "a window of class Brannix455454545453, 18 children") &&
           Drain();
  }
  // Returns once all messages posted before are handled, in whatever loop the program is (main,
  // batch pump or a box): a marker in the source field's text limit, posted last, has arrived.
  bool Drain() {
    static LRESULT marker = 4000;
    PostMessageW(K(kSource), EM_SETLIMITTEXT, ++marker, 0);
    return WaitFor([&] { return Send(K(kSource), EM_GETLIMITTEXT) == marker || !Running(); });
  }
  void PostAtOnce(const std::vector<std::function<void()>>& posts) {
    SuspendThread(app.hThread);  // so that all are queued before the program handles the first
    for (const auto& post : posts) post();
    ResumeThread(app.hThread);
  }
  bool Exit0() {
    DWORD code = 9;
    return !WaitForSingleObject(app.hProcess, 20000) && GetExitCodeProcess(app.hProcess, &code) &&
           !code;
  }
  void Close(const std::string& what) {
    PostMessageW(main, WM_CLOSE, 0, 0);
    WaitFor([&] { return !Running() || !Dialogs().empty(); });
    Check(Dialogs().empty() && Exit0(), what + ": closing asks nothing, exit code 0");
  }
  std::vector<HWND> Dialogs() {
    std::vector<HWND> found;
    for (HWND w = FindWindowW(L"#32770", 0); w; w = FindWindowExW(0, w, L"#32770", 0)) {
      if (GetWindow(w, GW_OWNER) == main && IsWindowVisible(w)) found.push_back(w);
    }
    return found;
  }
  HWND NewDialog(const std::vector<HWND>& open = {}) {
    HWND dialog = nullptr;
    WaitFor([&] {
      for (HWND w : Dialogs()) dialog = std::count(open.begin(), open.end(), w) ? dialog : w;
      return dialog || !Running();
    });
    return dialog;
  }
  bool Answer(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, id, reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    return WaitFor([&] { return !IsWindowVisible(dialog); }) && Drain();
  }
  // A copy of `bytes` in the program, for messages whose pointers Wine does not marshal.
  void* InProgram(const void* bytes, size_t size) {
    void* at = VirtualAllocEx(app.hProcess, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    WriteProcessMemory(app.hProcess, at, bytes, size, nullptr);
    return at;
  }
  // The tooltips as "child text; ...", with "!" after one of other flags or another owner.
  Str Tools() {
    HWND tips = nullptr;
    for (HWND w = FindWindowW(TOOLTIPS_CLASSW, 0); w; w = FindWindowExW(0, w, TOOLTIPS_CLASSW, 0)) {
      if (GetWindowThreadProcessId(w, nullptr) == app.dwThreadId) tips = tips ? HWND_BROADCAST : w;
    }
    if (tips == HWND_BROADCAST || !(GetWindowLongW(tips, GWL_EXSTYLE) & WS_EX_TOPMOST)) return L"?";
    Str all;
    for (int i = 0; i < Send(tips, TTM_GETTOOLCOUNT); ++i) {
      struct {
        TTTOOLINFOA info;
        char text[256];
      } tool{{TTTOOLINFOA_V1_SIZE}, {}};
      auto* at = static_cast<decltype(tool)*>(InProgram(&tool, sizeof tool));
      tool.info.lpszText = at->text;  // the control writes the text in the program
      WriteProcessMemory(app.hProcess, at, &tool, sizeof tool, nullptr);
      Send(tips, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(at));
      ReadProcessMemory(app.hProcess, at, &tool, sizeof tool, nullptr);
      VirtualFreeEx(app.hProcess, at, 0, MEM_RELEASE);
      const HWND kid = reinterpret_cast<HWND>(tool.info.uId);
      all += (i ? L"; " : L"") + S(std::find(kids.begin(), kids.end(), kid) - kids.begin()) + L" " +
             Str(tool.text, tool.text + strlen(tool.text)) +
             (tool.info.uFlags == (TTF_IDISHWND | TTF_SUBCLASS) && tool.info.hwnd == main ? L""
                                                                                          : L"!");
    }
    return all;
  }

  // Whether `control` shows what `paint` draws in its place, compared where the drawing covers
  // what lies beneath it (an icon has transparent parts).
  bool Shows(HWND control, const std::function<void(HDC, RECT*)>& paint) {
    RECT r = Rect(control, nullptr, true), box = {0, 0, r.right - r.left, r.bottom - r.top};
    std::vector<DWORD> pixels[3];  // the drawing on black, on white, and the screen
    for (int i = 0; i < 3; ++i) {
      BITMAPINFO info{{sizeof(BITMAPINFOHEADER), box.right, -box.bottom, 1, 32, BI_RGB}};
      DWORD* bits = nullptr;
      HDC dc = CreateCompatibleDC(nullptr), screen = GetDC(nullptr);
      HGDIOBJ old = SelectObject(dc, CreateDIBSection(dc, &info, 0, (void**)&bits, nullptr, 0));
      if (i < 2)
        PatBlt(dc, 0, 0, box.right, box.bottom, i ? WHITENESS : BLACKNESS), paint(dc, &box);
      if (i == 2) BitBlt(dc, 0, 0, box.right, box.bottom, screen, r.left, r.top, SRCCOPY);
      GdiFlush();
      // Shifted, the unused alpha byte drops out.
      for (int p = 0; bits && p < box.right * box.bottom; ++p) pixels[i].push_back(bits[p] << 8);
      DeleteObject(SelectObject(dc, old)), DeleteDC(dc), ReleaseDC(nullptr, screen);
    }
    size_t same = 0;
    for (size_t p = 0; p < pixels[2].size(); ++p) {
      same += pixels[0][p] != pixels[1][p] || pixels[0][p] == pixels[2][p];
    }
    return !pixels[2].empty() && same == pixels[2].size();
  }
  bool ShowsText(HWND label, int font) {
    const UINT align = (GetWindowLongW(label, GWL_STYLE) & SS_CENTER) ? DT_CENTER : DT_LEFT;
    return Shows(label, [&](HDC dc, RECT* box) {
      FillRect(dc, box, GetSysColorBrush(COLOR_3DFACE));
      SelectObject(dc, GetStockObject(font));
      SetBkColor(dc, GetSysColor(COLOR_3DFACE));
      DrawTextW(dc, Text(label).c_str(), -1, box, align | DT_EXPANDTABS | DT_WORDBREAK);
    });
  }
  // Runs the X11 helper, a Unix program that Wine starts with no handle to wait on, and returns
  // what it wrote to x11.out in the work folder once that appears.
  std::string X11(const Str& args) {
    DeleteFileW((work + L"x11.out").c_str());
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION child{};
    Str line = work + L"x11.py " + args;
    std::string out;
    CreateProcessW(0, &line[0], 0, 0, 0, 0, 0, 0, &startup, &child);
    WaitFor([&] { return !(out = Read(work + L"x11.out")).empty(); }, 10000);
    return out;
  }
  // The pointer as the X server draws it once the program (or, with `own`, the driver's own
  // window) has handled the move there; read until two readings agree.
  std::string CursorAt(POINT at, bool own = false) {
    SetCursorPos(at.x, at.y);
    if (!own) SyncInput();
    std::string last, now;
    WaitFor(
        [&] {
          for (MSG m; own && PeekMessageW(&m, 0, 0, 0, PM_REMOVE);) DispatchMessageW(&m);
          return (last = now, now = X11(L"cursor")) == last && !now.empty();
        },
        5000);
    return now;
  }
  // Returns once the program has handled the input queued so far: input comes before painting,
  // so a repaint asked for now happens only after it.
  bool SyncInput() {
    InvalidateRect(main, nullptr, FALSE);
    return WaitFor([&] { return !GetUpdateRect(main, nullptr, FALSE) || !Running(); });
  }
  void Key(WORD key, bool shift = false) {
    INPUT in[4] = {};  // the key, between the Shift key's down and up when asked
    for (int i = 0; i < 4; ++i) {
      in[i].type = INPUT_KEYBOARD;
      in[i].ki = {i % 3 ? key : WORD(shift ? VK_SHIFT : 0), 0, DWORD(i < 2 ? 0 : KEYEVENTF_KEYUP)};
    }
    SendInput(4, in, sizeof(INPUT));
  }
  HWND Focus() {
    GUITHREADINFO info{sizeof info};
    GetGUIThreadInfo(app.dwThreadId, &info);
    return info.hwndFocus;
  }

  // The next message box, one not among `open`; checks that its buttons and the icon it draws
  // suit its title.
  struct Box {
    HWND hwnd;
    Str title, text;
  };
  Box NextBox(const std::vector<HWND>& open = {}) {
    Box box{NewDialog(open), L"", L"<no box>"};
    if (!box.hwnd) return box;
    box.title = Text(box.hwnd), box.text = Text(GetDlgItem(box.hwnd, 0xFFFF));
    const bool ask = box.title == L"Question", error = box.title == L"Error";
    Str buttons;
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) buttons += GetDlgItem(box.hwnd, id) ? L"1" : L"0";
    const LPCWSTR icon = ask ? IDI_QUESTION : error ? IDI_ERROR : IDI_INFORMATION;
    const bool drawn = WaitFor(
        [&] {
          return Shows(GetDlgItem(box.hwnd, 0x440), [&](HDC dc, RECT* r) {
            DrawIconEx(dc, 0, 0, LoadIconW(0, icon), r->right, r->bottom, 0, 0, DI_NORMAL);
          });
        },
        5000);
    Eq(buttons + (drawn ? L" its icon" : L" another icon"),
       ask ? L"0011 its icon" : L"1000 its icon",
       "\"" + N(box.title + L": " + box.text) + "\": OK or Yes and No, and the title's icon");
    return box;
  }
  bool Expect(const Str& box, int answer, const std::string& what) {
    const Box next = NextBox();
    return Eq(next.title + L": " + next.text, box, what) && Answer(next.hwnd, answer);
  }
  // Clicks Convert (unless a batch runs already) and answers every box up to "Done" with OK;
  // returns them as "title: text|". At each the list selects the file it concerns (as far as
  // `selections` go) and the window is busy.
  Str Convert(const std::vector<int>& selections, const std::string& what, bool click = true) {
    Str seen;
    if (click) Click(kConvert);
    for (Box box = NextBox(); box.hwnd; box = NextBox()) {
      seen += box.title + L": " + box.text + L"|";
      const size_t n = std::count(seen.begin(), seen.end(), L'|');
      const std::string at = what + ", box " + std::to_string(n);
      if (n <= selections.size()) {
        Check(Send(K(kList), LB_GETCURSEL) == selections[n - 1],
              at + ": the list selects its file");
      }
      if (box.text != L"Done") Busy(true, at);
      if (!Answer(box.hwnd, IDOK) || box.text == L"Done") break;
    }
    WaitFor([&] { return Text(K(kConvert)) == L"Convert" && Dialogs().empty(); });
    return seen;
  }
  // The Convert button, the current file's bar, the "..." buttons and the tooltips.
  Str Controls() {
    return Text(K(kConvert)) + L" " + S(Send(K(9), PBM_GETPOS)) +
           (IsWindowEnabled(K(kSourceButton)) ? L" on" : L" off") +
           (IsWindowEnabled(K(kDestButton)) ? L" on, " : L" off, ") + Tools();
  }
  Str Total() { return L" total " + S(Send(K(11), PBM_GETPOS)); }
  // What the window shows, to compare before and after something that must change nothing.
  Str State() {
    return Text(K(kSource)) + L" > " + Text(K(kDest)) + L" [" + List() + L"] " +
           S(Send(K(kList), LB_GETCURSEL)) + L" " + Controls() + Total();
  }
  // During a batch Convert turns into Cancel with its own tip and the "..." buttons are
  // disabled; afterwards all is as at start-up.
  void Busy(bool busy, const std::string& what) {
    Eq(Controls() + (busy ? L"" : Total()),
       busy ? L"Cancel 0 off off, " + kTips + L"Abort converting"
            : L"Convert 0 on on, " + kTips + L"Start converting total 0",
       what + (busy ? ": the window is busy" : ": the window is idle again"));
  }

  // Opens the folder dialog of `button`, checks it is centred, its title, and that its status
  // line shows the destination field's folder preselected (and, with `noPath`, emptied for a
  // folder without a path); then picks `folder`, or cancels when that is empty.
  void Pick(int button, const Str& folder, bool noPath = false) {
    const Str preselected = Text(K(kDest));
    const std::string what =
        (button == kDestButton ? "destination" : "source") + std::string(" dialog");
    Click(button);
    const HWND dialog = NewDialog(), status = GetDlgItem(dialog, 14147);
    const RECT r = Rect(dialog);
    auto shows = [&](const Str& path) {
      return WaitFor([&] { return Text(status) == path; }, 5000);
    };
    const bool centred =
        r.left == (1024 - r.right + r.left) / 2 && r.top == (768 - r.bottom + r.top) / 2;
    Check(dialog && centred, what + " opens centred on the screen");
    Eq(Text(GetDlgItem(dialog, 14146)),
       button == kDestButton ? L"" : L"Choose folder with med-files:", what + ": title");
    if (!preselected.empty()) Check(shows(preselected), what + ": preselects " + N(preselected));
    LPITEMIDLIST computer = nullptr;
    if (noPath && !SHGetSpecialFolderLocation(0, CSIDL_DRIVES, &computer)) {
      Send(dialog, BFFM_SETSELECTIONW, FALSE, (LPARAM)InProgram(computer, ILGetSize(computer)));
      Check(shows(L""), what + ": a folder without a path empties the status line");
    }
    if (!folder.empty()) {
      Send(dialog, BFFM_SETSELECTIONW, TRUE,
           (LPARAM)InProgram(folder.c_str(), folder.size() * 2 + 2));
      Check(shows(folder), what + ": the status line shows the folder picked");
    }
    Answer(dialog, folder.empty() ? IDCANCEL : IDOK);
  }
  void Pick(const Str& source, const Str& dest) {
    Pick(kSourceButton, source), Pick(kDestButton, dest);
  }

  // The window, and its children against one table: class, text, style, extended style, place
  // in the client area and id; and each label's text as drawn.
  void CheckWindow() {
    WINDOWINFO info{sizeof info};
    GetWindowInfo(main, &info);
    const RECT w = info.rcWindow, c = info.rcClient;
    const DWORD wanted = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    Check(GetSystemMetrics(SM_CXSCREEN) == 1024 && GetSystemMetrics(SM_CYSCREEN) == 768 &&
              w.left == 346 && w.top == 277 && w.right - w.left == 332 &&
              w.bottom - w.top == 213 + GetSystemMetrics(SM_CYCAPTION),
          "the window sits at 346,277 on 1024 x 768, 332 x 213 and the caption");
    Eq(Text(main), L"Tonequay v1.0 by Varnel", "the window's title");
    Check((info.dwStyle & (wanted | WS_MAXIMIZEBOX | WS_THICKFRAME | WS_POPUP)) == wanted &&
              !(info.dwExStyle & ~WS_EX_WINDOWEDGE) && GetClassLongW(main, GCL_STYLE) == 3,
          "the window's styles: caption, system menu, minimize box; redrawn when resized");
    // The etched lines and the frame are placed from the border widths the window has.
    const int bx = info.cxWindowBorders, by = info.cyWindowBorders, cw = c.right - c.left - bx;
    wchar_t lines[3][64];
    swprintf(lines[0], 64, L"(%d,52)-(%d,52)", bx, bx + cw);
    swprintf(lines[1], 64, L"(%d,%d)-(%d,%d)", cw / 2, by + 53, cw / 2, c.bottom - c.top);
    swprintf(lines[2], 64, L"(0,0)-(%d,%d)", 332 - 2 * bx, 213 - 2 * by);
    const Str rows[] = {
        // clang-format off
        L"Static \"Path:\" 50000000 00000000 (8,8)-(125,22) 0",
        L"Edit \"\" 50010880 00000200 (8,22)-(125,44) 0",
        L"Button \"...\" 50010000 00000000 (130,21)-(153,44) 10",
        L"Static \"Save to:\" 50000000 00000000 (172,8)-(289,22) 0",
        L"Edit \"\" 50010880 00000200 (172,22)-(289,44) 0",
        L"Button \"...\" 50010000 00000000 (294,21)-(317,44) 11",
        L"Static \"Files:\" 50000000 00000000 (8,62)-(153,76) 0",
        L"ListBox \"\" 50210400 00000200 (8,76)-(153,221) 14",
        L"Static \"Current file:\" 50000000 00000000 (172,62)-(317,76) 0",
        L"msctls_progress32 \"\" 50000001 00000000 (172,76)-(317,93) 0",
        L"Static \"Total:\" 50000000 00000000 (172,102)-(317,116) 0",
        L"msctls_progress32 \"\" 50000001 00000000 (172,116)-(317,133) 0",
        L"Button \"Convert\" 50010000 00000000 (172,142)-(240,168) 12",
        L"Static \"\" 50000010 00000000 " + Str(lines[0]) + L" 0",
        L"Static \"\" 50000011 00000000 " + Str(lines[1]) + L" 0",
        L"Static \"PWRBADGE\" 5000000E 00000000 (245,142)-(317,168) 15",
        L"Static \"Web Site: www.varnel.example\" 50000001 00000000 (166,180)-(321,196) 0",
        L"Static \"\" 50000012 00000000 " + Str(lines[2]) + L" 0",
        // clang-format on
    };
    for (size_t i = 0; i < kids.size(); ++i) {
      const HWND kid = kids[i];
      RECT r = Rect(kid, main), client = Rect(kid, nullptr, true);
      DWORD style = GetWindowLongW(kid, GWL_STYLE), ex = GetWindowLongW(kid, GWL_EXSTYLE);
      // The list box drops WS_VSCROLL while its items fit and trims itself to whole items of its
      // first font, by less than one; the etched lines get a static edge outside their size.
      if (i == kList) style |= WS_VSCROLL, r.bottom += std::clamp(221 - r.bottom, 0L, 19L);
      if (i == 13 || i == 14) {
        ex &= ~WS_EX_STATICEDGE;
        r.right = r.left + client.right - client.left,
        r.bottom = r.top + client.bottom - client.top;
      }
      wchar_t name[64] = {}, row[400];
      const Str cls(name, GetClassNameW(kid, name, 64));  // after a version from the manifest
      swprintf(row, 400, L"%ls \"%ls\" %08lX %08lX (%ld,%ld)-(%ld,%ld) %d",
               cls.substr(cls.find(L'!') + 1).c_str(), Text(kid).c_str(), style, ex, r.left, r.top,
               r.right, r.bottom, GetDlgCtrlID(kid));
      Eq(row, rows[i], "child " + std::to_string(i + 1));
    }
    // Wine answers WM_GETFONT from another process with 0: the labels' font is checked as drawn.
    for (int i : {0, 3, 6, 8, 10, 16}) {
      Check(WaitFor([&] { return ShowsText(K(i), ANSI_VAR_FONT); }, 5000) &&
                !ShowsText(K(i), SYSTEM_FONT),
            "child " + std::to_string(i + 1) + " draws its text in the dialog font");
    }
  }

  void Startup() {
    if (!Start("start-up, keyboard, pointer, link, theme")) return;
    CheckWindow();
    Eq(Tools(), kTips + L"Start converting", "one top-most tooltip window with three tips");
    // The path fields are read-only; Tab walks the controls in creation order.
    Check(Focus() == K(kSource), "the source field has the focus at start-up");
    SetForegroundWindow(main);
    Key('X');
    PostMessageW(K(kSource), WM_CHAR, 'y', 0), PostMessageW(K(kDest), WM_CHAR, 'z', 0);
    Check(Drain() && Text(K(kSource)).empty() && Text(K(kDest)).empty(), "typing changes no path");
    for (int kid : {2, 4, 5, 7, 12, 1, -12}) {
      Key(VK_TAB, kid < 0);
      Check(WaitFor([&] { return Focus() == K(abs(kid)); }, 5000),
            (kid < 0 ? "Shift+Tab to child " : "Tab to child ") + std::to_string(abs(kid) + 1));
    }
    // The pointer as the X server draws it: the stock hand over the label and the stock arrow
    // elsewhere, as the driver's own window shows them.
    WNDCLASSW own{0, DefWindowProcW, 0, 0, 0, 0, 0, 0, 0, L"TonequayE2e"};
    RegisterClassW(&own);
    const HWND mine = CreateWindowExW(WS_EX_TOPMOST, own.lpszClassName, 0, WS_POPUP | WS_VISIBLE, 0,
                                      0, 64, 64, 0, 0, 0, 0);
    std::string stock[2];
    for (int hand : {0, 1}) {
      SetClassLongPtrW(mine, GCLP_HCURSOR, (LONG_PTR)LoadCursorW(0, hand ? IDC_HAND : IDC_ARROW));
      stock[hand] = CursorAt({20 + hand * 20, 20}, true);
    }
    DestroyWindow(mine);
    Check(!stock[0].empty() && stock[0] != stock[1], "the X server draws the arrow and hand apart");
    SetForegroundWindow(main);
    for (int kid : {kLink, 6, kLink, 15, 0, kSource}) {  // 0: between the paths and the line
      const RECT c = Rect(main, nullptr, true),
                 r = kid ? Rect(K(kid)) : RECT{c.left + 60, c.top + 48, c.left + 60, c.top + 48};
      const std::string now = CursorAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
      const std::string want = kid == kSource ? "a cursor of its own"
                               : kid == kLink ? "hand"
                                              : "arrow";
      Check(kid == kSource ? now != stock[0] && now != stock[1] : now == stock[kid == kLink],
            "the pointer over child " + std::to_string(kid + 1) + " is " + want, now);
    }
    // A click on the background opens nothing; one on the label opens its address through the
    // shell, here with the X11 helper standing in for the browser.
    const Str browser = L"\"" + work + L"x11.py\" url \"%1\"";
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\ddeexec");
    RegSetKeyValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, REG_SZ, browser.c_str(),
                    browser.size() * 2 + 2);
    for (LPARAM at : {MAKELPARAM(60, 48), MAKELPARAM(243, 188)}) {
      PostMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON, at), PostMessageW(main, WM_LBUTTONUP, 0, at);
    }
    WaitFor([&] { return !Read(work + L"url.log").empty(); }, 60000);
    // A theme change brings back the window's size for the caption height, where it stands.
    SetWindowPos(main, nullptr, 0, 0, 420, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    Check(Rect(main).right == 346 + 420, "the window can be resized from outside");
    Send(main, WM_THEMECHANGED);
    const RECT r = Rect(main);
    Check(r.left == 346 && r.top == 277 && r.right == 346 + 332 &&
              r.bottom == 277 + 213 + GetSystemMetrics(SM_CYCAPTION),
          "WM_THEMECHANGED restores the size and keeps the place");
    Close("idle");
    const std::string urls = Read(work + L"url.log");
    Check(urls == "http://www.varnel.example\n", "only the click on the label opens its address",
          urls);
  }

  void Pickers() {
    const Str mixed = F(L"mixed"), meds = F(L"meds"), neither = F(L"neither"), out = F(L"out");
    if (!Start("pickers and refusals")) return;
    Str before = State();
    Click(kConvert);
    Check(Expect(L"Error: Please select files first", IDOK, "Convert with no source") &&
              State() == before,
          "Convert with no source changes nothing");
    // Each row: the dialog, what it picks ("" cancels), then the two fields and the list.
    const Str wavs = Join(Names(mixed, L"*.wav")), medList = Join(Names(meds, L"*.med"));
    const struct {
      int button;
      Str pick, after;
      const char* what;
    } picks[] = {
        {kDestButton, out, L" > " + out + L" []", "destination OK sets only the destination"},
        {kSourceButton, mixed, mixed + L" > " + mixed + L" [" + wavs + L"]",
         "source OK sets both; a mixed folder lists its WAV files"},
        {kDestButton, meds, mixed + L" > " + meds + L" [" + wavs + L"]",
         "destination OK changes only the destination"},
        {kSourceButton, L"", L" >  [" + medList + L"]",
         "source Cancel empties both, scans the destination's folder"},
        {kSourceButton, neither, neither + L" > " + neither + L" [" + medList + L"]",
         "a folder without sound files keeps the list"},
        {kSourceButton, meds, meds + L" > " + meds + L" [" + medList + L"]",
         "source OK on a folder of MED files"},
        {kDestButton, L"", meds + L" >  [" + medList + L"]",
         "destination Cancel empties only the destination"},
    };
    for (const auto& row : picks) {
      Pick(row.button, row.pick, row.button == kDestButton && row.pick.empty());
      Eq(State().substr(0, State().find(L"] ") + 1), row.after, row.what);
    }
    before = State();
    Click(kConvert);
    Check(Expect(L"Error: Please select destination path", IDOK, "Convert with no destination") &&
              State() == before && Names(meds, L"*.wav").empty(),
          "Convert with no destination changes and converts nothing");
    Pick(F(L"big"), volume + L"out");
    before = State();
    Click(kConvert);
    Check(!volume.empty() &&
              Expect(L"Error: Not enough free space on destination path", IDOK,
                     "Convert to a full volume") &&
              State() == before && Names(volume + L"out").empty(),
          "Convert to a full volume changes and writes nothing");
    Close("refusals");
  }

  HANDLE Lock(const Str& path) { return CreateFileW(path.c_str(), GENERIC_READ, 0, 0, 3, 0, 0); }
  void Conversions() {
    const Str meds = F(L"conv"), wavs = F(L"wav"), back = F(L"back");
    const Strs names = Names(meds);
    std::string originals, now, again;
    for (const Str& name : names) originals += Read(meds + L"\\" + name);
    if (!Start("conversions and failures")) return;
    Pick(meds, wavs);
    Eq(List(), Join(names), "the list holds the folder's MED files in its order");
    // A Cancel click queued behind Convert is handled in the batch's pump after the first file;
    // its question holds the batch there, so the window can be read in the middle of it.
    PostAtOnce({[&] { Click(kConvert); }, [&] { Click(kConvert); }});
    const Box box = NextBox();
    if (Eq(box.text, kAbort, "MED to WAV: Cancel asks whether to abort")) {
      Check(Send(K(kList), LB_GETCURSEL) == 0, "MED to WAV, after file 1: the list selects it");
      Busy(true, "MED to WAV, after file 1");
      Eq(Total(), L" total " + S(7700 * 100 / 27400), "MED to WAV, after file 1: the total bar");
      Converted(meds, wavs, names, "MED to WAV, after file 1", 1);
      Answer(box.hwnd, IDNO);
    }
    Eq(Convert({3}, "MED to WAV", false), L"Information: Done|",
       "MED to WAV goes on after No to Done");
    Busy(false, "MED to WAV, after Done");
    Converted(meds, wavs, names, "MED to WAV");
    Pick(wavs, back);
    Eq(Convert({}, "WAV to MED"), L"Information: Done|", "WAV to MED ends with Done");
    for (const Str& name : names) {
      again += Read(back + L"\\" + OutputName(OutputName(name))), now += Read(meds + L"\\" + name);
    }
    Check(again == originals && now == originals,
          "WAV to MED gives back the MED files, kept as they were");
    const Str height = S(213 + GetSystemMetrics(SM_CYCAPTION));
    const std::string shot = X11(L"shot 346 277 332 " + height);
    Check(shot.find(N(L"332 " + height + L" ")) == 0 && atoi(shot.c_str() + shot.rfind(' ')) >= 8,
          "a screenshot after the conversions shows the window drawn", shot);

    // Failed files each show one box and the batch goes on.
    const Str src = F(L"fail"), out = F(L"failout");
    const std::string earlier = Read(out + L"\\c-dest-held.wav");
    Pick(src, out);
    const HANDLE held[] = {Lock(src + L"\\a-held.med"), Lock(out + L"\\c-dest-held.wav")};
    Eq(Convert({0, 1, 2, 3}, "failures"),
       L"Error: Error open file \"" + src + L"\\a-held.med\"|Error: Not supported MED file|" +
           L"Error: Error create file \"" + out + L"\\c-dest-held.wav\"|Information: Done|",
       "failures: one box per failed file, then Done");
    for (HANDLE file : held) CloseHandle(file);
    Converted(src, out, {L"d-fine.med", L"a-held.med", L"b-refused.med"}, "failures", 1);
    Check(Read(out + L"\\c-dest-held.wav") == earlier, "failures: a held output keeps its bytes");
    // A volume that fills up in the middle: 2, 4 and 1 clusters of 4 KiB with 5 free pass the
    // check of the total size, and only the second file does not fit.
    const Str fill = F(L"fill"), full = volume + L"fill";
    const std::string before = Read(full + L"\\2-second.wav");
    std::ofstream(fs::path(volume + L"filler"))
        << std::string(fs::space(volume).available - 20480, 0);
    Pick(fill, full);
    Check(
        !volume.empty() && Convert({}, "full volume") == L"Error: Error write file \"" + full +
                                                             L"\\2-second.wav\"|Information: Done|",
        "a volume that fills up fails one file");
    Converted(fill, full, {L"1-first.med", L"3-third.med"},
              "full volume: the files before and after");
    Check(!before.empty() && Read(full + L"\\2-second.wav") == before,
          "full volume: the earlier output of that name is intact");
    Close("conversions");
  }

  // A batch over six files with the fourth held by the driver: an abort asked for after the
  // first file and refused, then one confirmed while the fourth file's error box holds the
  // batch. Both moments are fixed by the program's own message handling, not by timing.
  void NoThenYes(const Str& src, const Strs& names, const Str& out,
                 const std::function<void()>& request, const std::string& what) {
    Pick(kDestButton, out);
    const HANDLE held = Lock(src + L"\\" + names[3]);
    auto ask = [&](int selection, int answer, const std::string& at,
                   const std::vector<HWND>& open) {
      const Box question = NextBox(open);
      if (!Eq(question.text, kAbort, at + ": the abort question")) return;
      Check(Send(K(kList), LB_GETCURSEL) == selection, at + ": asked at its file");
      Busy(true, at);
      Answer(question.hwnd, answer);
    };
    PostAtOnce({[&] { Click(kConvert); }, request});
    ask(0, IDNO, what + ", after file 1", {});
    const Box error = NextBox();
    Eq(error.text, L"Error open file \"" + src + L"\\" + names[3] + L"\"", what + ": No goes on");
    Converted(src, out, names, what + ", No", 3);
    request();
    ask(3, IDYES, what + ", at file 4", {error.hwnd});
    Answer(error.hwnd, IDOK);
    Eq(Convert({}, what, false), L"Information: Done|", what + ", Yes: the batch ends with Done");
    CloseHandle(held);
    Converted(src, out, names, what + ", Yes", 3);
    Busy(false, what + ", Yes");
  }

  void Aborts() {
    const Str src = F(L"abort");
    const Strs names = Names(src);
    if (!Start("aborts")) return;
    Pick(kSourceButton, src);
    NoThenYes(
        src, names, F(L"cancel"), [&] { Click(kConvert); }, "Cancel");
    NoThenYes(
        src, names, F(L"close"), [&] { PostMessageW(main, WM_CLOSE, 0, 0); }, "close");
    Check(Drain() && Running() && IsWindowVisible(main), "close, Yes: the window stays open");
    // A Convert click right behind the confirming Yes reaches the ending batch and must not
    // start a second one inside it; a close request there waits for the batch to end, then quits.
    for (bool quit : {false, true}) {
      const std::string what = quit ? "close while ending" : "Convert while ending";
      const Str out = F(quit ? L"quit" : L"again");
      if (quit && Start("close while a batch ends")) Pick(kSourceButton, src);
      Pick(kDestButton, out);
      PostAtOnce({[&] { Click(kConvert); }, [&] { Click(kConvert); }});
      const Box question = NextBox();
      if (Eq(question.text, kAbort, what + ": the question")) {
        PostAtOnce({[&] { PostMessageW(question.hwnd, WM_COMMAND, IDYES, 0); },
                    [&] { quit ? PostMessageW(main, WM_CLOSE, 0, 0) : (Click(kConvert), 0); }});
      }
      const Box done = NextBox({question.hwnd});
      Check(done.text == L"Done" && Running(),
            what + ": the batch ends with Done, the program runs");
      Converted(src, out, names, what, 1);
      Answer(done.hwnd, IDOK);
      if (quit) {
        Check(Exit0(), what + ": the program then quits with exit code 0");
        break;
      }
      Check(Drain() && Dialogs().empty(), what + ": no second batch");
      Converted(src, out, names, what, 1);
      Busy(false, what);
      Eq(Convert({}, "once idle"), L"Information: Done|", "a Convert click once idle");
      Converted(src, out, names, "a Convert click once idle runs a whole batch");
      Close("idle after aborts");
    }
  }
};

}  // namespace

// Usage: tonequay-e2e PROGRAM FIXTURES WORK VOLUME [SCENARIO...]: DOS paths, the folders with a
// trailing '\'; VOLUME is a tiny one's root, or "-" when none could be mounted.
int wmain(int argc, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 5)
    return std::printf("usage: tonequay-e2e PROGRAM FIXTURES WORK VOLUME [SCENARIO...]\n"), 2;
  Driver d{argv[1], argv[2], argv[3], Str(argv[4]) == L"-" ? L"" : argv[4]};
  d.MakeFixtures();
  const std::pair<Str, void (Driver::*)()> scenarios[] = {{L"startup", &Driver::Startup},
                                                          {L"picker", &Driver::Pickers},
                                                          {L"convert", &Driver::Conversions},
                                                          {L"abort", &Driver::Aborts}};
  for (const auto& [name, run] : scenarios) {
    if (argc == 5 || std::count(argv + 5, argv + argc, name)) (d.*run)(), d.End();
  }
  std::printf("%d failed\n", d.failed);
  return d.failed ? 1 : 0;
}
