// Start-up: the window, its 18 children, keyboard order, read-only fields, tooltips, quiet exit.
#include "tests/e2e/scenarios.h"

namespace {

constexpr int kWidth = 332;
constexpr int kHeight = 213;
constexpr int kMaxItemHeight = 20;

struct ExpectedChild {
  std::wstring className;
  std::wstring text;
  DWORD style;
  DWORD exStyle;
  RECT rect;  // left, top, right, bottom in the main window's client area
  int id;
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

RECT At(int x, int y, int w, int h) {
  return {x, y, x + w, y + h};
}

std::vector<ExpectedChild> ExpectedChildren(HWND main) {
  // The lines and the frame are laid out from the border widths the window really has.
  WINDOWINFO info{};
  info.cbSize = sizeof info;
  GetWindowInfo(main, &info);
  const int bx = static_cast<int>(info.cxWindowBorders);
  const int by = static_cast<int>(info.cyWindowBorders);
  const int w = (info.rcClient.right - info.rcClient.left) - bx;
  const int h = (info.rcClient.bottom - info.rcClient.top) - (by + 53);
  const DWORD edit = kChild | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;
  const DWORD button = kChild | WS_TABSTOP;
  return {
      {L"Static", L"Path:", kChild, 0, At(8, 8, 117, 14), 0},
      {L"Edit", L"", edit, WS_EX_CLIENTEDGE, At(8, 22, 117, 22), 0},
      {L"Button", L"...", button, 0, At(130, 21, 23, 23), 10},
      {L"Static", L"Save to:", kChild, 0, At(172, 8, 117, 14), 0},
      {L"Edit", L"", edit, WS_EX_CLIENTEDGE, At(172, 22, 117, 22), 0},
      {L"Button", L"...", button, 0, At(294, 21, 23, 23), 11},
      {L"Static", L"Files:", kChild, 0, At(8, 62, 145, 14), 0},
      {L"ListBox", L"", kChild | WS_VSCROLL | WS_TABSTOP | LBS_WANTKEYBOARDINPUT, WS_EX_CLIENTEDGE,
       At(8, 76, 145, 145), 14},
      {L"Static", L"Current file:", kChild, 0, At(172, 62, 145, 14), 0},
      {L"msctls_progress32", L"", kChild | PBS_SMOOTH, 0, At(172, 76, 145, 17), 0},
      {L"Static", L"Total:", kChild, 0, At(172, 102, 145, 14), 0},
      {L"msctls_progress32", L"", kChild | PBS_SMOOTH, 0, At(172, 116, 145, 17), 0},
      {L"Button", L"Convert", button, 0, At(172, 142, 68, 26), 12},
      {L"Static", L"", kChild | SS_ETCHEDHORZ, 0, At(bx, 52, w, 0), 0},
      {L"Static", L"", kChild | SS_ETCHEDVERT, 0, At(w / 2, by + 53, 0, h), 0},
      {L"Static", L"PWRBADGE", kChild | SS_BITMAP, 0, At(245, 142, 72, 26), 15},
      {L"Static", L"Web Site: ", kChild | SS_CENTER, 0, At(166, 180, 155, 16), 0},
      {L"Static", L"", kChild | SS_ETCHEDFRAME, 0, At(0, 0, kWidth - 2 * bx, kHeight - 2 * by), 0},
  };
}

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right - r.left) + " x " + std::to_string(r.bottom - r.top) + ")";
}

