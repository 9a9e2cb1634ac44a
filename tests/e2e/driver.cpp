// Works tonequay.exe's window under Wine from outside; prints PASS or FAIL per check, exits 1 on
// any.
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
using Says = std::pair<HWND, Str>;  // a message box and its "title: text"
namespace fs = std::filesystem;
// Children by creation order; the tooltips' text up to the Convert button's own.
constexpr int kSource = 1, kSourceButton = 2, kDest = 4, kDestButton = 5, kList = 7, kConvert = 12;
constexpr DWORD kLong = 20000;
const Str kTips = L"2 Select files; 5 Select path for output files; 12 ";
const Str kAbort = L"Question: Abort converting?", kDone = L"Information: Done";

class Driver {
 public:
  Str program, fixtures, work;  // DOS paths from the runner
  int failed = 0;
  PROCESS_INFORMATION app{};  // the program under test, one at a time
  HWND main = nullptr;
  std::vector<HWND> kids;  // in creation order

  std::string N(const Str& s) { return std::string(s.begin(), s.end()); }  // ASCII only
  Str S(long long n) { return std::to_wstring(n); }
  Str F(const Str& name) const { return name.empty() ? name : fixtures + name; }
  HWND K(int i) { return kids[i]; }
  bool Running() const { return WaitForSingleObject(app.hProcess, 0) == WAIT_TIMEOUT; }
  void Click(int kid) { PostMessageW(K(kid), BM_CLICK, 0, 0); }  // a sent one would wait out boxes
  LRESULT Send(HWND window, UINT message, WPARAM w = 0, LPARAM l = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, w, l, SMTO_NORMAL, 10000, &result)) return -9;
    return static_cast<LRESULT>(result);
  }
  bool Check(bool ok, const std::string& what, const std::string& detail = "") {
    std::printf("%s %s%s\n", ok ? "PASS" : "FAIL", what.c_str(), ok ? "" : (": " + detail).c_str());
    return failed += !ok, ok;
  }
  bool Eq(const Str& got, const Str& want, const std::string& what) {
    return Check(got == want, what, "got \"" + N(got) + "\", expected \"" + N(want) + "\"");
  }
  bool Until(DWORD ms, const std::function<bool()>& done) {  // fails a check, never hangs
    for (const ULONGLONG end = GetTickCount64() + ms; !done(); Sleep(20))
      if (GetTickCount64() >= end) return false;
    return true;
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
  // Makes each folder and sound file ("folder\name:size", tag 17 for .wav, else 122) before a
  // program starts: a folder dialog may not show a folder made later.
  void Fixtures(const Str& files) const {
    std::wistringstream list(files);
    for (Str file; list >> file;) {
      const size_t colon = file.find(L':');
      fs::create_directories(fs::path(fixtures + file).parent_path());
      if (colon == Str::npos) continue;
      std::string bytes = "RIFF1234WAVE" + std::string(std::stoi(file.substr(colon + 1)), '!');
      bytes[20] = file[colon - 1] == L'v' ? 17 : 122, bytes[21] = 0;
      std::ofstream(fs::path(fixtures + file.substr(0, colon)), std::ios::binary) << bytes;
    }
  }
  // The first `done` files of `from` in `to`, byte for byte with the tag toggled; no other file.
  void Converted(const Str& from, const Str& to, size_t done, const std::string& what) {
    std::wistringstream names(Names(F(from)));
    const Str outputs = Names(F(to));
    size_t i = 0, made = std::count(outputs.begin(), outputs.end(), L'|');
    bool ok = true;
    for (Str name; std::getline(names, name, L'|'); ++i) {
      const Str stem = name.substr(0, name.rfind(L'.'));
      const bool med = !_wcsicmp(name.c_str() + stem.size(), L".med");
      std::string in = Read(F(from) + L"\\" + name);
      in[20] = static_cast<char>(med ? 17 : 122);
      ok = ok && (i < done) == (Read(F(to) + L"\\" + stem + (med ? L".wav" : L".med")) == in);
    }
    Check(ok && made == std::min(done, i), what + ": " + std::to_string(made) + " converted");
  }

  bool Start() {
    STARTUPINFOW startup{sizeof startup};
    Str line = L"tonequay.exe";
    CreateProcessW(program.c_str(), &line[0], 0, 0, 0, 0, 0, fixtures.c_str(), &startup, &app);
    // The window shows before its children exist, and they get their font from posted messages.
    Until(kLong, [&] {
      main = FindWindowW(L"Brannix455454545453", nullptr), kids.clear();
      for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) kids.push_back(c);
      return (IsWindowVisible(main) && kids.size() == 18) || !Running();
    });
    return Check(kids.size() == 18, "a window of class Brannix455454545453, 18 children") &&
           Drain();
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
    PostMessageW(K(kSource), EM_SETLIMITTEXT, ++marker, 0);
    return Until(kLong, [&] { return Send(K(kSource), EM_GETLIMITTEXT) == marker || !Running(); });
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
  // The tips of the one top-most tooltip window as "child text; ...", "!" marking wrong flags or
  // owner. The record and the text the control writes must be in the program.
  Str Tools() {
    HWND tips = FindWindowW(TOOLTIPS_CLASSW, 0), next = FindWindowExW(0, tips, TOOLTIPS_CLASSW, 0);
    if (next || !(GetWindowLongW(tips, GWL_EXSTYLE) & WS_EX_TOPMOST)) return L"?";
    Str all;
    struct {
      TTTOOLINFOA info;
      char text[256];
    } tool{{static_cast<UINT>(TTTOOLINFOA_V1_SIZE)}, {}};
    auto* at = static_cast<decltype(tool)*>(InProgram(&tool, sizeof tool));
    for (int i = 0; i < Send(tips, TTM_GETTOOLCOUNT); ++i) {
      tool.info.lpszText = at->text, *tool.text = 0;
      WriteProcessMemory(app.hProcess, at, &tool, sizeof tool, nullptr);
      Send(tips, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(at));
      ReadProcessMemory(app.hProcess, at, &tool, sizeof tool, nullptr);
      const auto kid = std::find(kids.begin(), kids.end(), (HWND)tool.info.uId) - kids.begin();
      all += (i ? L"; " : L"") + S(kid) + L" " + Str(tool.text, tool.text + strlen(tool.text)) +
             (tool.info.uFlags == (TTF_IDISHWND | TTF_SUBCLASS) && tool.info.hwnd == main ? L""
                                                                                          : L"!");
    }
    return VirtualFreeEx(app.hProcess, at, 0, MEM_RELEASE), all;
  }

  // Whether `control` shows the stock `icon`, or else its text in the dialog font, as drawn here.
  bool Shows(HWND control, LPCWSTR icon = nullptr) {
    RECT r = Rect(control), box = {0, 0, r.right - r.left, r.bottom - r.top};
    const Str text = Text(control);
    const UINT centred = (GetWindowLongW(control, GWL_STYLE) & SS_CENTER) ? DT_CENTER : 0;
    std::vector<DWORD> pixels[2];  // here, and on the screen
    for (int i = 0; i < 2; ++i) {
      BITMAPINFO info{{sizeof(BITMAPINFOHEADER), box.right, -box.bottom, 1, 32, BI_RGB}};
      DWORD* bits = nullptr;
      HDC dc = CreateCompatibleDC(nullptr), screen = GetDC(nullptr);
      HGDIOBJ old = SelectObject(dc, CreateDIBSection(dc, &info, 0, (void**)&bits, nullptr, 0));
      FillRect(dc, &box, GetSysColorBrush(COLOR_3DFACE));
      SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
      SetBkColor(dc, GetSysColor(COLOR_3DFACE));
      if (i) BitBlt(dc, 0, 0, box.right, box.bottom, screen, r.left, r.top, SRCCOPY);
      if (!i && icon) DrawIconEx(dc, 0, 0, LoadIconW(0, icon), box.right, box.bottom, 0, 0, 3);
      if (!i && !icon) DrawTextW(dc, text.c_str(), -1, &box, centred | DT_WORDBREAK);
      GdiFlush();
      // Shifted, the unused alpha byte drops out.
      for (int p = 0; bits && p < box.right * box.bottom; ++p) pixels[i].push_back(bits[p] << 8);
      DeleteObject(SelectObject(dc, old)), DeleteDC(dc), ReleaseDC(nullptr, screen);
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
      last = now, now.clear();
      Until(10000, [&] { return !(now = Read(work + L"x11.out")).empty(); });
      return now == last && !now.empty();
    });
    return now;
  }

  // The next message box. Checks that its buttons and the icon it draws suit its title.
  Says NextBox() {
    const HWND box = Dialog(kLong);
    const Str title = Text(box), says = title + L": " + Text(GetDlgItem(box, 0xFFFF));
    const LPCWSTR icon = title == L"Question" ? IDI_QUESTION
                         : title == L"Error"  ? IDI_ERROR
                                              : IDI_INFORMATION;
    Str got = Until(5000, [&] { return Shows(GetDlgItem(box, 0x440), icon); }) ? L"its" : L"?";
    for (int id : {IDOK, IDCANCEL, IDYES, IDNO}) got += GetDlgItem(box, id) ? L" 1" : L" 0";
    Eq(got, icon == IDI_QUESTION ? L"its 0 0 1 1" : L"its 1 0 0 0",
       "\"" + N(says) + "\" box: icon, buttons");
    return {box, says};
  }
  Str Finish() {  // answers the next box with OK; returns what it said once the window is idle
    const Says box = NextBox();
    Answer(box.first, IDOK);
    Until(kLong, [&] { return Text(K(kConvert)) == L"Convert" && !Dialog(); });
    return box.second;
  }
  Str List() {
    Str items;
    for (int i = 0; i < Send(K(kList), LB_GETCOUNT); ++i)
      items += Text(K(kList), LB_GETTEXT, i) + L"|";
    return items;
  }
  // Busy after the first of six files, Convert turns into Cancel with its own tip.
  void Busy(bool busy, const std::string& what) {
    Eq(Text(K(kConvert)) + L" " + S(Send(K(9), PBM_GETPOS)) + L" " + S(Send(K(11), PBM_GETPOS)) +
           (IsWindowEnabled(K(kSourceButton)) ? L" on" : L" off") +
           (IsWindowEnabled(K(kDestButton)) ? L" on, " : L" off, ") + Tools(),
       busy ? L"Cancel 0 16 off off, " + kTips + L"Abort converting"
            : L"Convert 0 0 on on, " + kTips + L"Start converting",
       what + (busy ? ": the window is busy" : ": the window is idle again"));
  }

  // Picks `folder` (none: Cancel); checks the dialog's place, title and status line.
  void Pick(int button, const Str& folder) {
    const Str dest = Text(K(kDest));
    Click(button);
    const HWND dialog = Dialog(kLong), status = GetDlgItem(dialog, 14147);
    const RECT r = Rect(dialog);
    const auto shows = [&](const Str& path) {
      return path.empty() || Until(5000, [&] { return Text(status) == path; });
    };
    const bool ok = r.left == (1024 - r.right + r.left) / 2 &&
                    r.top == (768 - r.bottom + r.top) / 2 && shows(dest) &&
                    Text(GetDlgItem(dialog, 14146)) ==
                        (button == kDestButton ? L"" : L"Choose folder with med-files:");
    if (!folder.empty())
      Send(dialog, BFFM_SETSELECTIONW, TRUE,
           (LPARAM)InProgram(folder.c_str(), folder.size() * 2 + 2));
    Check(ok && shows(folder), "dialog " + std::to_string(button) + ": centred, title, " + N(dest) +
                                   " preselected, " + N(folder) + " shown");
    Answer(dialog, folder.empty() ? IDCANCEL : IDOK);
  }

  void Startup() {
    if (!Start()) return;
    const auto row = [&](HWND h, RECT r) {
      wchar_t cls[64] = {}, got[400];
      GetClassNameW(h, cls, 64);
      swprintf(got, 400, L"%ls \"%ls\" %08lX %08lX (%ld,%ld)-(%ld,%ld) %d",
               wcschr(cls, L'!') ? wcschr(cls, L'!') + 1 : cls, Text(h).c_str(),
               GetWindowLongW(h, GWL_STYLE), GetWindowLongW(h, GWL_EXSTYLE), r.left, r.top, r.right,
               r.bottom, GetDlgCtrlID(h));
      return Str(got);
    };
    // Centred on 1024x768 with a caption, system menu and minimize box, 332x213 and the caption.
    RECT w = Rect(main);
    w.bottom -= GetSystemMetrics(SM_CYCAPTION);
    Eq(row(main, w) + L", class style " + S(GetClassLongW(main, GCL_STYLE)),
       L"Brannix455454545453 \"Tonequay v1.0 by Varnel\" 14CA0000 00000100 (346,277)-(678,490) "
       L"0, class style 3",
       "the window");
    const Str rows[] = {
        L"Static \"Path:\" 50000000 00000000 (8,8)-(125,22) 0",
        L"Edit \"\" 50010880 00000200 (8,22)-(125,44) 0",
        L"Button \"...\" 50010000 00000000 (130,21)-(153,44) 10",
        L"Static \"Save to:\" 50000000 00000000 (172,8)-(289,22) 0",
        L"Edit \"\" 50010880 00000200 (172,22)-(289,44) 0",
        L"Button \"...\" 50010000 00000000 (294,21)-(317,44) 11",
        L"Static \"Files:\" 50000000 00000000 (8,62)-(153,76) 0",
        L"ListBox \"\" 50010400 00000200 (8,76)-(153,208) 14",
        L"Static \"Current file:\" 50000000 00000000 (172,62)-(317,76) 0",
        L"msctls_progress32 \"\" 50000001 00000000 (172,76)-(317,93) 0",
        L"Static \"Total:\" 50000000 00000000 (172,102)-(317,116) 0",
        L"msctls_progress32 \"\" 50000001 00000000 (172,116)-(317,133) 0",
        L"Button \"Convert\" 50010000 00000000 (172,142)-(240,168) 12",
        L"Static \"\" 50000010 00020000 (3,52)-(328,54) 0",
        L"Static \"\" 50000011 00020000 (161,56)-(163,209) 0",
        L"Static \"PWRBADGE\" 5000000E 00000000 (245,142)-(317,168) 15",
        L"Static \"Web Site: www.varnel.example\" 50000001 00000000 (166,180)-(321,196) 0",
        L"Static \"\" 50000012 00000000 (0,0)-(326,207) 0",
    };
    for (int i = 0; i < 18; ++i) {
      Eq(row(K(i), Rect(K(i), main)), rows[i], "child " + std::to_string(i + 1));
      // Wine answers WM_GETFONT from another process with 0: a label's font is checked as drawn.
      if (Str(L"0 3 6 8 10 16 ").find(S(i) + L" ") != Str::npos)
        Check(Until(5000, [&] { return Shows(K(i)); }), N(Text(K(i))) + " in the dialog font");
    }
    Eq(Tools(), kTips + L"Start converting", "one top-most tooltip window with three tips");
    // The path fields are read-only; Tab and Shift+Tab walk the controls in creation order.
    const auto focus = [&] {
      GUITHREADINFO thread{sizeof thread};
      GetGUIThreadInfo(app.dwThreadId, &thread);
      return std::find(kids.begin(), kids.end(), thread.hwndFocus) - kids.begin();
    };
    Str order = S(focus());
    SetForegroundWindow(main);
    for (const char* keys : {"X", "\t", "\t", "\t", "\t", "\t", "\t", "\x10\t"}) {  // 10: Shift
      const auto before = focus();
      for (const char* key = keys; *key; ++key) keybd_event(*key, 0, 0, 0);
      for (const char* key = keys; *key; ++key) keybd_event(*key, 0, KEYEVENTF_KEYUP, 0);
      Until(*keys == 'X' ? 0 : 5000, [&] { return focus() != before; });
      order += L" " + S(focus());
    }
    PostMessageW(K(kDest), WM_CHAR, 'z', 0);
    Eq(order + L" " + (Drain() ? Text(K(kSource)) + Text(K(kDest)) : L"?"), L"1 1 2 4 5 7 12 1 12 ",
       "the focus at start-up, after typing X, Tab six times, Shift+Tab; the paths stay empty");
    // The stock hand over the label, the stock arrow elsewhere, as the driver's window shows them.
    const HWND mine = CreateWindowExW(WS_EX_TOPMOST, L"Static", 0,
                                      WS_POPUP | WS_VISIBLE | SS_NOTIFY, 0, 0, 64, 64, 0, 0, 0, 0);
    std::string stock[2];
    for (int hand : {0, 1}) {
      SetClassLongPtrW(mine, GCLP_HCURSOR, (LONG_PTR)LoadCursorW(0, hand ? IDC_HAND : IDC_ARROW));
      stock[hand] = CursorAt({20 + hand * 20, 20}, true);
    }
    DestroyWindow(mine);
    SetForegroundWindow(main);
    const RECT c = Rect(K(17));  // the client area
    Str shapes;
    for (int kid : {16, 6, 16, 15, 0, kSource}) {  // 0: between the path fields and the line
      const RECT r = kid ? Rect(K(kid)) : RECT{c.left + 60, c.top + 48, c.left + 60, c.top + 48};
      const std::string now = CursorAt({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
      shapes += now == stock[0] ? L"arrow " : now == stock[1] ? L"hand " : L"other ";
    }
    Eq(stock[0] == stock[1] ? L"?" : shapes, L"hand arrow hand arrow arrow other ",
       "the pointer over the label, another label, the label, the logo, the background, a path");
    // Only a click on the label opens its address, here with x11.py for a browser; one for the
    // background click would have written the log before the end of the run.
    const Str browser = L"\"" + work + L"x11.py\" url \"%1\"";
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\ddeexec");
    RegSetKeyValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", 0, REG_SZ, browser.c_str(),
                    browser.size() * 2 + 2);
    for (LPARAM at : {MAKELPARAM(60, 48), MAKELPARAM(243, 188)})
      PostMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON, at), PostMessageW(main, WM_LBUTTONUP, 0, at);
    std::string urls;
    Until(kLong, [&] { return (urls = Read(work + L"url.log")).find('\n') != std::string::npos; });
    Check(urls == "http://www.varnel.example\n", "a click on the label opens its address", urls);
    // A theme change brings back the window's size for the caption height, where it stands.
    SetWindowPos(main, nullptr, 0, 0, 420, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT resized = Rect(main), r = (Send(main, WM_THEMECHANGED), Rect(main));
    Check(resized.right == 346 + 420 && r.left == 346 && r.top == 277 && r.right == 346 + 332 &&
              r.bottom == 277 + 213 + GetSystemMetrics(SM_CYCAPTION),
          "WM_THEMECHANGED restores the size of a resized window and keeps its place");
    PostMessageW(main, WM_CLOSE, 0, 0);
    Until(kLong, [&] { return !Running() || Dialog(); });
    Check(!Dialog() && Exit0(), "closing the idle window asks nothing, exit code 0");
  }

  void Batches() {
    if (!Start()) return;
    Click(kConvert);
    Eq(Finish(), L"Error: Please select files first", "Convert with no files is refused");
    // The dialog, its pick (none: Cancel), the fields, the folder listed (for WAV files: mixed).
    const struct {
      int button;
      Str pick, source, dest, list;
    } picks[] = {{kDestButton, L"out", L"", L"out", L"neither"},
                 {kSourceButton, L"mixed", L"mixed", L"mixed", L"mixed"},
                 {kDestButton, L"meds", L"mixed", L"meds", L"mixed"},
                 {kSourceButton, L"", L"", L"", L"meds"},
                 {kSourceButton, L"neither", L"neither", L"neither", L"meds"},
                 {kSourceButton, L"meds", L"meds", L"meds", L"meds"},
                 {kDestButton, L"", L"meds", L"", L"meds"}};
    for (const auto& row : picks) {
      Pick(row.button, F(row.pick));
      Eq(Text(K(kSource)) + L" > " + Text(K(kDest)) + L" [" + List() + L"]",
         F(row.source) + L" > " + F(row.dest) + L" [" +
             Names(F(row.list), row.list == L"mixed" ? L".wav" : L".med") + L"]",
         "picks, row " + std::to_string(&row - picks + 1) + ": fields, list");
    }
    for (const Str& to : {Str(L"wav"), Str(L"back")}) {  // one conversion each way
      const Str from = to == L"wav" ? L"conv" : L"wav";
      Pick(kSourceButton, F(from)), Pick(kDestButton, F(to));
      Click(kConvert);
      Eq(List() + Finish(), Names(F(from)) + kDone, N(to) + ": the list, then Done");
      Converted(from, to, 9, N(from) + " to " + N(to));
    }
    // Six files, asked to abort after the first by a request queued behind Convert. A Convert
    // click behind Yes must not start a batch inside the ending one; a close there quits after it.
    Pick(kSourceButton, F(L"abort"));
    const struct {
      std::string what;
      UINT request, answer, then;  // WM_CLOSE to the window, else to the Convert button
    } rows[] = {{"Cancel, Yes, Convert", BM_CLICK, IDYES, BM_CLICK},
                {"Cancel, No", BM_CLICK, IDNO, WM_NULL},
                {"close, No", WM_CLOSE, IDNO, WM_NULL},
                {"close, Yes", WM_CLOSE, IDYES, WM_NULL},
                {"Cancel, Yes, close", BM_CLICK, IDYES, WM_CLOSE}};
    for (const auto& row : rows) {
      const Str out = L"abort" + S(&row - rows + 1);
      const auto to = [&](UINT message) { return message == WM_CLOSE ? main : K(kConvert); };
      Pick(kDestButton, F(out));
      PostAtOnce({{K(kConvert), BM_CLICK}, {to(row.request), row.request}});
      const Says question = NextBox();
      Check(question.second == kAbort && Send(K(kList), LB_GETCURSEL) == 0,
            row.what + ": asked after file 1, selected");
      Busy(true, row.what);
      PostAtOnce({{question.first, WM_COMMAND, row.answer}, {to(row.then), row.then}});
      Until(kLong, [&] { return !IsWindowVisible(question.first); });
      Eq(Finish(), kDone, row.what + ": the batch ends with Done");
      Converted(L"abort", out, row.answer == IDYES ? 1 : 6, row.what);
      if (row.then == WM_CLOSE) break;
      Check(Drain() && !Dialog() && Running() && IsWindowVisible(main),
            row.what + ": no second batch, the window stays open");
      Busy(false, row.what);
    }
    Check(Exit0(), "close while a batch ends: the program then quits with exit code 0");
  }
};

}  // namespace

// Usage: tonequay-e2e PROGRAM FIXTURES\ WORK\, DOS paths.
int wmain(int, wchar_t** argv) {
  setvbuf(stdout, nullptr, _IONBF, 0);
  Driver d{argv[1], argv[2], argv[3]};
  d.Fixtures(
      L"mixed\\x1.med:90 mixed\\w1.wav:90 mixed\\w2.wav:90 meds\\m1.med:90 "
      L"meds\\m2.MED:90 meds\\m3.med:90 neither\\notes.txt:90 out\\ wav\\ back\\ "
      L"conv\\bass.med:7700 conv\\Drum.MED:12800 conv\\lead.take2.med:5100 abort1\\ "
      L"abort2\\ abort3\\ abort4\\ abort5\\ abort\\f1.med:65000 abort\\f2.med:65000 "
      L"abort\\f3.med:65000 abort\\f4.med:65000 abort\\f5.med:65000 abort\\f6.med:65000");
  d.Startup(), d.Batches();
  d.Check(d.Read(d.work + L"url.log") == "http://www.varnel.example\n",
          "a click on the window's background opened nothing");
  std::printf("%d failed\n", d.failed);
  return d.failed ? 1 : 0;
}
