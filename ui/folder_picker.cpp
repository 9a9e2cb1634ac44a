// The folder dialog without the new style and without COM set up, so the classic one shows.
#include "ui/folder_picker.h"

#include <cstring>

#include "convert/scan.h"

namespace {

// Paths the shell hands back fit in MAX_PATH; one byte more as the fields are read.
constexpr int kPathBuffer = 261;

std::wstring Widen(const std::string& text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], length) != length) return {};
  wide.resize(static_cast<size_t>(length - 1));
  return wide;
}

// A selection with no file-system path, such as a virtual desktop item, gives "".
void PathOf(LPCITEMIDLIST items, char (&path)[kPathBuffer]) {
  if (!SHGetPathFromIDListA(items, path)) path[0] = '\0';
}

}  // namespace

std::string PickFolder(HWND owner, const std::string& title, const std::string& initialFolder,
                       FileList* scanInto, FileSystem& fs) {
  std::string result;
  char path[kPathBuffer] = {};
  std::strncpy(path, initialFolder.c_str(), kPathBuffer - 1);
  const LPITEMIDLIST initialItems = PathToItemList(owner, initialFolder);

  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(initialItems);
  const LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (chosen != nullptr) {
    PathOf(chosen, path);
    result = path;
    CoTaskMemFree(chosen);
  }
  CoTaskMemFree(initialItems);

  // After a cancel the buffer still holds the initial folder, and that is what gets scanned.
  if (scanInto != nullptr) ScanFolder(path, *scanInto, fs);
  return result;
}

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) {
  switch (message) {
    case BFFM_INITIALIZED: {
      RECT rect{};
      GetWindowRect(dialog, &rect);
      const int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
      const int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
      SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      // FALSE: lParam is an item list, not a path text. Sent even when it is null.
      SendMessageA(dialog, BFFM_SETSELECTIONA, FALSE, data);
      break;
    }
    case BFFM_SELCHANGED: {
      char status[kPathBuffer] = {};
      PathOf(reinterpret_cast<LPCITEMIDLIST>(lParam), status);
      SendMessageA(dialog, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(status));
      break;
    }
    default:
      break;
  }
  return 0;
}

LPITEMIDLIST PathToItemList(HWND owner, const std::string& path) {
  std::wstring wide = Widen(path);
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop)) || desktop == nullptr) return nullptr;
  ULONG eaten = 0;
  LPITEMIDLIST items = nullptr;
  ULONG attributes = 0;
  const HRESULT parsed =
      desktop->ParseDisplayName(owner, nullptr, &wide[0], &eaten, &items, &attributes);
  desktop->Release();
  if (FAILED(parsed)) {
    CoTaskMemFree(items);
    return nullptr;
  }
  return items;
}
