// Batches: conversion both ways, failures that each show one box, and aborts.
#include <algorithm>
#include <functional>
#include <map>

#include "tests/e2e/scenarios.h"

namespace {

const std::wstring kAbortQuestion = L"Abort converting?";

std::uint64_t SizeOf(const std::wstring& path) {
  Bytes bytes;
  ReadBytes(path, bytes);
  return bytes.size();
}

// While a batch waits on a question, the window must show that it is busy.
void CheckBusy(Report& report, const Program& program, const std::string& what) {
  const Controls& ui = program.Ui();
  report.Equal(TextOf(ui.convert), L"Cancel", what + ": the button reads Cancel");
  report.Equal(TipOf(program, ui.convert), L"Abort converting", what + ": its tooltip");
  report.Check(!IsWindowEnabled(ui.sourceBrowse) && !IsWindowEnabled(ui.destBrowse),
               what + ": both \"...\" buttons are disabled");
  report.Equal(BarPosition(ui.currentBar), 0, what + ": the current-file bar stays at 0");
}

void CheckIdle(Report& report, const Program& program, const std::string& what) {
  const Controls& ui = program.Ui();
  report.Equal(TextOf(ui.convert), L"Convert", what + ": the button reads Convert again");
  report.Equal(TipOf(program, ui.convert), L"Start converting", what + ": its tooltip");
  report.Equal(static_cast<long long>(program.Tools().size()), 3,
               what + ": still one tooltip per button");
  report.Check(IsWindowEnabled(ui.sourceBrowse) && IsWindowEnabled(ui.destBrowse),
               what + ": both \"...\" buttons are enabled");
  report.Equal(BarPosition(ui.currentBar), 0, what + ": the current-file bar is at 0");
  report.Equal(BarPosition(ui.totalBar), 0, what + ": the total bar is at 0");
}

// Checks a stopped batch's folder: files up to `last` converted, the rest not started.
void CheckStoppedAt(Report& report, const std::wstring& source, const std::wstring& dest,
                    const std::vector<std::wstring>& names, int last, const std::string& what) {
  const std::vector<std::wstring> done(names.begin(), names.begin() + last + 1);
  CheckConverted(report, source, dest, done, what);
  bool untouched = true;
  for (size_t i = last + 1; i < names.size(); ++i) {
    untouched = untouched && !Exists(dest + L"\\" + OutputName(names[i]));
  }
  report.Check(untouched, what + ": the files after the stop are untouched");
  report.Check(TempFiles(dest).empty(), what + ": no temporary file is left");
}

// Answers the abort question that `request` (or what was posted before, when it is empty)
// brings up and returns the list selection it was asked at, or -1 when no such question came.
int AnswerAbort(Report& report, Program& program, const std::function<void()>& request, int answer,
                const std::string& what) {
  const std::vector<HWND> open = program.Dialogs();
  if (request) request();
  const Box box = program.NextBox(kWaitMs, open);
  const bool asked =
      report.Check(box.text == kAbortQuestion && box.title == L"Question",
                   what + ": the abort question is asked",
                   "box " + Narrow(Quote(box.title)) + " " + Narrow(Quote(box.text)));
  if (!asked) {
    if (box.hwnd) AnswerDialog(box.hwnd, IDOK);
    return -1;
  }
  const int selection = ListSelection(program.Ui().fileList);
  CheckBusy(report, program, what);
  AnswerDialog(box.hwnd, answer);
  return selection;
}

// One batch over the six files with the fourth held open by the driver: an abort asked for
// after the first file and refused, then one asked for and confirmed while the fourth file's
// error box holds the batch. Both moments are fixed by the program's own message handling,
// not by timing.
void NoThenYes(Report& report, Program& program, const std::wstring& source,
               const std::wstring& out, const std::vector<std::wstring>& names,
               const std::function<void()>& request, const std::string& what) {
  const Controls& ui = program.Ui();
  const ExclusiveLock held(source + L"\\" + names[3]);
  report.Check(held.Held(), what + ": the driver holds the fourth file");
  program.PostAtOnce({[&] { Click(ui.convert); }, request});
  const int first = AnswerAbort(report, program, {}, IDNO, what + ", after file 1");
  report.Equal(first, 0, what + ": the first question comes after file 1");

  const Box error = program.NextBox();
  report.Equal(error.text, L"Error open file " + Quote(source + L"\\" + names[3]),
               what + ": after No the batch goes on to the held fourth file");
  if (!error.hwnd || error.text == L"Done") return;
  CheckStoppedAt(report, source, out, names, 2, what + ", No");
  const int second = AnswerAbort(report, program, request, IDYES, what + ", at file 4");
  report.Equal(second, 3, what + ": the second question comes at file 4");
  AnswerDialog(error.hwnd, IDOK);

  const Box done = program.NextBox();
  report.Equal(done.text, L"Done", what + ", Yes: the batch ends with Done");
  report.Equal(done.title, L"Information", what + ", Yes: the Done box's title");
  CheckStoppedAt(report, source, out, names, 2, what + ", Yes");
  report.Check(!Exists(out + L"\\" + OutputName(names[3])),
               what + ", Yes: the held file has no output");
  if (done.hwnd) AnswerDialog(done.hwnd, IDOK);
  report.Check(program.WaitIdle(), what + ", Yes: the window returns to idle");
  CheckIdle(report, program, what + ", Yes");
}

}  // namespace

