// The window itself: the web-site label as a link, the size kept on a theme change, a screenshot.
#include <fstream>
#include <sstream>

#include "tests/e2e/scenarios.h"

namespace {

POINT CentreOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

HCURSOR CurrentCursor() {
  CURSORINFO info{};
  info.cbSize = sizeof info;
  GetCursorInfo(&info);
  return info.hCursor;
}

void MouseButton(DWORD flags) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = flags;
  SendInput(1, &input, sizeof input);
}

std::vector<std::string> Lines(const std::wstring& path) {
  std::ifstream in(path.c_str());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

}  // namespace

void WebLinkScenario(Context& context) {
  Report& report = context.report;
  Program program(report);
  if (!program.Start(context.options)) return;
  const HWND main = program.Main();
  const Controls& ui = program.Ui();
  const std::wstring label = TextOf(ui.webLink);
  const std::wstring prefix = L"Web Site: ";
  const std::wstring address = label.rfind(prefix, 0) == 0 ? label.substr(prefix.size()) : L"";
  report.Check(!address.empty(), "the label shows an address", "reads " + Narrow(label));

  // The cursor shown is the one of the foreground window's thread.
  SetForegroundWindow(main);
  report.Check(WaitFor([&] { return GetForegroundWindow() == main; }, 5000),
               "the window is in the foreground");
  POINT background = {60, 48};  // between the path fields and the line under them
  ClientToScreen(main, &background);
  const POINT link = CentreOf(ui.webLink);
  auto cursorAt = [&](POINT point) {
    SetCursorPos(point.x, point.y);
    program.SyncInput();
    return CurrentCursor();
  };
  const HCURSOR arrow = cursorAt(background);
  const HCURSOR hand = cursorAt(link);
  report.Check(arrow != nullptr && hand != nullptr && hand != arrow,
               "the cursor changes over the web-site label");
  // Where the program's cursors are the system's own handles, they can be named too.
  if (LoadCursorW(nullptr, IDC_HAND) == hand || LoadCursorW(nullptr, IDC_ARROW) == arrow) {
    report.Check(hand == LoadCursorW(nullptr, IDC_HAND), "the cursor over the label is the hand");
    report.Check(arrow == LoadCursorW(nullptr, IDC_ARROW), "the cursor elsewhere is the arrow");
  }
  const std::pair<HWND, const char*> others[] = {
      {ui.children[6], "another label"}, {ui.children[15], "the logo"}, {main, "the background"}};
  for (const auto& [window, name] : others) {
    cursorAt(link);
    const POINT point = window == main ? background : CentreOf(window);
    report.Check(cursorAt(point) == arrow, std::string("the arrow over ") + name);
  }
  report.Check(cursorAt(link) == hand, "the hand again over the label");
  const HCURSOR beam = cursorAt(CentreOf(ui.sourceEdit));
  report.Check(beam != hand && beam != arrow, "the path field shows its own cursor");
  cursorAt(background);

  // A click on the background opens nothing; a click on the label opens the address.
  MouseButton(MOUSEEVENTF_LEFTDOWN);
  MouseButton(MOUSEEVENTF_LEFTUP);
  program.SyncInput();
  cursorAt(link);
  MouseButton(MOUSEEVENTF_LEFTDOWN);
  MouseButton(MOUSEEVENTF_LEFTUP);
  // The shell starts the browser (here the recorder) as a new process; on a fresh prefix
  // under load that alone has taken longer than the usual wait.
  const bool opened = WaitFor([&] { return !Lines(context.options.urlLog).empty(); }, 3 * kWaitMs);
  if (!report.Check(opened, "a click on the label opens the address with the shell")) {
    GUITHREADINFO thread{};
    thread.cbSize = sizeof thread;
    GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &thread);
    POINT cursor{};
    GetCursorPos(&cursor);
    const HWND under = WindowFromPoint(cursor);
    report.Note("cursor at " + std::to_string(cursor.x) + "," + std::to_string(cursor.y) +
                " over " + Narrow(ClassOf(under)) + " " + Narrow(Quote(TextOf(under))) +
                "; foreground " + Narrow(ClassOf(GetForegroundWindow())) + "; capture " +
                (thread.hwndCapture ? Narrow(ClassOf(thread.hwndCapture)) : "none"));
  }
  const std::vector<std::string> lines = Lines(context.options.urlLog);
  if (!lines.empty()) {
    // The shell puts a scheme in front of an address given without one, as a browser does.
    const std::wstring opened = Widen(lines.front());
    const bool same = opened == address || (address.find(L"://") == std::wstring::npos &&
                                            opened == L"http://" + address);
    report.Check(same, "the address opened is the one the label shows",
                 "opened " + lines.front() + ", label shows " + Narrow(address));
  }
  report.Check(program.Dialogs().empty() && program.Running(),
               "the click leaves the window as it was");

  PostMessageW(main, WM_CLOSE, 0, 0);
  report.Equal(program.WaitExit(), 0, "the program ends with exit code 0");
  report.Equal(static_cast<long long>(Lines(context.options.urlLog).size()), 1,
               "only the click on the label opened anything");
}

