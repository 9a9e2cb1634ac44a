// The scan and the batch on the in-memory disk: what the window shows, refusals, aborts, failures.
#include "convert/batch.h"

#include <gtest/gtest.h>

#include <set>

#include "convert/scan.h"
#include "fakes/fakes.h"

namespace {

using Lines = std::vector<std::string>;
using Files = std::map<std::string, Bytes>;

// One batch from D:\snd to E:\out; Run() checks what every batch must leave behind.
struct Job {
  FakeFileSystem fs;
  RecordingBatchUi ui;

  Bytes Source(const std::string& name, const Bytes& data) {
    ui.items.push_back(name);
    return fs.entries["D:\\snd\\" + name] = data;
  }
  BatchSummary Run(FileSteps* steps = nullptr) {
    Converting = false;
    const BatchSummary summary = ConvertBatch(ui, fs, steps);
    EXPECT_FALSE(Converting);
    EXPECT_TRUE(fs.open.empty());
    EXPECT_EQ(summary.converted + summary.failed + summary.skipped, summary.listed);
    if (summary.started && steps == nullptr) {
      EXPECT_EQ(ui.boxes.size(), summary.failed + 1u);  // and Done
    }
    return summary;
  }
};

// 100 + 200 bytes over 128-byte clusters need 2 clusters, the remainder truncated away.
TEST(Batch, ChecksFirstThenConvertsBothWaysByteForByteWithTheBarsInStep) {
  struct Case {
    const char* what;
    std::string source, dest;
    std::uint64_t freeClusters;
    std::string box;  // the refusal; empty when both files convert
  } const cases[] = {
      {"no source", "", "E:\\out", 9, "Please select files first"},
      {"no destination", "D:\\snd", "", 9, "Please select destination path"},
      {"neither", "", "", 9, "Please select files first"},
      {"one cluster free", "D:\\snd", "E:\\out", 1, "Not enough free space on destination path"},
      {"two free, no second backslash", "D:\\snd\\", "E:\\out\\", 2, ""},
      {"no answer for the volume: no check", "D:\\snd", "F:\\out", 0, ""}};
  const Lines converted({"browse off", "caption Cancel", "tip Abort converting", "current 0",
                         "select 0", "total 33", "pump", "current 0", "select 1", "total 100",
                         "pump", "box Information: Done", "current 0", "total 0", "browse on",
                         "caption Convert", "tip Start converting"});
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    Job job;
    const Bytes a = job.Source("a.med", SoundFile(100, 122, 1));
    const Bytes c = job.Source("c.Wav", SoundFile(200, 1, 3));  // any other tag becomes 122
    job.ui.sourceText = test.source;
    job.ui.destText = test.dest;
    job.fs.space = {1, 128, test.freeClusters, 9};
    EXPECT_EQ(job.Run().started, test.box.empty());
    EXPECT_EQ(job.ui.events, test.box.empty() ? converted : Lines{"box Error: " + test.box});
    Files files = {{"D:\\snd\\a.med", a}, {"D:\\snd\\c.Wav", c}};
    const std::string out = test.dest.substr(0, 6);
    if (test.box.empty())
      files.insert({{out + "\\a.wav", WithTag(a, 17)}, {out + "\\c.med", WithTag(c, 122)}});
    EXPECT_EQ(job.fs.entries, files);
  }
}