void ConvertScenario(Context& context) {
  Report& report = context.report;
  const std::wstring root = context.Folder(L"conv");
  const std::wstring meds = root + L"\\med";
  const std::wstring wavs = root + L"\\wav";
  const std::wstring back = root + L"\\back";
  MakeFolder(root);
  MakeFolder(meds);
  // Uneven sizes, so each file moves the total bar by its own share.
  const std::vector<std::pair<std::wstring, std::uint32_t>> files = {
      {L"bass.med", 30}, {L"Drum.MED", 50}, {L"lead.take2.med", 20}, {L"pad.med", 7}};
  std::uint32_t seed = 11;
  for (const auto& [name, blocks] : files) {
    WriteBytes(meds + L"\\" + name, MakeSound(kMedTag, blocks, ++seed));
  }
  MakeFolder(wavs);
  MakeFolder(back);
  ListTree(context.options.fixtures);
  std::map<std::wstring, Bytes> inputs;
  for (const auto& file : files) ReadBytes(meds + L"\\" + file.first, inputs[file.first]);

  Program program(report);
  if (!program.Start(context.options)) return;
  const Controls& ui = program.Ui();
  program.Browse(ui.sourceBrowse, meds);
  program.Browse(ui.destBrowse, wavs);
  const std::vector<std::wstring> names = ListItems(ui.fileList);
  report.Check(names == Names(meds, L"*.med") && names.size() == files.size(),
               "MED to WAV: the list holds the folder's MED files");
  const int count = static_cast<int>(names.size());
  std::vector<std::uint64_t> reached;  // bytes converted after each file
  for (const std::wstring& name : names) {
    reached.push_back((reached.empty() ? 0 : reached.back()) + SizeOf(meds + L"\\" + name));
  }

  // A Cancel click queued behind Convert is handled in the pump after the first file; its
  // question holds the batch there, so the window can be read in the middle of the batch.
  program.PostAtOnce({[&] { Click(ui.convert); }, [&] { Click(ui.convert); }});
  Box box = program.NextBox();
  if (report.Check(box.text == kAbortQuestion, "MED to WAV: a Cancel click asks to abort",
                   "box " + Narrow(Quote(box.text)))) {
    const std::string what = "MED to WAV, after file 1";
    report.Equal(ListSelection(ui.fileList), 0, what + ": the first file is selected");
    CheckBusy(report, program, what);
    report.Equal(BarPosition(ui.totalBar),
                 static_cast<long long>(reached[0] * 100 / reached.back()),
                 what + ": the total bar shows the first file's share");
    CheckStoppedAt(report, meds, wavs, names, 0, what);
    AnswerDialog(box.hwnd, IDNO);
    box = program.NextBox();
  }
  report.Equal(box.text, L"Done", "MED to WAV: the batch ends with Done");
  report.Equal(box.title, L"Information", "MED to WAV: the Done box's title");
  report.Equal(ListSelection(ui.fileList), count - 1, "MED to WAV: the last file is selected");
  report.Equal(BarPosition(ui.totalBar), 100, "MED to WAV: the total bar is full at Done");
  if (box.hwnd) AnswerDialog(box.hwnd, IDOK);
  report.Check(program.WaitIdle(), "MED to WAV: the window returns to idle");
  CheckIdle(report, program, "MED to WAV, after Done");
  CheckConverted(report, meds, wavs, names, "MED to WAV");
  report.Check(TempFiles(wavs).empty(), "MED to WAV: no temporary file is left");
  bool inputsKept = true;
  for (const auto& [name, bytes] : inputs) {
    Bytes now;
    inputsKept = inputsKept && ReadBytes(meds + L"\\" + name, now) && now == bytes;
  }
  report.Check(inputsKept, "MED to WAV: the inputs are unchanged");

  // And back: the WAV files turn into MED files equal to the originals.
  program.Browse(ui.sourceBrowse, wavs);
  program.Browse(ui.destBrowse, back);
  report.Check(ListItems(ui.fileList) == Names(wavs, L"*.wav"),
               "WAV to MED: the list holds the folder's WAV files");
  Click(ui.convert);
  program.ExpectBox(L"Information", L"Done", IDOK, "WAV to MED");
  program.WaitIdle();
  CheckIdle(report, program, "WAV to MED, after Done");
  for (const auto& [name, bytes] : inputs) {
    Bytes output;
    const std::wstring roundTrip = OutputName(OutputName(name));
    report.Check(ReadBytes(back + L"\\" + roundTrip, output) && output == bytes,
                 "WAV to MED: " + Narrow(roundTrip) + " equals the original " + Narrow(name));
  }
  report.Check(TempFiles(back).empty(), "WAV to MED: no temporary file is left");

  PostMessageW(program.Main(), WM_CLOSE, 0, 0);
  report.Equal(program.WaitExit(), 0, "the program ends with exit code 0");
}

