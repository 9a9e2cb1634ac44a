// The batch job over the in-memory file system: pre-checks, the exact sequence of what the
// window shows, outputs byte for byte, aborts, and every file operation failing in turn.
#include "convert/batch.h"

#include <gtest/gtest.h>

#include "convert/sound_rules.h"
#include "fakes/fake_batch_ui.h"
#include "fakes/fake_file_system.h"

namespace {

using Bytes = FakeFileSystem::Bytes;
using Lines = std::vector<std::string>;

// A RIFF/WAVE file of `size` bytes (at least 40) with `tag` at offset 20.
Bytes SoundFile(std::size_t size, std::uint16_t tag, std::uint8_t fill = 0x5A) {
  Bytes data(size, fill);
  const char head[] = "RIFF\0\0\0\0WAVEfmt \x14\0\0\0";
  std::copy(head, head + 20, data.begin());
  data[20] = static_cast<std::uint8_t>(tag & 0xFF);
  data[21] = static_cast<std::uint8_t>(tag >> 8);
  return data;
}

Bytes WithTag(Bytes data, std::uint16_t tag) {
  data[20] = static_cast<std::uint8_t>(tag & 0xFF);
  data[21] = static_cast<std::uint8_t>(tag >> 8);
  return data;
}

bool HasTempFile(const FakeFileSystem& fs) {
  for (const std::string& path : fs.Paths()) {
    if (path.find("~tonequay-") != std::string::npos) return true;
  }
  return false;
}

class BatchTest : public ::testing::Test {
 protected:
  FakeFileSystem fs;
  RecordingBatchUi ui;

  void SetUp() override {
    Converting = false;
    fs.AddFolder("D:\\snd");
    fs.AddFolder("E:\\out");
    fs.SetDiskSpace({8, 512, 1000000, 2000000});
    ui.sourceText = "D:\\snd";
    ui.destText = "E:\\out";
  }

  void AddSource(const std::string& name, Bytes data) {
    fs.AddFile("D:\\snd\\" + name, std::move(data));
    ui.list.items.push_back(name);
  }

