// Each handled message is one small procedure; the batch runs inside the Convert command and
// its pump re-enters here on the same thread.
#include "ui/window_proc.h"

#include <shellapi.h>

#include <string>

#include "convert/batch.h"
#include "ui/folder_picker.h"
#include "ui/layout.h"
#include "ui/main_window.h"
#include "ui/win_batch_ui.h"

namespace {

// True from the Convert command until ConvertBatch returns. After a confirmed abort Converting
// is already false while the batch is still ending (its "Done" box, the idle controls), so
// this is what tells that a batch is still on the stack.
bool BatchOnStack = false;
// A close request that arrived while a batch was ending; honoured once it has returned.
bool QuitPending = false;

void AskAbort() {
  if (MessageBoxA(Controls.main, "Abort converting?", "Question", MB_ICONQUESTION | MB_YESNO) ==
      IDYES) {
    Converting = false;
  }
}

void OnClose() {
  if (Converting) {
    AskAbort();
    return;
  }
  // Quitting from inside the ending batch would leave it to run on after the loop's quit
  // message is already queued; the quit is posted when it returns instead.
  if (BatchOnStack) {
    QuitPending = true;
    return;
  }
  PostQuitMessage(0);
}

void OnBrowseSource() {
  const std::string folder = PickFolder(
      Controls.main, "Choose folder with med-files:", PathFieldText(Controls.destEdit, 261),
      &MainFileList, MainFileSystem);
  SetWindowTextA(Controls.sourceEdit, folder.c_str());
  SetWindowTextA(Controls.destEdit, folder.c_str());
}

void OnBrowseDest() {
  const std::string folder =
      PickFolder(Controls.main, "", PathFieldText(Controls.destEdit, 261), nullptr, MainFileSystem);
  SetWindowTextA(Controls.destEdit, folder.c_str());
}

void OnConvert() {
  if (Converting) {
    AskAbort();
    return;
  }
  // A click that reaches here while an aborted batch is ending must not start a second batch
  // inside the first one.
  if (BatchOnStack) return;
  BatchOnStack = true;
  ConvertBatch(MainBatchUi, MainFileSystem);
  BatchOnStack = false;
  if (QuitPending) PostQuitMessage(0);
}

void OnCommand(int id) {
  switch (id) {
    case IDC_BROWSE_SOURCE:
      OnBrowseSource();
      break;
    case IDC_BROWSE_DEST:
      OnBrowseDest();
      break;
    case IDC_CONVERT:
      OnConvert();
      break;
    default:
      break;
  }
}

// The point is read as two unsigned 16-bit values, as the mouse messages carry it.
bool IsOverWebLink(LPARAM lParam) {
  const POINT point{static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(lParam))};
  return Controls.webLink != nullptr &&
         ChildWindowFromPoint(Controls.main, point) == Controls.webLink;
}

void OnMouseMove(LPARAM lParam) {
  SetCursor(LoadCursorA(nullptr, IsOverWebLink(lParam) ? IDC_HAND : IDC_ARROW));
}

void OnLeftButtonUp(LPARAM lParam) {
  if (IsOverWebLink(lParam)) ShellExecuteA(Controls.main, "Open", kWebAddress, "", "", SW_SHOW);
}

// A new theme can change the caption height; the window keeps its size for the new one. The
// window also comes to the top and is activated, as no Z-order flag is given.
void OnThemeChanged() {
  SetWindowPos(Controls.main, nullptr, 0, 0, kWindowWidth,
               kWindowHeight + GetSystemMetrics(SM_CYCAPTION), SWP_NOMOVE);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
    case WM_DESTROY:
      OnClose();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam));
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(lParam);
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp(lParam);
      return 0;
    case WM_THEMECHANGED:
      OnThemeChanged();
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
