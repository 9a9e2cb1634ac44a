// Pre-checks of the Convert button and the two folder dialogs.
#include "tests/e2e/scenarios.h"

namespace {

constexpr int kBrowseTitleId = 14146;

void CheckUnchanged(Report& report, const Controls& ui, const ControlState& before,
                    const std::string& what) {
  const ControlState after = StateOf(ui);
  report.Check(after == before, what + ": no control changed",
               "before " + before.Describe() + ", after " + after.Describe());
}

// Opens the dialog with `button`, checks where it sits, its title and the folder it shows
// preselected, and leaves it open.
HWND OpenDialog(Report& report, Program& program, HWND button, const std::wstring& title,
                const std::wstring& preselected, const std::string& what) {
  Click(button);
  const HWND dialog = program.WaitDialog();
  if (!report.Check(dialog != nullptr, what + ": the folder dialog opens")) return nullptr;
  report.Equal(ClassOf(dialog), L"#32770", what + ": the dialog is a classic dialog");
  RECT rect{};
  GetWindowRect(dialog, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  report.Check(rect.left == (GetSystemMetrics(SM_CXSCREEN) - width) / 2 &&
                   rect.top == (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
               what + ": the dialog is centred on the screen",
               "at " + std::to_string(rect.left) + ", " + std::to_string(rect.top) + " for " +
                   std::to_string(width) + " x " + std::to_string(height));
  report.Equal(TextOf(GetDlgItem(dialog, kBrowseTitleId)), title, what + ": the dialog's title");
  if (!preselected.empty()) {
    const HWND status = GetDlgItem(dialog, 14147);
    WaitFor([&] { return TextOf(status) == preselected; }, 3000);
    report.Equal(TextOf(status), preselected,
                 what +
                     ": the destination field's folder is preselected, its path on the "
                     "status line");
  }
  return dialog;
}

bool Choose(Report& report, Program& program, HWND dialog, const std::wstring& folder,
            const std::string& what) {
  if (!dialog) return false;
  const HWND status = GetDlgItem(dialog, 14147);
  SetBrowseSelection(program.Process(), dialog, folder);
  const bool selected = WaitFor([&] { return TextOf(status) == folder; }, 5000);
  report.Check(selected, what + ": the status line follows the selection to " + Narrow(folder),
               "reads " + Narrow(Quote(TextOf(status))));
  const bool closed = AnswerDialog(dialog, selected ? IDOK : IDCANCEL);
  return program.Drain() && closed && selected;
}

bool Cancel(Program& program, HWND dialog) {
  return dialog && AnswerDialog(dialog, IDCANCEL) && program.Drain();
}

// Item text of a tree view in another process.
std::wstring TreeItemText(HANDLE process, HWND tree, HTREEITEM item) {
  constexpr size_t kChars = 260;
  RemoteMemory memory(process, sizeof(TVITEMW) + kChars * sizeof(wchar_t));
  TVITEMW record{};
  record.mask = TVIF_TEXT;
  record.hItem = item;
  record.pszText = static_cast<wchar_t*>(memory.At(sizeof record));
  record.cchTextMax = kChars;
  memory.Write(0, &record, sizeof record);
  DWORD_PTR ok = 0;
  SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(memory.At(0)), SMTO_NORMAL,
                      kSendMs, &ok);
  wchar_t text[kChars] = {};
  memory.Read(sizeof record, text, sizeof text - sizeof(wchar_t));
  return text;
}

HTREEITEM TreeNext(HWND tree, UINT relation, HTREEITEM item) {
  DWORD_PTR next = 0;
  SendMessageTimeoutW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item), SMTO_NORMAL,
                      kSendMs, &next);
  return reinterpret_cast<HTREEITEM>(next);
}

// Selects the desktop's computer item, which has no file-system path, and returns the status
// line then; "<not found>" when the tree shows no such item.
std::wstring StatusForVirtualItem(Program& program, HWND dialog) {
  const HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
  const HTREEITEM root = TreeNext(tree, TVGN_ROOT, nullptr);
  for (HTREEITEM item = TreeNext(tree, TVGN_CHILD, root); item;
       item = TreeNext(tree, TVGN_NEXT, item)) {
    const std::wstring text = TreeItemText(program.Process(), tree, item);
    if (text == L"My Computer" || text == L"Computer" || text == L"This PC") {
      DWORD_PTR done = 0;
      SendMessageTimeoutW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item),
                          SMTO_NORMAL, kSendMs, &done);
      const HWND status = GetDlgItem(dialog, 14147);
      WaitFor([&] { return TextOf(status).empty(); }, 3000);
      return TextOf(status);
    }
  }
  return L"<not found>";
}

}  // namespace

