// Files copied in pieces: sizes around and far beyond one piece, and faults part of the way.
#include <gtest/gtest.h>

#include "convert/batch.h"
#include "convert/sound_rules.h"
#include "fakes/fake_batch_ui.h"
#include "fakes/fake_file_system.h"

namespace {

using Lines = std::vector<std::string>;

constexpr std::size_t kLarge = (3u << 20) + 5;  // many pieces of any plausible buffer, odd

// A sound file whose bytes never repeat at a power-of-two distance, so a misplaced piece shows.
FakeFileSystem::Bytes SoundFile(std::size_t size, std::uint8_t tag) {
  FakeFileSystem::Bytes data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  const char head[] = "RIFF\0\0\0\0WAVEfmt \x14\0\0\0\0\0";
  std::copy(head, head + 22, data.begin());
  data[kFormatTagOffset] = tag;
  return data;
}

struct Case {
  const char* what;
  FsOp failOp;
  int failCall;          // 0: no fault; reads 1-2 and write 1 are the header's, then the body's
  std::size_t resizeTo;  // 0: the source stays as it is; else its size from its 5th read
  const char* box;       // the error box for 0.med, the one large file
};

TEST(BodyCopyTest, LargeFileFailingPartWayFailsAloneAndEverySizeComesOutWhole) {
  const std::size_t sizes[] = {kLarge, 22, 23, 41, (1u << 18) + 1};
  const Case cases[] = {
      {"no fault", FsOp::Read, 0, 0, nullptr},
      {"read fails", FsOp::Read, 5, 0, "Error read file \"D:\\in\\0.med\""},
      {"source cut short", FsOp::Read, 0, kLarge / 2, "Error read file \"D:\\in\\0.med\""},
      {"source grew", FsOp::Read, 0, kLarge + 1, "Error read file \"D:\\in\\0.med\""},
      {"write fails", FsOp::Write, 4, 0, "Error write file \"E:\\out\\0.wav\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeFileSystem fs;
    RecordingBatchUi ui{};
    ui.sourceText = "D:\\in";
    ui.destText = "E:\\out";
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
      ui.list.items.push_back(std::to_string(i) + ".med");
      fs.AddFile("D:\\in\\" + ui.list.items.back(), SoundFile(sizes[i], kMedFormatTag));
    }
    fs.FailOn(c.failOp, c.failCall);
    fs.onRead = [&, reads = 0](const std::string& path) mutable {
      if (c.resizeTo != 0 && path == "D:\\in\\0.med" && ++reads == 5) fs.Resize(path, c.resizeTo);
    };
    ConvertBatch(ui, fs);
    const std::string done = "Information: Done";
    EXPECT_EQ(ui.Boxes(), (c.box ? Lines{std::string("Error: ") + c.box, done} : Lines{done}));
    for (std::size_t i = c.box ? 1 : 0; i < std::size(sizes); ++i)
      EXPECT_EQ(fs.Data("E:\\out\\" + std::to_string(i) + ".wav"),
                SoundFile(sizes[i], kWavFormatTag));
    // No temporary file stays, nor an output of the failed file.
    EXPECT_EQ(fs.Paths().size(), 2 * std::size(sizes) - (c.box ? 1 : 0));
    EXPECT_EQ(fs.OpenHandles(), 0);
  }
}

}  // namespace
