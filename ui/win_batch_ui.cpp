// List-box messages for the file list; window texts, message boxes, bars and the pump for
// the batch.
#include "ui/win_batch_ui.h"

#include <windows.h>
// commctrl.h needs the types windows.h declares.
#include <commctrl.h>

#include <vector>

#include "ui/main_window.h"

WinFileList MainFileList;
WinBatchUi MainBatchUi;
// Its constructor only asks Windows for the code page's lead bytes, which cannot throw.
// NOLINTNEXTLINE(cert-err58-cpp)
WinFileSystem MainFileSystem;

int WinFileList::Count() const {
  return static_cast<int>(SendMessageA(Controls.fileList, LB_GETCOUNT, 0, 0));
}

std::string WinFileList::Item(int index) const {
  const LRESULT length = SendMessageA(Controls.fileList, LB_GETTEXTLEN, index, 0);
  if (length <= 0) return {};
  std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
  const LRESULT copied =
      SendMessageA(Controls.fileList, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  if (copied <= 0) return {};
  return std::string(text.data(), static_cast<size_t>(copied < length ? copied : length));
}

void WinFileList::Select(int index) {
  SendMessageA(Controls.fileList, LB_SETCURSEL, index, 0);
}

void WinFileList::Clear() {
  SendMessageA(Controls.fileList, LB_RESETCONTENT, 0, 0);
}

void WinFileList::Add(const std::string& name) {
  SendMessageA(Controls.fileList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
}

std::string WinBatchUi::SourceText() {
  return PathFieldText(Controls.sourceEdit, 260);
}

std::string WinBatchUi::DestText() {
  return PathFieldText(Controls.destEdit, 260);
}

FileList& WinBatchUi::List() {
  return MainFileList;
}

void WinBatchUi::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) {
  const UINT type = icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION;
  MessageBoxA(Controls.main, text.c_str(), title.c_str(), type);
}

void WinBatchUi::SetCurrentBar(int value) {
  SendMessageA(Controls.currentBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void WinBatchUi::SetTotalBar(int value) {
  SendMessageA(Controls.totalBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void WinBatchUi::EnableBrowse(bool enable) {
  EnableWindow(Controls.sourceBrowse, enable);
  EnableWindow(Controls.destBrowse, enable);
}

void WinBatchUi::SetConvertCaption(const std::string& caption) {
  SetWindowTextA(Controls.convertButton, caption.c_str());
}

// Without a tooltip window both messages go to a null window and do nothing.
void WinBatchUi::SetConvertTip(const std::string& tip) {
  RemoveTooltip(Controls.tooltip, Controls.main, Controls.convertButton);
  AddTooltip(Controls.tooltip, Controls.main, Controls.convertButton, tip.c_str());
}

// Only the main window's and its children's messages: a quit message stays queued for the
// main loop.
void WinBatchUi::Pump() {
  while (PeekMessageA(&SharedMessage, Controls.main, 0, 0, PM_REMOVE)) {
    DispatchMessageA(&SharedMessage);
  }
}