void ThemeScenario(Context& context) {
  Report& report = context.report;
  Program program(report);
  if (!program.Start(context.options)) return;
  const HWND main = program.Main();
  RECT before{};
  GetWindowRect(main, &before);
  SetWindowPos(main, nullptr, 0, 0, 420, 300, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT resized{};
  WaitFor(
      [&] {
        GetWindowRect(main, &resized);
        return resized.right - resized.left == 420;
      },
      5000);
  report.Equal(resized.right - resized.left, 420, "the window can be resized from outside");

  DWORD_PTR result = 0;
  SendMessageTimeoutW(main, WM_THEMECHANGED, 0, 0, SMTO_NORMAL, kSendMs, &result);
  RECT after{};
  GetWindowRect(main, &after);
  report.Equal(after.right - after.left, 332, "WM_THEMECHANGED restores the width");
  report.Equal(after.bottom - after.top, 213 + GetSystemMetrics(SM_CYCAPTION),
               "WM_THEMECHANGED restores the height for the caption height");
  report.Check(after.left == before.left && after.top == before.top,
               "WM_THEMECHANGED leaves the position");

  PostMessageW(main, WM_CLOSE, 0, 0);
  report.Equal(program.WaitExit(), 0, "the program ends with exit code 0");
}

void ScreenshotScenario(Context& context) {
  Report& report = context.report;
  const std::wstring root = context.Folder(L"shot");
  const std::wstring source = root + L"\\Level sounds";
  const std::wstring out = root + L"\\Converted";
  MakeFolder(root);
  MakeSounds(source, {L"intro.med", L"Level1.MED", L"boss.med", L"outro.med"}, kMedTag, 40);
  MakeFolder(out);
  ListTree(context.options.fixtures);

  Program program(report);
  if (!program.Start(context.options)) return;
  const Controls& ui = program.Ui();
  program.Browse(ui.sourceBrowse, source);
  program.Browse(ui.destBrowse, out);
  Click(ui.convert);
  program.ExpectBox(L"Information", L"Done", IDOK, "conversion before the screenshot");
  program.WaitIdle();
  // Two round trips: the first empties the queue, the second comes after the repaint that
  // an empty queue lets through.
  program.Drain();
  program.Drain();
  SetForegroundWindow(program.Main());

  const std::wstring path = context.options.shots + L"tonequay-after-conversion.png";
  int width = 0;
  int height = 0;
  int colours = 0;
  report.Check(SaveWindowPng(program.Main(), path, width, height, colours),
               "the screenshot is saved as " + Narrow(path));
  int fileWidth = 0;
  int fileHeight = 0;
  report.Check(ReadPngSize(path, fileWidth, fileHeight), "the screenshot reads back as a PNG");
  report.Equal(fileWidth, 332, "the screenshot is as wide as the window");
  report.Equal(fileHeight, 213 + GetSystemMetrics(SM_CYCAPTION),
               "the screenshot is as high as the window");
  report.Check(colours >= 8, "the screenshot shows a drawn window",
               std::to_string(colours) + " colours");

  PostMessageW(program.Main(), WM_CLOSE, 0, 0);
  report.Equal(program.WaitExit(), 0, "the program ends with exit code 0");
}