  BatchSummary Run() {
    const BatchSummary summary = ConvertBatch(ui, fs);
    EXPECT_FALSE(Converting);
    EXPECT_EQ(fs.OpenHandles(), 0);
    EXPECT_FALSE(HasTempFile(fs));
    return summary;
  }
};

const Lines kStart = {"browse off", "caption Cancel", "tip Abort converting"};
const Lines kEnd = {"box Information: Done", "current 0",           "total 0", "browse on",
                    "caption Convert",       "tip Start converting"};

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(BatchTest, PreChecksRefuseWithOneBoxAndTouchNothing) {
  struct Case {
    const char* what;
    std::string source;
    std::string dest;
    DiskSpace space;
    const char* box;  // nullptr: the batch starts
  };
  const Case cases[] = {
      {"no source", "", "E:\\out", {8, 512, 1000, 2000}, "Please select files first"},
      {"no destination", "D:\\snd", "", {8, 512, 1000, 2000}, "Please select destination path"},
      {"both empty", "", "", {8, 512, 1000, 2000}, "Please select files first"},
      // 4096 + 8192 bytes over 4096-byte clusters: 3 clusters needed.
      {"too little room",
       "D:\\snd",
       "E:\\out",
       {8, 512, 2, 2000},
       "Not enough free space on destination path"},
      {"exactly enough room", "D:\\snd", "E:\\out", {8, 512, 3, 2000}, nullptr},
      {"full drive",
       "D:\\snd",
       "E:\\out",
       {8, 512, 0, 2000},
       "Not enough free space on destination path"},
      // A UNC or relative destination: the query fails and the check is skipped.
      {"failed space query", "D:\\snd", "E:\\out", {0, 0, 0, 0}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem caseFs;
    caseFs.AddFile("D:\\snd\\a.med", SoundFile(4096, kMedFormatTag));
    caseFs.AddFile("D:\\snd\\b.med", SoundFile(8192, kMedFormatTag));
    caseFs.SetDiskSpace(c.space);
    RecordingBatchUi caseUi;
    caseUi.sourceText = c.source;
    caseUi.destText = c.dest;
    caseUi.list.items = {"a.med", "b.med"};
    const BatchSummary summary = ConvertBatch(caseUi, caseFs);
    if (c.box != nullptr) {
      EXPECT_EQ(caseUi.events, Lines{std::string("box Error: ") + c.box});
      EXPECT_FALSE(summary.started);
      EXPECT_EQ(caseFs.Calls(FsOp::OpenRead), 0);
    } else {
      EXPECT_TRUE(summary.started);
      EXPECT_EQ(summary.converted, 2);
    }
  }
}

TEST_F(BatchTest, ConvertsEveryFileInBothDirectionsByteForByte) {
  const Bytes a = SoundFile(100, kMedFormatTag, 1);
  const Bytes b = SoundFile(100, kWavFormatTag, 2);
  const Bytes c = SoundFile(200, 1, 3);  // PCM tag: accepted, written out as 122
  AddSource("a.med", a);
  AddSource("B.WAV", b);
  AddSource("c.wav", c);
  const BatchSummary summary = Run();

  EXPECT_EQ(ui.events, Concat({kStart,
                               {"current 0", "total 25", "pump", "current 0", "total 50", "pump",
                                "current 0", "total 100", "pump"},
                               kEnd}));
  EXPECT_EQ(fs.Data("E:\\out\\a.wav"), WithTag(a, kWavFormatTag));
  EXPECT_EQ(fs.Data("E:\\out\\B.med"), WithTag(b, kMedFormatTag));
  EXPECT_EQ(fs.Data("E:\\out\\c.med"), WithTag(c, kMedFormatTag));
  EXPECT_EQ(ui.list.selected, 2);
  EXPECT_EQ(summary.converted, 3);
  EXPECT_EQ(summary.bytesWritten, 400u);
  EXPECT_EQ(fs.DiskFreeRoots(), Lines{"E:\\"});
}

TEST_F(BatchTest, FolderTextsGetOneTrailingBackslash) {
  fs.AddFile("C:\\a.med", SoundFile(64, kMedFormatTag));
  ui.sourceText = "C:\\";
  ui.destText = "E:\\out\\";
  ui.list.items = {"a.med"};
  Run();
  EXPECT_TRUE(fs.Exists("E:\\out\\a.wav"));
  EXPECT_EQ(fs.FindPatterns(), Lines{"C:\\a.med"});
}

TEST_F(BatchTest, EmptyListStillEndsWithDone) {
  const BatchSummary summary = Run();
  EXPECT_EQ(ui.events, Concat({kStart, kEnd}));
  EXPECT_TRUE(summary.started);
  EXPECT_EQ(summary.listed, 0);
}

TEST_F(BatchTest, EachFailingFileGetsOneBoxAndTheBatchGoesOn) {
  struct Case {
    const char* what;
    Bytes data;
    std::function<void(FakeFileSystem&)> arrange;
    std::string box;
  };
  const Case cases[] = {
      {"missing source",
       {},
       [](FakeFileSystem& f) { f.LockPath("D:\\snd\\x.med"); },
       "Error open file \"D:\\snd\\x.med\""},
      {"refused header", Bytes(64, 0), nullptr, "Not supported MED file"},
      {"too short for a tag",
       Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 0, 0, 0, 0, 0, 0, 0, 0, 0x7A},
       nullptr, "Not supported MED file"},
      {"2 GiB or more", SoundFile(64, kMedFormatTag),
       [](FakeFileSystem& f) { f.OverrideSize("D:\\snd\\x.med", 0x80000000ull); },
       "File too large \"D:\\snd\\x.med\""},
      {"size beyond 32 bits", SoundFile(64, kMedFormatTag),
       [](FakeFileSystem& f) { f.OverrideSize("D:\\snd\\x.med", 0x100000040ull); },
       "File too large \"D:\\snd\\x.med\""},
      {"file shrank before the copy", SoundFile(64, kMedFormatTag),
       [](FakeFileSystem& f) { f.OverrideSize("D:\\snd\\x.med", 96); },
       "Error read file \"D:\\snd\\x.med\""},
      {"file grew after its size was taken", SoundFile(64, kMedFormatTag),
       [](FakeFileSystem& f) { f.OverrideSize("D:\\snd\\x.med", 50); },
       "Error read file \"D:\\snd\\x.med\""},
      {"destination is a folder", SoundFile(64, kMedFormatTag),
       [](FakeFileSystem& f) { f.AddFolder("E:\\out\\x.wav"); },
       "Error create file \"E:\\out\\x.wav\""},
      {"disk full", SoundFile(64, kMedFormatTag),
       [](FakeFileSystem& f) { f.SetCapacity(f.Data("D:\\snd\\x.med").size() + 80); },
       "Error write file \"E:\\out\\x.wav\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem caseFs;
    caseFs.SetDiskSpace({8, 512, 1ull << 40, 1ull << 41});
    if (!c.data.empty()) caseFs.AddFile("D:\\snd\\x.med", c.data);
    caseFs.AddFile("D:\\snd\\y.med", SoundFile(40, kMedFormatTag));
    if (c.arrange) c.arrange(caseFs);
    RecordingBatchUi caseUi;
    caseUi.sourceText = "D:\\snd";
    caseUi.destText = "E:\\out";
    caseUi.list.items = {"x.med", "y.med"};
    const BatchSummary summary = ConvertBatch(caseUi, caseFs);
    EXPECT_EQ(caseUi.Boxes(), (Lines{"Error: " + c.box, "Information: Done"}));
    EXPECT_FALSE(caseFs.Exists("E:\\out\\x.wav") && !caseFs.Data("E:\\out\\x.wav").empty());
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.converted, 1);
    EXPECT_EQ(caseFs.OpenHandles(), 0);
    EXPECT_FALSE(HasTempFile(caseFs));
  }
}

TEST_F(BatchTest, RefusedFileWritesNothingAndFailedFilesDoNotPump) {
  AddSource("bad.med", Bytes(64, 0));
  AddSource("good.med", SoundFile(64, kMedFormatTag));
  Run();
  EXPECT_EQ(fs.Paths(), (Lines{"D:\\snd\\bad.med", "D:\\snd\\good.med", "E:\\out\\good.wav"}));
  EXPECT_EQ(
      ui.events,
      Concat({kStart,
              {"current 0", "box Error: Not supported MED file", "current 0", "total 50", "pump"},
              kEnd}));
}

TEST_F(BatchTest, HeaderOfOneFileNeverLeaksIntoTheNext) {
  AddSource("a.med", SoundFile(64, kMedFormatTag));
  // 30 bytes with no RIFF mark and no tag of its own: refused, whatever came before.
  AddSource("short.med", Bytes(30, 0));
  Run();
  EXPECT_EQ(ui.Boxes(), (Lines{"Error: Not supported MED file", "Information: Done"}));
}

TEST_F(BatchTest, ExistingOutputIsReplacedWholeOrLeftAlone) {
  const Bytes old = Bytes(500, 0xEE);
  fs.AddFile("E:\\out\\a.wav", old);
  fs.AddFile("E:\\out\\b.wav", old);
  AddSource("a.med", SoundFile(64, kMedFormatTag));
  AddSource("b.med", SoundFile(64, kMedFormatTag));
  fs.SetReadOnly("E:\\out\\b.wav");
  Run();
  EXPECT_EQ(fs.Data("E:\\out\\a.wav"), WithTag(SoundFile(64, kMedFormatTag), kWavFormatTag));
  EXPECT_EQ(fs.Data("E:\\out\\b.wav"), old);
  EXPECT_EQ(ui.Boxes(),
            (Lines{"Error: Error create file \"E:\\out\\b.wav\"", "Information: Done"}));
}

TEST_F(BatchTest, TemporaryNameNeverClobbersAUsersFile) {
  const Bytes mine = {1, 2, 3};
  fs.AddFile("E:\\out\\~tonequay-1.tmp", mine);
  fs.AddFile("E:\\out\\~tonequay-2.tmp", mine);
  AddSource("a.med", SoundFile(64, kMedFormatTag));
  AddSource("b.med", SoundFile(64, kMedFormatTag));
  ConvertBatch(ui, fs);
  EXPECT_EQ(fs.Data("E:\\out\\~tonequay-1.tmp"), mine);
  EXPECT_EQ(fs.Data("E:\\out\\~tonequay-2.tmp"), mine);
  EXPECT_TRUE(fs.Exists("E:\\out\\a.wav"));
  EXPECT_TRUE(fs.Exists("E:\\out\\b.wav"));
  EXPECT_EQ(fs.Paths().size(), 6u);
}

TEST_F(BatchTest, AbortInThePumpStopsBeforeTheNextFileIsWritten) {
  for (int i = 1; i <= 10; ++i) AddSource(std::to_string(i) + ".med", SoundFile(40, 122));
  int pumps = 0;
  ui.onPump = [&] {
    if (++pumps == 3) Converting = false;
  };
  const BatchSummary summary = Run();
  EXPECT_EQ(fs.Paths().size(), 13u);  // sources plus outputs 1 to 3
  EXPECT_FALSE(fs.Exists("E:\\out\\4.wav"));
  EXPECT_EQ(fs.Calls(FsOp::OpenRead), 4);  // file 4 was opened, then the abort was seen
  EXPECT_EQ(ui.list.selected, 3);
  EXPECT_EQ(ui.Boxes(), Lines{"Information: Done"});
  EXPECT_EQ(summary.converted, 3);
  EXPECT_EQ(summary.skipped, 7);
  EXPECT_EQ(summary.converted + summary.failed + summary.skipped, summary.listed);
}

TEST_F(BatchTest, AbortWhileAnErrorBoxShowsStopsAtTheNextOpenFile) {
  AddSource("bad.med", Bytes(64, 0));
  ui.list.items.push_back("gone.med");
  AddSource("c.med", SoundFile(40, 122));
  AddSource("d.med", SoundFile(40, 122));
  ui.onMessage = [](const std::string& text) {
    if (text == "Not supported MED file") Converting = false;
  };
  const BatchSummary summary = Run();
  // The missing file still reports its error: the abort is noticed only once a file opens.
  EXPECT_EQ(ui.Boxes(),
            (Lines{"Error: Not supported MED file", "Error: Error open file \"D:\\snd\\gone.med\"",
                   "Information: Done"}));
  EXPECT_FALSE(fs.Exists("E:\\out\\c.wav"));
  EXPECT_EQ(summary.failed, 2);
  EXPECT_EQ(summary.skipped, 2);
}

TEST_F(BatchTest, TotalBarShowsFullWhenNothingWasCountedUpFront) {
  AddSource("late.med", SoundFile(64, kMedFormatTag));
  fs.FailOn(FsOp::FindFiles, 1);  // the file appeared after the sizes were summed
  Run();
  EXPECT_EQ(ui.events, Concat({kStart, {"current 0", "total 100", "pump"}, kEnd}));
}

// Every file operation fails once, at every call in turn: no existing output is damaged unless
// its conversion completed, nothing temporary stays, and each failed file gets exactly one box.
TEST_F(BatchTest, EveryOperationFailingInTurnLosesNothing) {
  const Bytes oldA(300, 0xA1);
  const Bytes oldB(300, 0xB2);
  const Bytes a = SoundFile(120, kMedFormatTag, 7);
  const Bytes b = SoundFile(80, kWavFormatTag, 8);
  for (FsOp op : kAllFsOps) {
    for (int nth = 1; nth <= 6; ++nth) {
      SCOPED_TRACE(std::string(FsOpName(op)) + " call " + std::to_string(nth));
      FakeFileSystem caseFs;
      caseFs.SetDiskSpace({8, 512, 1000, 2000});
      caseFs.AddFile("D:\\snd\\a.med", a);
      caseFs.AddFile("D:\\snd\\b.wav", b);
      caseFs.AddFile("E:\\out\\a.wav", oldA);
      caseFs.AddFile("E:\\out\\b.med", oldB);
      caseFs.FailOn(op, nth);
      RecordingBatchUi caseUi;
      caseUi.sourceText = "D:\\snd";
      caseUi.destText = "E:\\out";
      caseUi.list.items = {"a.med", "b.wav"};
      const BatchSummary summary = ConvertBatch(caseUi, caseFs);

      const Bytes& outA = caseFs.Data("E:\\out\\a.wav");
      const Bytes& outB = caseFs.Data("E:\\out\\b.med");
      EXPECT_TRUE(outA == oldA || outA == WithTag(a, kWavFormatTag));
      EXPECT_TRUE(outB == oldB || outB == WithTag(b, kMedFormatTag));
      const int replaced = (outA != oldA) + (outB != oldB);
      EXPECT_EQ(summary.converted, replaced);
      EXPECT_EQ(summary.converted + summary.failed, 2);
      const Lines boxes = caseUi.Boxes();
      ASSERT_FALSE(boxes.empty());
      EXPECT_EQ(boxes.back(), "Information: Done");
      EXPECT_EQ(static_cast<int>(boxes.size()) - 1, summary.failed);
      // A failed Remove of a temporary file is the one fault that can leave one behind.
      if (op != FsOp::Remove) {
        EXPECT_FALSE(HasTempFile(caseFs));
      }
      EXPECT_EQ(caseFs.OpenHandles(), 0);
      EXPECT_FALSE(Converting);
    }
  }
}

}  // namespace
