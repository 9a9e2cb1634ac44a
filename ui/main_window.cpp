// Start-up of the main window and its 18 children, their font and tooltips, and the loop.
#include "ui/main_window.h"

#include <commctrl.h>

#include <cstddef>
#include <vector>

#include "convert/batch.h"
#include "ui/layout.h"
#include "ui/window_proc.h"

MainControls Controls;
MSG SharedMessage;

namespace {

constexpr char kClassName[] = "Brannix455454545453";
constexpr char kTitle[] = "Tonequay v1.0 by Varnel";

// The tool record up to lParam, without the trailing lpReserved that newer headers add.
constexpr UINT kToolRecordSize = offsetof(TOOLINFOA, lpReserved);
static_assert(sizeof(void*) != 4 || kToolRecordSize == 44, "the 32-bit tool record is 44 bytes");

constexpr DWORD kPathStyle = WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;
constexpr DWORD kListStyle = WS_VSCROLL | WS_TABSTOP | LBS_WANTKEYBOARDINPUT;
static_assert((WS_CHILD | WS_VISIBLE | kPathStyle) == 0x50010880);
static_assert((WS_CHILD | WS_VISIBLE | kListStyle) == 0x50210400);

struct ChildRow {
  const char* className;
  const char* text;
  DWORD style;  // on top of WS_CHILD | WS_VISIBLE
  DWORD exStyle;
  Placement placement;
  LayoutRect rect;  // used as it is for Placement::Fixed
  int id;
  HWND MainControls::*handle;  // where the handle is kept, if anywhere
};

// Creation order is the tab order.
// clang-format off
constexpr ChildRow kChildren[] = {
    {"STATIC", "Path:", 0, 0, Placement::Fixed, {8, 8, 117, 14}, 0, nullptr},
    {"EDIT", "", kPathStyle, WS_EX_CLIENTEDGE, Placement::Fixed, {8, 22, 117, 22}, 0, &MainControls::sourceEdit},
    {"BUTTON", "...", WS_TABSTOP, 0, Placement::Fixed, {130, 21, 23, 23}, IDC_BROWSE_SOURCE, &MainControls::sourceBrowse},
    {"STATIC", "Save to:", 0, 0, Placement::Fixed, {172, 8, 117, 14}, 0, nullptr},
    {"EDIT", "", kPathStyle, WS_EX_CLIENTEDGE, Placement::Fixed, {172, 22, 117, 22}, 0, &MainControls::destEdit},
    {"BUTTON", "...", WS_TABSTOP, 0, Placement::Fixed, {294, 21, 23, 23}, IDC_BROWSE_DEST, &MainControls::destBrowse},
    {"STATIC", "Files:", 0, 0, Placement::Fixed, {8, 62, 145, 14}, 0, nullptr},
    // 145 high, past the client area's bottom edge, which clips it.
    {"LISTBOX", "", kListStyle, WS_EX_CLIENTEDGE, Placement::Fixed, {8, 76, 145, 145}, IDC_FILE_LIST, &MainControls::fileList},
    {"STATIC", "Current file:", 0, 0, Placement::Fixed, {172, 62, 145, 14}, 0, nullptr},
    {PROGRESS_CLASSA, "", PBS_SMOOTH, 0, Placement::Fixed, {172, 76, 145, 17}, 0, &MainControls::currentBar},
    {"STATIC", "Total:", 0, 0, Placement::Fixed, {172, 102, 145, 14}, 0, nullptr},
    {PROGRESS_CLASSA, "", PBS_SMOOTH, 0, Placement::Fixed, {172, 116, 145, 17}, 0, &MainControls::totalBar},
    {"BUTTON", "Convert", WS_TABSTOP, 0, Placement::Fixed, {172, 142, 68, 26}, IDC_CONVERT, &MainControls::convertButton},
    {"STATIC", "", SS_ETCHEDHORZ, 0, Placement::LineUnderPaths, {}, 0, nullptr},
    {"STATIC", "", SS_ETCHEDVERT, 0, Placement::LineBetweenHalves, {}, 0, nullptr},
    {"STATIC", "PWRBADGE", SS_BITMAP, 0, Placement::Fixed, {245, 142, 72, 26}, IDC_LOGO, nullptr},
    // No SS_NOTIFY: mouse messages over the label go to the main window, which makes it a link.
    {"STATIC", kWebSiteLabel, SS_CENTER, 0, Placement::Fixed, {166, 180, 155, 16}, 0, &MainControls::webLink},
    {"STATIC", "", SS_ETCHEDFRAME, 0, Placement::Frame, {}, 0, nullptr},
};
// clang-format on
static_assert(sizeof kChildren / sizeof kChildren[0] == 18);

FrameMetrics ReadFrameMetrics(HWND window) {
  WINDOWINFO info{};
  info.cbSize = sizeof info;
  GetWindowInfo(window, &info);
  return {static_cast<int>(info.cxWindowBorders), static_cast<int>(info.cyWindowBorders),
          static_cast<int>(info.rcClient.right - info.rcClient.left),
          static_cast<int>(info.rcClient.bottom - info.rcClient.top)};
}

void CreateChildren(HINSTANCE instance) {
  FrameMetrics frame{};
  bool frameRead = false;
  for (const ChildRow& row : kChildren) {
    // The border-derived rows come after the Convert button, once the frame is final.
    if (row.placement != Placement::Fixed && !frameRead) {
      frame = ReadFrameMetrics(Controls.main);
      frameRead = true;
    }
    const LayoutRect rect = PlaceChild(row.placement, row.rect, frame);
    const HWND child =
        CreateWindowExA(row.exStyle, row.className, row.text, WS_CHILD | WS_VISIBLE | row.style,
                        rect.x, rect.y, rect.width, rect.height, Controls.main,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)), instance, nullptr);
    if (row.handle != nullptr) Controls.*row.handle = child;
  }
}