bool SameClass(const std::wstring& actual, const std::wstring& expected) {
  return CompareStringOrdinal(actual.c_str(), -1, expected.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void CheckWindow(Report& report, Program& program) {
  const HWND main = program.Main();
  report.Equal(ClassOf(main), kMainClass, "window class");
  report.Equal(TextOf(main), L"Tonequay v1.0 by Varnel", "window title");
  report.Equal(GetSystemMetrics(SM_CXSCREEN), 1024, "screen width");
  report.Equal(GetSystemMetrics(SM_CYSCREEN), 768, "screen height");
  RECT rect{};
  GetWindowRect(main, &rect);
  report.Equal(rect.left, 346, "window x");
  report.Equal(rect.top, 277, "window y");
  report.Equal(rect.right - rect.left, kWidth, "window width");
  report.Equal(rect.bottom - rect.top, kHeight + GetSystemMetrics(SM_CYCAPTION),
               "window height is 213 + caption height");
  const DWORD style = static_cast<DWORD>(GetWindowLongW(main, GWL_STYLE));
  const DWORD wanted = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  const DWORD unwanted = WS_MAXIMIZEBOX | WS_THICKFRAME | WS_CHILD | WS_POPUP;
  report.Check((style & wanted) == wanted && (style & unwanted) == 0,
               "window style: caption, system menu and minimize box; no maximize box or sizing",
               "style 0x" + std::to_string(style));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(main, GWL_EXSTYLE));
  report.Check((exStyle & ~static_cast<DWORD>(WS_EX_WINDOWEDGE)) == 0,
               "window has no extended style of its own",
               "extended style " + std::to_string(exStyle));
  report.Hex(static_cast<DWORD>(GetClassLongW(main, GCL_STYLE)), CS_HREDRAW | CS_VREDRAW,
             "class style");
}

void CheckChildren(Report& report, Program& program) {
  const HWND main = program.Main();
  const std::vector<HWND>& children = program.Ui().children;
  const std::vector<ExpectedChild> expected = ExpectedChildren(main);
  report.Equal(static_cast<long long>(children.size()), 18, "main window has 18 children");
  for (size_t i = 0; i < expected.size() && i < children.size(); ++i) {
    const HWND child = children[i];
    const ExpectedChild& want = expected[i];
    const std::string row = "child " + std::to_string(i + 1) + " (" + Narrow(want.className) + " " +
                            Narrow(Quote(want.text)) + ")";
    report.Check(SameClass(ClassOf(child), want.className), row + " class",
                 "got " + Narrow(ClassOf(child)));
    const std::wstring text = TextOf(child);
    if (i == 16) {
      // The address after the prefix is the maker's own; the link scenario follows it.
      report.Check(text.rfind(want.text, 0) == 0 && text.size() > want.text.size(),
                   row + " text is \"Web Site: \" and an address", "got " + Narrow(text));
    } else {
      report.Equal(text, want.text, row + " text");
    }
    DWORD style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    if (i == 7) {
      // The list box hides its scroll bar, and drops WS_VSCROLL, while its items fit.
      style |= WS_VSCROLL;
    }
    report.Hex(style, want.style, row + " style");
    // The static control puts a static edge round its etched lines, outside the size asked.
    const bool etchedLine = i == 13 || i == 14;
    DWORD exStyle = static_cast<DWORD>(GetWindowLongW(child, GWL_EXSTYLE));
    if (etchedLine) exStyle &= ~static_cast<DWORD>(WS_EX_STATICEDGE);
    report.Hex(exStyle, want.exStyle, row + " extended style");
    RECT rect = RectIn(child, main);
    if (etchedLine) {
      RECT client{};
      GetClientRect(child, &client);
      rect.right = rect.left + client.right;
      rect.bottom = rect.top + client.bottom;
    }
    if (i == 7) {
      // Without LBS_NOINTEGRALHEIGHT the list box trims itself to whole items of the font it
      // had when it was created: by less than one item, whatever that font was.
      const int trimmed = want.rect.bottom - rect.bottom;
      if (trimmed >= 0 && trimmed < kMaxItemHeight) rect.bottom = want.rect.bottom;
    }
    report.Check(EqualRect(&rect, &want.rect), row + " rectangle",
                 "got " + Describe(rect) + ", expected " + Describe(want.rect));
    report.Equal(GetDlgCtrlID(child), want.id, row + " id");
  }
}

HWND FocusOf(HWND main) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info);
  return info.hwndFocus;
}

