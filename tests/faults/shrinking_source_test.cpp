// A source file that another program cuts while the batch reads it, between the size query
// and each read in turn: the file fails with one box, the old output and the other files are
// untouched, and nothing temporary stays.
#include <gtest/gtest.h>

#include "convert/batch.h"
#include "convert/sound_rules.h"
#include "fakes/fake_batch_ui.h"
#include "fakes/fake_file_system.h"

namespace {

using Bytes = FakeFileSystem::Bytes;
using Lines = std::vector<std::string>;

Bytes SoundFile(std::size_t size, std::uint8_t fill) {
  Bytes data(size, fill);
  const char head[] = "RIFF\0\0\0\0WAVEfmt \x14\0\0\0";
  std::copy(head, head + 20, data.begin());
  data[kFormatTagOffset] = kMedFormatTag;
  data[kFormatTagOffset + 1] = 0;
  return data;
}

Bytes Converted(Bytes data) {
  data[kFormatTagOffset] = kWavFormatTag;
  return data;
}

TEST(ShrinkingSourceTest, FailsThatFileAloneWhateverReadItHappensAt) {
  // The batch reads 12 header bytes, then 28 more, then the whole file from its start.
  struct Case {
    int read;  // which read of the file sees it cut
    std::size_t newSize;
    const char* box;
  };
  const Case cases[] = {
      {1, 0, "Not supported MED file"},
      {1, 30, "Error read file \"D:\\in\\a.med\""},
      {2, 16, "Not supported MED file"},
      {2, 21, "Not supported MED file"},
      {2, 22, "Error read file \"D:\\in\\a.med\""},
      {3, 0, "Error read file \"D:\\in\\a.med\""},
      {3, 40, "Error read file \"D:\\in\\a.med\""},
      {3, 4095, "Error read file \"D:\\in\\a.med\""},
  };
  const Bytes source = SoundFile(4096, 0x33);
  const Bytes other = SoundFile(100, 0x44);
  const Bytes oldOutput(50, 0xEE);
  for (const Case& c : cases) {
    SCOPED_TRACE("cut to " + std::to_string(c.newSize) + " at read " + std::to_string(c.read));
    FakeFileSystem fs;
    fs.SetDiskSpace({8, 512, 1000, 2000});
    fs.AddFile("D:\\in\\a.med", source);
    fs.AddFile("D:\\in\\b.med", other);
    fs.AddFile("E:\\out\\a.wav", oldOutput);
    int reads = 0;
    fs.onRead = [&](const std::string& path) {
      if (path == "D:\\in\\a.med" && ++reads == c.read) fs.Resize(path, c.newSize);
    };
    RecordingBatchUi ui;
    ui.sourceText = "D:\\in";
    ui.destText = "E:\\out";
    ui.list.items = {"a.med", "b.med"};
    Converting = false;
    const BatchSummary summary = ConvertBatch(ui, fs);

    EXPECT_EQ(ui.Boxes(), (Lines{std::string("Error: ") + c.box, "Information: Done"}));
    EXPECT_EQ(summary.failed, 1);
    EXPECT_EQ(summary.converted, 1);
    EXPECT_EQ(fs.Data("E:\\out\\a.wav"), oldOutput);
    EXPECT_EQ(fs.Data("E:\\out\\b.wav"), Converted(other));
    EXPECT_EQ(fs.Paths(),
              (Lines{"D:\\in\\a.med", "D:\\in\\b.med", "E:\\out\\a.wav", "E:\\out\\b.wav"}));
    EXPECT_EQ(fs.OpenHandles(), 0);
  }
}

// The whole-file buffer is kept from one file to the next; a larger file cut short after a
// smaller one must not be padded out with the earlier file's bytes and written.
TEST(ShrinkingSourceTest, NoByteOfAnEarlierFileFillsTheGap) {
  FakeFileSystem fs;
  fs.SetDiskSpace({8, 512, 1000, 2000});
  fs.AddFile("D:\\in\\big.med", SoundFile(3000, 0x11));
  fs.AddFile("D:\\in\\cut.med", SoundFile(2000, 0x22));
  int reads = 0;
  fs.onRead = [&](const std::string& path) {
    if (path == "D:\\in\\cut.med" && ++reads == 3) fs.Resize(path, 1000);
  };
  RecordingBatchUi ui;
  ui.sourceText = "D:\\in";
  ui.destText = "E:\\out";
  ui.list.items = {"big.med", "cut.med"};
  Converting = false;
  ConvertBatch(ui, fs);
  EXPECT_EQ(ui.Boxes(), (Lines{"Error: Error read file \"D:\\in\\cut.med\"", "Information: Done"}));
  EXPECT_FALSE(fs.Exists("E:\\out\\cut.wav"));
}

}  // namespace