const char* StartTipFor(HWND child) {
  if (child == Controls.sourceBrowse) return "Select files";
  if (child == Controls.destBrowse) return "Select path for output files";
  if (child == Controls.convertButton) return "Start converting";
  return nullptr;
}

// Posted rather than sent, so every child takes the font once the loop runs.
BOOL CALLBACK ApplyChildFontAndTips(HWND child, LPARAM) {
  PostMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(Controls.font), FALSE);
  const char* tip = StartTipFor(child);
  if (Controls.tooltip != nullptr && tip != nullptr) {
    AddTooltip(Controls.tooltip, Controls.main, child, tip);
  }
  return TRUE;
}

void RegisterMainClass(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = MainWindowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, "APPICON");
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kClassName;
  RegisterClassExA(&windowClass);
}

TOOLINFOA ToolRecord(HWND owner, HWND control, UINT flags) {
  TOOLINFOA tool{};
  tool.cbSize = kToolRecordSize;
  tool.uFlags = flags;
  tool.hwnd = owner;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.hinst = GetModuleHandleA(nullptr);
  return tool;
}

}  // namespace

std::string PathFieldText(HWND field, int bufferSize) {
  std::vector<char> text(static_cast<std::size_t>(bufferSize), '\0');
  GetWindowTextA(field, text.data(), bufferSize);
  return text.data();
}

void AddTooltip(HWND tooltip, HWND owner, HWND control, const char* text) {
  TOOLINFOA tool = ToolRecord(owner, control, TTF_IDISHWND | TTF_SUBCLASS);
  tool.lpszText = const_cast<char*>(text);
  SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void RemoveTooltip(HWND tooltip, HWND owner, HWND control) {
  TOOLINFOA tool = ToolRecord(owner, control, TTF_IDISHWND);
  SendMessageA(tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void CreateMainWindow(HINSTANCE instance) {
  InitCommonControls();
  Controls.tooltip =
      CreateWindowExA(0, TOOLTIPS_CLASSA, "", WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (Controls.tooltip != nullptr) {
    SetWindowPos(Controls.tooltip, HWND_TOPMOST, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
  }
  RegisterMainClass(instance);

  const LayoutPoint origin =
      WindowOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  Controls.main =
      CreateWindowExA(0, kClassName, kTitle, WS_VISIBLE | WS_SYSMENU | WS_MINIMIZEBOX, origin.x,
                      origin.y, kWindowWidth, kWindowHeight + GetSystemMetrics(SM_CYCAPTION),
                      nullptr, nullptr, instance, nullptr);
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));
  CreateChildren(instance);

  Controls.font = static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT));
  EnumChildWindows(Controls.main, ApplyChildFontAndTips, 0);

  ShowWindow(Controls.main, SW_SHOW);
  SetFocus(Controls.sourceEdit);
  Converting = false;
}

void RunMessageLoop() {
  // GetMessageA's -1 (a failed call) ends the loop as well rather than spinning on it.
  while (GetMessageA(&SharedMessage, nullptr, 0, 0) > 0) {
    if (Controls.main == nullptr || !IsDialogMessageA(Controls.main, &SharedMessage)) {
      TranslateMessage(&SharedMessage);
      DispatchMessageA(&SharedMessage);
    }
  }
}
