// Fitting a .wav to its .med on the in-memory disk: which files are fitted and how, the written
// .med's chunks and their order, the format chunk kept, the new length, loop and cue points.
#include "sound/fit.h"

#include <gtest/gtest.h>

#include "fakes/fakes.h"

namespace {

// A loop chunk with one loop; a cue chunk with one point in the data, at `position`, in the block
// starting at byte `blockStart`, `offset` samples into it.
Bytes Loop(std::uint32_t start, std::uint32_t end) {
  return ChunkOf("smpl", Cat({Bytes(8), Le(62500, 4), Bytes(16), Le(1, 4), Bytes(4), Bytes(8),
                              Le(start, 4), Le(end, 4), Bytes(8)}));
}
Bytes Cue(std::uint32_t position, std::uint32_t blockStart, std::uint32_t offset) {
  return ChunkOf("cue ", Cat({Le(1, 4), Le(7, 4), Le(position, 4), Id("data"), Bytes(4),
                              Le(blockStart, 4), Le(offset, 4)}));
}

// The .med: IMA ADPCM at 8000 Hz mono, 256-byte blocks of 505 samples, fact, a loop and `cue`.
const Bytes kMedFormat = Fmt(122, 1, 8000, 256, 4, Cat({Le(2, 2), Le(505, 2)}));
Bytes Med(std::uint32_t loopEnd, const Bytes& cue = {}) {
  return Riff(Cat({kMedFormat, ChunkOf("fact", Le(1010, 4)), Loop(100, loopEnd), cue,
                   ChunkOf("data", Bytes(512, 0x11))}));
}
// An edit of 16-bit stereo PCM at `rate` holding `frames`, any values, `points` before its data.
Bytes Edit(std::uint32_t rate, std::size_t frames, const Bytes& points = {}) {
  return Riff(Cat({Fmt(1, 2, rate, 4, 16, {}), points, ChunkOf("LIST", Bytes(5, 'x')),
                   ChunkOf("data", Bytes(4 * frames, 0x20)), ChunkOf("PEAK", Bytes(8))}));
}

// The chunks' ids of `file` in order, without trailing blanks; their bodies into `bodies`.
std::string Chunks(const Bytes& file, std::map<std::string, Bytes>& bodies) {
  std::string ids;
  for (std::size_t at = 12; at + 8 <= file.size();) {
    const std::string id(file.begin() + at, file.begin() + at + 4);
    const std::size_t size = file[at + 4] | file[at + 5] << 8 | file[at + 6] << 16;
    bodies[id] = Bytes(file.begin() + at + 8, file.begin() + at + 8 + size);
    ids += (ids.empty() ? "" : " ") + id.substr(0, id.find(' ', 1));
    at += 8 + size + size % 2;
  }
  return ids;
}
std::uint32_t At(const Bytes& body, std::size_t at) {
  return body.at(at) | body.at(at + 1) << 8 | body.at(at + 2) << 16;
}
// The numbers at `offsets` in the body of chunk `id`, apart by spaces; "" without the chunk.
std::string Fields(std::map<std::string, Bytes>& bodies, const std::string& id,
                   std::initializer_list<std::size_t> offsets) {
  std::string fields;
  if (bodies.count(id) != 0)
    for (const std::size_t at : offsets)
      fields += (fields.empty() ? "" : " ") + std::to_string(At(bodies[id], at));
  return fields;
}

// Fits `wav` to `med` as planned; the plan's way, and the written file.
Bytes Fitted(FakeFileSystem& fs, const Bytes& wav, const Bytes& med, FitWay& way) {
  fs.entries["D:\\v.wav"] = wav;
  fs.entries["E:\\v.med"] = med;
  way = PlanFit(fs, "D:\\v.wav", "E:\\v.med").way;
  const NewFile out = fs.CreateNew("E:\\~1.tmp");
  const FitResult result = WriteFit(fs, way, "D:\\v.wav", "E:\\v.med", out.file);
  fs.Close(out.file);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.bytes, fs.entries["E:\\~1.tmp"].size());
  return fs.entries["E:\\~1.tmp"];
}

}  // namespace