void FailureScenario(Context& context) {
  Report& report = context.report;
  const std::wstring root = context.Folder(L"fail");
  const std::wstring source = root + L"\\src";
  const std::wstring out = root + L"\\out";
  MakeFolder(root);
  MakeFolder(source);
  MakeFolder(out);
  WriteBytes(source + L"\\a-locked.med", MakeSound(kMedTag, 4, 1));
  // Neither "RIFF" nor "WAVE" nor a known tag where they belong.
  WriteBytes(source + L"\\b-refused.med", Bytes(300, 'x'));
  WriteBytes(source + L"\\c-dest-locked.med", MakeSound(kMedTag, 4, 3));
  WriteBytes(source + L"\\d-fine.med", MakeSound(kMedTag, 4, 4));
  const Bytes earlier = MakeSound(kWavTag, 2, 99);
  WriteBytes(out + L"\\c-dest-locked.wav", earlier);
  ListTree(context.options.fixtures);

  Program program(report);
  if (!program.Start(context.options)) return;
  const Controls& ui = program.Ui();
  program.Browse(ui.sourceBrowse, source);
  program.Browse(ui.destBrowse, out);
  const std::vector<std::wstring> order = {L"a-locked.med", L"b-refused.med", L"c-dest-locked.med",
                                           L"d-fine.med"};
  report.Check(ListItems(ui.fileList) == order, "failures: the list is in name order");

  std::vector<Box> boxes;
  {
    const ExclusiveLock sourceLock(source + L"\\a-locked.med");
    const ExclusiveLock destLock(out + L"\\c-dest-locked.wav");
    report.Check(sourceLock.Held() && destLock.Held(), "failures: the driver holds both files");
    Click(ui.convert);
    for (int i = 0; i < 8; ++i) {
      const Box box = program.NextBox();
      if (!box.hwnd) break;
      boxes.push_back(box);
      // Each box holds the batch at its file: the list shows which one.
      const std::string what = "failures: box " + std::to_string(i + 1);
      report.Equal(ListSelection(ui.fileList), std::min(i, 3),
                   what + ": the list selects its file");
      CheckBusy(report, program, what);
      AnswerDialog(box.hwnd, IDOK);
      if (box.text == L"Done") break;
    }
  }
  const std::vector<std::pair<std::wstring, std::wstring>> expected = {
      {L"Error", L"Error open file " + Quote(source + L"\\a-locked.med")},
      {L"Error", L"Not supported MED file"},
      {L"Error", L"Error create file " + Quote(out + L"\\c-dest-locked.wav")},
      {L"Information", L"Done"}};
  report.Equal(static_cast<long long>(boxes.size()), static_cast<long long>(expected.size()),
               "failures: one box per failed file, then Done");
  for (size_t i = 0; i < expected.size() && i < boxes.size(); ++i) {
    const std::string what = "failures: box " + std::to_string(i + 1);
    report.Equal(boxes[i].text, expected[i].second, what + " text");
    report.Equal(boxes[i].title, expected[i].first, what + " title");
  }
  program.WaitIdle();
  report.Check(!Exists(out + L"\\a-locked.wav"), "a file that cannot be opened gets no output");
  report.Check(!Exists(out + L"\\b-refused.wav"), "a refused file gets no output");
  Bytes kept;
  report.Check(ReadBytes(out + L"\\c-dest-locked.wav", kept) && kept == earlier,
               "a locked destination keeps its content");
  CheckConverted(report, source, out, {L"d-fine.med"}, "failures: the batch goes on");
  report.Check(TempFiles(out).empty(), "failures: no temporary file is left");

  // A volume that fills up in the middle of the batch.
  if (context.options.fillDisk.empty()) {
    report.Skip("no tiny volume could be mounted: the full-disk case is not run");
  } else {
    const std::wstring fillSource = root + L"\\fillsrc";
    const std::wstring fillOut = context.options.fillDisk + L"out";
    MakeFolder(fillSource);
    // 2, 4 and 1 clusters of 4 KiB: 5 clusters by the total size, 7 in fact.
    WriteBytes(fillSource + L"\\1-first.med", MakeSound(kMedTag, 31, 21));
    WriteBytes(fillSource + L"\\2-second.med", MakeSound(kMedTag, 48, 22));
    WriteBytes(fillSource + L"\\3-third.med", MakeSound(kMedTag, 1, 23));
    MakeFolder(fillOut);
    const Bytes previous = MakeSound(kWavTag, 2, 24);
    WriteBytes(fillOut + L"\\2-second.wav", previous);
    std::uint64_t free = 0;
    std::uint64_t cluster = 0;
    FreeClusters(context.options.fillDisk, free, cluster);
    if (cluster != 4096 || free < 5) {
      report.Skip("the tiny volume has clusters of " + std::to_string(cluster) + " bytes and " +
                  std::to_string(free) + " free: the full-disk case is not run");
    } else {
      WriteBytes(context.options.fillDisk + L"filler.bin",
                 Bytes(static_cast<size_t>((free - 5) * cluster), 0));
      FreeClusters(context.options.fillDisk, free, cluster);
      report.Equal(static_cast<long long>(free), 5, "full disk: the volume has 5 clusters free");
      ListTree(context.options.fixtures);
      ListTree(context.options.fillDisk);

      program.Browse(ui.sourceBrowse, fillSource);
      program.Browse(ui.destBrowse, fillOut);
      Click(ui.convert);
      program.ExpectBox(L"Error", L"Error write file " + Quote(fillOut + L"\\2-second.wav"), IDOK,
                        "full disk");
      program.ExpectBox(L"Information", L"Done", IDOK, "full disk");
      program.WaitIdle();
      CheckConverted(report, fillSource, fillOut, {L"1-first.med", L"3-third.med"},
                     "full disk: the files before and after");
      report.Check(ReadBytes(fillOut + L"\\2-second.wav", kept) && kept == previous,
                   "full disk: the earlier output of that name is intact");
      report.Check(TempFiles(fillOut).empty(), "full disk: no temporary file is left");
    }
  }

  PostMessageW(program.Main(), WM_CLOSE, 0, 0);
  report.Equal(program.WaitExit(), 0, "the program ends with exit code 0");
}