// The checks on each source; a failing operation or old output is swept below.
TEST(Batch, AFileFailingItsChecksGetsOneBoxAndTheBatchGoesOn) {
  const std::string quoted = "\"D:\\snd\\x.med\"", read = "Error read file " + quoted;
  const std::string large = "File too large " + quoted, refused = "Not supported MED file";
  const Bytes x = SoundFile(64, 122), big = SoundFile((1u << 20) + 5, 122);  // many pieces
  struct Case {
    const char* what;
    Bytes data;              // x.med's bytes
    std::uint64_t reported;  // the size searches and Size give; 0: its own
    int cutRead;             // the read cutting x.med: 1, 2 the header's; 3 on the copy; 0 none
    std::size_t cutTo;       // and the size it is cut to, as a program writing it would
    std::string box;
  } const cases[] = {
      {"21 bytes: no whole tag", Bytes(x.begin(), x.begin() + 21), 0, 0, 0, refused},
      {"a JUNK chunk first: byte 20 is not its tag", Poke(x, 12, 0x4B4E554A, 4), 0, 0, 0, refused},
      {"2 GiB", x, 0x80000000u, 0, 0, large},
      {"over 4 GiB", x, 0x100000040u, 0, 0, large},
      // Accepted, then found short: the copy needs no memory the size of the file.
      {"2 GiB less a byte", x, 0x7FFFFFFF, 0, 0, read},
      {"cut in a later piece", big, 0, 5, (1u << 19) + 3, read},
      {"grew after its size was taken", x, 50, 0, 0, read},
      {"cut to 21 in the header", x, 0, 2, 21, read},
      {"cut to 22 in the header", x, 0, 2, 22, read},
      {"cut by a byte in the copy", x, 0, 3, 63, read}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    Job job;
    job.Source("x.med", test.data);
    job.Source("y.med", SoundFile(40, 122));
    if (test.reported != 0) job.fs.sizes["D:\\snd\\x.med"] = test.reported;
    job.fs.onRead = [nth = test.cutRead, size = test.cutTo, reads = 0](Bytes& file) mutable {
      if (++reads == nth) file.resize(size);
    };
    EXPECT_EQ(job.Run().converted, 1);
    EXPECT_EQ(job.ui.boxes, (Lines{"Error: " + test.box, "Information: Done"}));
    EXPECT_EQ(job.fs.entries.size(), 3u);  // the sources and y.wav
    EXPECT_EQ(std::count(job.ui.events.begin(), job.ui.events.end(), "pump"), 1);
  }
}

// Confirmed in the pump after file 3 of 10, or while the first error box shows: the batch
// stops at the next file that opens, before writing anything for it.
TEST(Batch, AnAbortStopsBeforeTheNextFileIsWritten) {
  for (const bool inBox : {false, true}) {
    SCOPED_TRACE(inBox ? "in a box" : "in the pump");
    Job job;
    if (inBox) job.ui.items = {"gone.med", "lost.med"};  // the second is still reported
    for (int i = 1; i <= 10; ++i) job.Source(std::to_string(i) + ".med", SoundFile(40, 122));
    int pumps = 0;
    job.ui.onPump = [&] { Converting = ++pumps != 3; };
    job.ui.onBox = [&] { Converting = !inBox; };
    const BatchSummary summary = job.Run();
    EXPECT_EQ(job.fs.entries.size(), inBox ? 10u : 13u);  // the sources, outputs 1 to 3
    EXPECT_EQ(summary.skipped, inBox ? 10 : 7);
    EXPECT_EQ(summary.failed, inBox ? 2 : 0);
  }
}

// A caller's steps turn a file away, write one anew under a name of their own (its header
// unchecked, its source's size on the total bar), fail to write one, and copy one as the rule
// says; each file let in is told of once done.
TEST(Batch, StepsTurnAwayWriteAnewOrCopyAndHearOfEachFile) {
  struct Steps final : FileSteps {
    Lines done;
    FileStep StepFor(int index) override {
      const auto write = [index](FileSystem& fs, FileHandle file, std::uint64_t& bytes) {
        bytes = fs.Write(file, "RIFF", 4);
        return index == 1;
      };
      if (index == 0) return {false, "", nullptr};
      return index == 3 ? FileStep{true, "copy.med", nullptr} : FileStep{true, "N.MED", write};
    }
    void Done(int index, bool converted) override {
      done.push_back(std::to_string(index) + (converted ? " in place" : " failed"));
    }
  } steps;
  Job job;
  job.Source("away.wav", SoundFile(100, 17));
  job.Source("new.wav", Bytes(100, 'x'));
  job.Source("bad.wav", SoundFile(100, 17));
  const Bytes copied = job.Source("copy.wav", SoundFile(100, 17));
  const BatchSummary summary = job.Run(&steps);
  EXPECT_EQ(summary.failed, 2);
  EXPECT_EQ(summary.bytesWritten, 104u);
  EXPECT_EQ(job.fs.entries.at("E:\\out\\N.MED"), Bytes({'R', 'I', 'F', 'F'}));
  EXPECT_EQ(job.fs.entries.at("E:\\out\\copy.med"), WithTag(copied, 122));
  EXPECT_EQ(job.fs.entries.size(), 6u) << "the sources and two outputs: no temporary file";
  EXPECT_EQ(steps.done, Lines({"1 in place", "2 failed", "3 in place"}));
  Lines totals;
  std::copy_if(job.ui.events.begin(), job.ui.events.end(), std::back_inserter(totals),
               [](const std::string& event) { return event.rfind("total ", 0) == 0; });
  EXPECT_EQ(totals, Lines({"total 25", "total 50", "total 0"}));
}