void PressKey(WORD key, bool shift) {
  std::vector<INPUT> inputs;
  auto add = [&](WORD k, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = k;
    input.ki.dwFlags = flags;
    inputs.push_back(input);
  };
  if (shift) add(VK_SHIFT, 0);
  add(key, 0);
  add(key, KEYEVENTF_KEYUP);
  if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void CheckKeyboard(Report& report, Program& program) {
  const Controls& ui = program.Ui();
  const HWND main = program.Main();
  report.Check(FocusOf(main) == ui.sourceEdit, "the source field has the focus at start-up");
  SetForegroundWindow(main);
  WaitFor([&] { return GetForegroundWindow() == main; }, 5000);
  report.Check(GetForegroundWindow() == main, "the window can be brought to the foreground");

  // Typing into a read-only field changes nothing.
  PressKey('X', false);
  PostMessageW(ui.sourceEdit, WM_CHAR, 'y', 0);
  PostMessageW(ui.destEdit, WM_CHAR, 'z', 0);
  program.Drain();
  report.Equal(TextOf(ui.sourceEdit), L"", "typing into the source field changes nothing");
  report.Equal(TextOf(ui.destEdit), L"", "typing into the destination field changes nothing");

  const std::vector<std::pair<HWND, const char*>> order = {
      {ui.sourceBrowse, "source \"...\""},
      {ui.destEdit, "destination field"},
      {ui.destBrowse, "destination \"...\""},
      {ui.fileList, "file list"},
      {ui.convert, "Convert"},
      {ui.sourceEdit, "source field (wrapping round)"}};
  for (const auto& [control, name] : order) {
    PressKey(VK_TAB, false);
    const bool moved = WaitFor([&] { return FocusOf(main) == control; }, 5000);
    report.Check(moved, std::string("Tab moves the focus to the ") + name);
    if (!moved) return;
  }
  PressKey(VK_TAB, true);
  report.Check(WaitFor([&] { return FocusOf(main) == ui.convert; }, 5000),
               "Shift+Tab moves the focus back to Convert");
}

void CheckTooltips(Report& report, Program& program) {
  const Controls& ui = program.Ui();
  const HWND tooltip = program.Tooltip();
  if (!report.Check(tooltip != nullptr, "one tooltip window")) return;
  report.Check((GetWindowLongW(tooltip, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0,
               "the tooltip window is top-most");
  const std::vector<Tool> tools = program.Tools();
  report.Equal(static_cast<long long>(tools.size()), 3, "three tooltips");
  const std::vector<std::pair<HWND, std::wstring>> expected = {
      {ui.sourceBrowse, L"Select files"},
      {ui.destBrowse, L"Select path for output files"},
      {ui.convert, L"Start converting"}};
  for (size_t i = 0; i < expected.size() && i < tools.size(); ++i) {
    const Tool& tool = tools[i];
    const std::string name = "tooltip " + std::to_string(i + 1);
    report.Check(reinterpret_cast<HWND>(tool.id) == expected[i].first,
                 name + " belongs to its button");
    report.Check(tool.owner == program.Main(), name + " is owned by the main window");
    report.Hex(tool.flags, TTF_IDISHWND | TTF_SUBCLASS, name + " flags");
    report.Equal(tool.text, expected[i].second, name + " text");
  }
}

}  // namespace

void StartupScenario(Context& context) {
  Report& report = context.report;
  Program program(report);
  if (!program.Start(context.options)) return;
  CheckWindow(report, program);
  CheckChildren(report, program);
  CheckTooltips(report, program);
  CheckKeyboard(report, program);

  // Closing while idle quits at once: no question, exit code 0.
  PostMessageW(program.Main(), WM_CLOSE, 0, 0);
  WaitFor([&] { return !program.Running() || !program.Dialogs().empty(); });
  report.Check(program.Dialogs().empty(), "closing while idle asks nothing");
  report.Equal(program.WaitExit(), 0, "closing while idle ends the process with exit code 0");
}