void AbortScenario(Context& context) {
  Report& report = context.report;
  const std::wstring root = context.Folder(L"abort");
  const std::wstring source = root + L"\\src";
  MakeFolder(root);
  const std::vector<std::wstring> names = MakeSounds(
      source, {L"f1.med", L"f2.med", L"f3.med", L"f4.med", L"f5.med", L"f6.med"}, kMedTag, 256);
  const std::wstring outs[] = {root + L"\\cancel", root + L"\\close", root + L"\\again",
                               root + L"\\quit"};
  for (const std::wstring& out : outs) MakeFolder(out);
  ListTree(context.options.fixtures);

  Program program(report);
  if (!program.Start(context.options)) return;
  const Controls& ui = program.Ui();
  const HWND main = program.Main();
  program.Browse(ui.sourceBrowse, source);
  if (!report.Check(ListItems(ui.fileList) == names && names.size() == 6,
                    "abort: the list holds the six files in name order")) {
    return;
  }

  program.Browse(ui.destBrowse, outs[0]);
  NoThenYes(
      report, program, source, outs[0], names, [&] { Click(ui.convert); }, "Cancel");

  program.Browse(ui.destBrowse, outs[1]);
  NoThenYes(
      report, program, source, outs[1], names, [&] { PostMessageW(main, WM_CLOSE, 0, 0); },
      "close");
  program.Drain();
  report.Check(program.Running() && IsWindowVisible(main),
               "close, Yes: the window stays open after the batch");

  // A Convert click that reaches the ending batch, right behind the confirming Yes, starts
  // no second batch inside it.
  program.Browse(ui.destBrowse, outs[2]);
  program.PostAtOnce({[&] { Click(ui.convert); }, [&] { Click(ui.convert); }});
  Box question = program.NextBox();
  if (report.Check(question.text == kAbortQuestion, "Convert while ending: the question")) {
    program.PostAtOnce(
        {[&] { Click(GetDlgItem(question.hwnd, IDYES)); }, [&] { Click(ui.convert); }});
    WaitFor([&] { return !IsWindowVisible(question.hwnd); });
  }
  std::vector<std::wstring> texts;
  for (int i = 0; i < 6; ++i) {
    const Box box = program.NextBox();
    if (!box.hwnd) break;
    texts.push_back(box.text);
    if (i == 0) CheckStoppedAt(report, source, outs[2], names, 0, "Convert while ending, at Done");
    AnswerDialog(box.hwnd, box.text == kAbortQuestion ? IDYES : IDOK);
    // Once idle with nothing queued, a second batch would have shown itself by now.
    program.WaitIdle();
    program.Drain();
    if (program.Dialogs().empty()) break;
  }
  report.Check(texts == std::vector<std::wstring>{L"Done"},
               "Convert while ending: one Done and no second batch",
               std::to_string(texts.size()) + " boxes");
  CheckStoppedAt(report, source, outs[2], names, 0, "Convert while ending, at idle");
  CheckIdle(report, program, "Convert while ending");
  Click(ui.convert);
  program.ExpectBox(L"Information", L"Done", IDOK, "a Convert click once idle");
  program.WaitIdle();
  CheckConverted(report, source, outs[2], names, "a Convert click once idle runs a whole batch");

  // Closing while idle quits at once, with no question.
  PostMessageW(main, WM_CLOSE, 0, 0);
  WaitFor([&] { return !program.Running() || !program.Dialogs().empty(); });
  report.Check(program.Dialogs().empty(), "closing while idle asks nothing");
  report.Equal(program.WaitExit(), 0, "closing while idle ends the process with exit code 0");

  // A close request right behind the confirming Yes waits for the batch to end, then quits.
  Program second(report);
  if (!second.Start(context.options)) return;
  const Controls& ui2 = second.Ui();
  second.Browse(ui2.sourceBrowse, source);
  second.Browse(ui2.destBrowse, outs[3]);
  second.PostAtOnce({[&] { Click(ui2.convert); }, [&] { Click(ui2.convert); }});
  question = second.NextBox();
  if (report.Check(question.text == kAbortQuestion, "close while ending: the question")) {
    second.PostAtOnce({[&] { Click(GetDlgItem(question.hwnd, IDYES)); },
                       [&] { PostMessageW(second.Main(), WM_CLOSE, 0, 0); }});
    WaitFor([&] { return !IsWindowVisible(question.hwnd); });
  }
  const Box done = second.NextBox();
  report.Equal(done.text, L"Done", "close while ending: the batch still ends with Done");
  report.Check(second.Running(), "close while ending: the program waits for the batch to end");
  CheckStoppedAt(report, source, outs[3], names, 0, "close while ending");
  if (done.hwnd) AnswerDialog(done.hwnd, IDOK);
  report.Equal(second.WaitExit(), 0,
               "close while ending: the program quits with exit code 0 once the batch ended");
}