void PrecheckScenario(Context& context) {
  Report& report = context.report;
  const std::wstring some = context.Folder(L"pre\\some");
  const std::wstring big = context.Folder(L"pre\\big");
  MakeFolder(context.Folder(L"pre"));
  MakeSounds(some, {L"one.med", L"two.med"}, kMedTag, 4);
  // Together larger than the tiny volume the destination lies on.
  MakeSounds(big, {L"huge1.med", L"huge2.med"}, kMedTag, 600);
  const std::wstring tiny =
      context.options.smallDisk.empty() ? std::wstring() : context.options.smallDisk + L"out";
  if (!tiny.empty()) MakeFolder(tiny);
  ListTree(context.options.fixtures);

  Program program(report);
  if (!program.Start(context.options)) return;
  const Controls& ui = program.Ui();

  ControlState before = StateOf(ui);
  Click(ui.convert);
  program.ExpectBox(L"Error", L"Please select files first", IDOK, "empty source field");
  program.Drain();
  CheckUnchanged(report, ui, before, "empty source field");

  program.Browse(ui.sourceBrowse, some);
  program.Browse(ui.destBrowse, L"");
  report.Equal(TextOf(ui.sourceEdit), some, "source field set");
  report.Equal(TextOf(ui.destEdit), L"", "destination field empty");
  before = StateOf(ui);
  Click(ui.convert);
  program.ExpectBox(L"Error", L"Please select destination path", IDOK, "only the source set");
  program.Drain();
  CheckUnchanged(report, ui, before, "only the source set");
  report.Check(Names(some, L"*.wav").empty() && TempFiles(some).empty(),
               "only the source set: nothing converted");

  if (tiny.empty()) {
    report.Skip("no tiny volume could be mounted: the free-space check is not run");
  } else {
    program.Browse(ui.sourceBrowse, big);
    program.Browse(ui.destBrowse, tiny);
    report.Equal(TextOf(ui.destEdit), tiny, "destination on the tiny volume");
    before = StateOf(ui);
    Click(ui.convert);
    program.ExpectBox(L"Error", L"Not enough free space on destination path", IDOK,
                      "destination too small");
    program.Drain();
    CheckUnchanged(report, ui, before, "destination too small");
    report.Check(Names(tiny, L"*").empty(), "destination too small: nothing written there");
  }

  PostMessageW(program.Main(), WM_CLOSE, 0, 0);
  report.Equal(program.WaitExit(), 0, "the program ends with exit code 0");
}

void PickerScenario(Context& context) {
  Report& report = context.report;
  const std::wstring root = context.Folder(L"pick");
  const std::wstring mixed = root + L"\\mixed";
  const std::wstring medOnly = root + L"\\medonly";
  const std::wstring neither = root + L"\\neither";
  const std::wstring out = root + L"\\out";
  MakeFolder(root);
  MakeSounds(mixed, {L"x1.med", L"x2.med", L"w1.wav", L"w2.wav"}, kMedTag, 2);
  MakeSounds(medOnly, {L"m1.med", L"m2.med", L"m3.med"}, kMedTag, 2);
  MakeSounds(neither, {L"notes.txt"}, kMedTag, 1);
  MakeFolder(out);
  ListTree(context.options.fixtures);

  Program program(report);
  if (!program.Start(context.options)) return;
  const Controls& ui = program.Ui();
  const std::wstring sourceTitle = L"Choose folder with med-files:";

  // The destination dialog sets the destination field only.
  HWND dialog = OpenDialog(report, program, ui.destBrowse, L"", L"", "destination dialog");
  Choose(report, program, dialog, out, "destination dialog");
  report.Equal(TextOf(ui.destEdit), out, "destination OK fills the destination field");
  report.Equal(TextOf(ui.sourceEdit), L"", "destination OK leaves the source field");

  // The source dialog opens on the destination field's folder and fills both fields.
  dialog = OpenDialog(report, program, ui.sourceBrowse, sourceTitle, out, "source dialog");
  Choose(report, program, dialog, mixed, "source dialog");
  report.Equal(TextOf(ui.sourceEdit), mixed, "source OK fills the source field");
  report.Equal(TextOf(ui.destEdit), mixed, "source OK fills the destination field too");
  const std::vector<std::wstring> wavs = Names(mixed, L"*.wav");
  report.Check(ListItems(ui.fileList) == wavs, "a folder with both kinds lists its WAV files");

  dialog = OpenDialog(report, program, ui.destBrowse, L"", mixed, "destination dialog again");
  Choose(report, program, dialog, medOnly, "destination dialog again");
  report.Equal(TextOf(ui.destEdit), medOnly, "destination OK changes the destination field");
  report.Equal(TextOf(ui.sourceEdit), mixed, "destination OK keeps the source field");
  report.Check(ListItems(ui.fileList) == wavs, "destination OK keeps the list");

  // Cancelling the source dialog empties both fields and scans the destination's folder.
  dialog = OpenDialog(report, program, ui.sourceBrowse, sourceTitle, medOnly,
                      "source dialog on the destination's folder");
  Cancel(program, dialog);
  report.Equal(TextOf(ui.sourceEdit), L"", "source Cancel empties the source field");
  report.Equal(TextOf(ui.destEdit), L"", "source Cancel empties the destination field");
  report.Check(ListItems(ui.fileList) == Names(medOnly, L"*.med"),
               "source Cancel lists the MED files of the destination field's folder");

  // A folder with neither kind leaves the list as it was.
  dialog = OpenDialog(report, program, ui.sourceBrowse, sourceTitle, L"", "source dialog");
  Choose(report, program, dialog, neither, "source dialog");
  report.Equal(TextOf(ui.sourceEdit), neither, "source OK on a folder without sound files");
  report.Check(ListItems(ui.fileList) == Names(medOnly, L"*.med"),
               "a folder without sound files leaves the list unchanged");

  // A selection without a file-system path shows an empty status line.
  dialog = OpenDialog(report, program, ui.destBrowse, L"", neither, "destination dialog");
  if (dialog) {
    const std::wstring status = StatusForVirtualItem(program, dialog);
    if (status == L"<not found>") {
      report.Skip("the dialog's tree shows no computer item");
    } else {
      report.Equal(status, L"", "a selection without a path leaves the status line empty");
    }
  }
  Cancel(program, dialog);
  report.Equal(TextOf(ui.destEdit), L"", "destination Cancel empties the destination field");
  report.Equal(TextOf(ui.sourceEdit), neither, "destination Cancel keeps the source field");

  PostMessageW(program.Main(), WM_CLOSE, 0, 0);
  report.Equal(program.WaitExit(), 0, "the program ends with exit code 0");
}