// Positions move as what they are (sox-independent arithmetic): a loop's start and a cue's
// sample by round(p * ratio), a loop's end, its last sample, by round((end + 1) * ratio) - 1,
// and a cue names the new IMA ADPCM block (505 samples, 256 bytes) it lies in.
TEST(Fit, WritesTheMedsChunksInItsOrderWithTheNewSoundAndPoints) {
  const std::string ids = "fmt fact smpl data LIST";  // the .med's chunks, the .wav's LIST
  struct Case {
    const char* what;
    Bytes wav, med;
    std::string order;      // the output's chunk ids
    std::string loop, cue;  // loop period, start, end; cue position, block start, offset
  } const cases[] = {
      {"no points in the .wav: the .med's kept", Edit(16000, 4040), Med(900), ids, "62500 100 900",
       ""},
      {"the .wav's points at half the rate",
       Edit(16000, 4040, Cat({Cue(2000, 0, 2000), Loop(400, 3001)})), Med(900),
       "fmt fact smpl data cue LIST", "125000 200 1500", "1000 256 495"},
      {"a loop's end at twice the rate", Edit(4000, 1010, Loop(0, 1009)), Med(900), ids,
       "125000 0 2019", ""},
      {"a .med with cues, no loop and no fact", Edit(16000, 4040),
       Riff(Cat({kMedFormat, Cue(300, 0, 300), ChunkOf("data", Bytes(256))})), "fmt cue data LIST",
       "", "300 0 300"},
      {"the .wav's cue and no loop: none of the .med's points",
       Edit(16000, 4040, Cue(2000, 0, 2000)), Med(900, Cue(300, 0, 300)), "fmt fact cue data LIST",
       "", "1000 256 495"},
      {"a tag after the .wav's RIFF", Cat({Edit(16000, 4040), Id("ID3\x03"), Bytes(30, 0x7F)}),
       Med(900), ids, "62500 100 900", ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    FitWay way = FitWay::None;
    const Bytes file = Fitted(fs, test.wav, test.med, way);
    EXPECT_EQ(way, FitWay::Encode);
    EXPECT_EQ(Riff(Bytes(file.begin() + 12, file.end())), file) << "its RIFF header";
    std::map<std::string, Bytes> body;
    EXPECT_EQ(Chunks(file, body), test.order);
    EXPECT_EQ(ChunkOf("fmt ", body["fmt "]), kMedFormat);
    EXPECT_EQ(body.count("fact") == 0 ? 2020 : At(body["fact"], 0), 2020u) << "the new length";
    EXPECT_EQ(body["data"].size(), 4u * 256) << "2020 frames in blocks of 505";
    EXPECT_EQ(Fields(body, "smpl", {8, 44, 48}), test.loop);
    EXPECT_EQ(Fields(body, "cue ", {8, 20, 24}), test.cue);
  }
}

// IMA ADPCM in the .med's layout is never decoded: its blocks go into the .med's chunks under
// the .med's own format chunk, whatever its own says beside the layout.
TEST(Fit, MovesBlocksAlreadyInTheLayoutAsTheyAre) {
  const Bytes blocks = SoundFile(700, 17, 3);  // two blocks and a shorter one of 188 bytes
  const Bytes wav = Riff(
      Cat({Poke(kMedFormat, 16, 7777, 4), ChunkOf("fact", Le(1300, 4)), ChunkOf("data", blocks)}));
  FakeFileSystem fs;
  FitWay way = FitWay::None;
  const Bytes file = Fitted(fs, WithTag(wav, 17), Med(900), way);
  EXPECT_EQ(way, FitWay::Relayout);
  std::map<std::string, Bytes> body;
  EXPECT_EQ(Chunks(file, body), "fmt fact smpl data");
  EXPECT_EQ(ChunkOf("fmt ", body["fmt "]), kMedFormat);
  EXPECT_EQ(body["data"], blocks);
  EXPECT_EQ(At(body["fact"], 0), 1300u);
}

TEST(Fit, PlansOnlyWhatAPlayingMedSaysAndRefusesWhatItCannotRead) {
  const Bytes wav = Edit(16000, 100), med = Med(300), fits = WithTag(med, 17);
  const Bytes ima = Riff(Cat({Fmt(17, 1, 16000, 256, 4, {}), ChunkOf("data", Bytes(612))}));
  const std::string cut = "v.wav: its data is cut short; the sound it holds was fitted";
  struct Case {
    const char* what;
    Bytes wav, med;
    FitWay way;
    std::string refusal, note;
  } const cases[] = {
      {"GSM", WithTag(wav, 0x31), med, FitWay::Encode, "GSM 6.10 (0x0031) is not read", ""},
      {"no sound", Edit(16000, 0), med, FitWay::Encode, "it holds no sound", ""},
      {"its format chunk is the .med's", fits, med, FitWay::None, "", ""},
      {"the .med's format chunk, no sound",
       WithTag(Riff(Cat({kMedFormat, ChunkOf("data", {})})), 17), med, FitWay::Relayout,
       "it holds no sound", ""},
      {"the layout, another byte rate", Poke(fits, 28, 1, 4), med, FitWay::Relayout, "", ""},
      {"the layout under the game's tag", med, med, FitWay::Relayout, "", ""},
      {"no .med", wav, {}, FitWay::None, "", ""},
      {"a .med not IMA ADPCM", wav, WithTag(wav, 122), FitWay::None, "", ""},
      {"a .med's blocks hold more than it can state", wav,
       Riff(Cat({Fmt(122, 1, 8000, 36864, 4, {}), ChunkOf("data", Bytes(36864))})), FitWay::None,
       "", ""},
      {"a shorter last block", ima, med, FitWay::Encode, "", ""},
      {"cut inside a group", Poke(ima, 40, 613, 4), med, FitWay::Encode, "", cut},
      {"the .med's loop past the new end", Edit(16000, 4040), Med(2020), FitWay::Encode, "",
       "v.wav: a loop or cue point at sample 2020 lies past the end of the fitted sound, 2020 "
       "samples long"}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.entries["D:\\v.wav"] = test.wav;
    if (!test.med.empty()) fs.entries["E:\\v.med"] = test.med;
    const FitPlan plan = PlanFit(fs, "D:\\v.wav", "E:\\v.med");
    EXPECT_EQ(plan.way, test.way);
    EXPECT_EQ(plan.refusal, test.refusal);
    EXPECT_EQ(plan.notes, test.note.empty() ? std::vector<std::string>{}
                                            : std::vector<std::string>{test.note.substr(7)});
  }
}

TEST(Fit, AFailedWriteIsAFailedFit) {
  FakeFileSystem fs;
  fs.entries = {{"E:\\v.med", Med(900)}, {"D:\\v.wav", Edit(16000, 4040)}};
  fs.failAt["Write"] = 4;  // the fact chunk's header
  const FileHandle out = fs.CreateNew("E:\\~1.tmp").file;
  EXPECT_EQ(WriteFit(fs, FitWay::Encode, "D:\\v.wav", "E:\\v.med", out).error,
            "the fitted file could not be written");
}