// The free-space check's count: one listing per folder; a name missing there is searched alone.
TEST(Batch, ListedBytesListsEachFolderOnceAndSearchesOnlyWhatItLacks) {
  Job job;
  job.fs.entries = {{"D:\\snd\\a.med", Bytes(1)},
                    {"D:\\snd\\b.med", Bytes(2)},
                    {"D:\\snd\\sub\\c.med", Bytes(4)}};
  job.ui.items = {"a.med", "B.MED", "gone.med", "b.med", "sub\\c.med"};
  EXPECT_EQ(ListedBytes(job.fs, "D:\\snd\\", job.ui), 9u);
  EXPECT_EQ(job.fs.calls["FindFiles"], 4);  // D:\snd, B.MED, gone.med, D:\snd\sub
}

// No old output is damaged unless its conversion completed, no user's file is taken for a
// temporary one, nothing else is left, and no temporary path is longer than its output's.
// A failed call costs its file but for the folder's listing (sizes are then searched alone),
// the read after a's copy that finds its end (2 header reads, 5 pieces, it) and a source's
// close; a delete is only made after a failure, so its own failure is never reached.
TEST(Batch, EveryOperationFailingAtEveryCallLosesNothing) {
  const Bytes a = SoundFile((1u << 20) + 5, 122, 7), b = SoundFile(80, 17, 8);  // a: pieces
  const Bytes oldA(30, 1), oldB(30, 2);
  const Files mine = {{"E:\\out\\~1", {3}}, {"E:\\out\\~2", {4}}};
  std::map<std::string, std::set<int>> harmless = {
      {"FindFiles", {1}}, {"Read", {8}}, {"Close", {1, 3}}};
  for (const char* op : kFsOps) {
    for (int nth = 1; nth <= 9; ++nth) {
      SCOPED_TRACE(std::string(op) + " call " + std::to_string(nth));
      Job job;
      job.Source("a.med", a);
      job.Source("b.wav", b);
      job.fs.entries.insert({{"E:\\out\\a.wav", oldA}, {"E:\\out\\b.med", oldB}});
      job.fs.entries.insert(mine.begin(), mine.end());
      job.fs.failAt[op] = nth;
      const BatchSummary summary = job.Run();
      Files files = job.fs.entries;
      const Bytes outA = files["E:\\out\\a.wav"], outB = files["E:\\out\\b.med"];
      EXPECT_TRUE(outA == oldA || outA == WithTag(a, 17));
      EXPECT_TRUE(outB == oldB || outB == WithTag(b, 122));
      const bool costsAFile = job.fs.calls[op] >= nth && harmless[op].count(nth) == 0;
      EXPECT_EQ(summary.converted, costsAFile ? 1 : 2);
      EXPECT_EQ(summary.converted, (outA != oldA) + (outB != oldB));
      for (const auto& [path, data] : mine) EXPECT_EQ(files[path], data);
      for (const std::string& path : job.fs.created) EXPECT_LE(path.size(), 12u) << path;
      EXPECT_EQ(files.size(), 6u);  // the sources, both outputs and mine: no temporary file
    }
  }
}

// The scan's WAV-over-MED rule over the platform's wildcard matching, in the search's order.
TEST(ScanFolder, ListsWavNamesOverMedNamesInTheOrderOfTheSearch) {
  // The folder, what it holds, the list after; a search adds a '\' even to "C:\" and to "".
  const std::tuple<std::string, Lines, Lines> cases[] = {
      {"D:\\snd", {"b.med", "A.MED", "a.med.txt", "x.medx", ".med"}, {"b.med", "A.MED", ".med"}},
      {"C:\\", {"a.med"}, {"a.med"}},
      {"", {"a.med", "z.wav", "c.WaV"}, {"z.wav", "c.WaV"}},
      {"D:\\snd", {"a.med.txt", "wav", "amed"}, {"old.med"}}};
  for (const auto& [folder, files, expected] : cases) {
    FakeFileSystem fs;
    for (const std::string& name : files) fs.entries[folder + "\\" + name];
    RecordingBatchUi list;
    list.items = {"old.med"};
    ScanFolder(folder, list, fs);
    EXPECT_EQ(list.items, expected) << folder << " " << ::testing::PrintToString(files);
  }
}

}  // namespace
