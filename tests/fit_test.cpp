// Fitting a .wav to its .med on the in-memory disk: which files are fitted, the written .med's
// chunks and their order, the format chunk kept, the new length, loop and cue points.
#include "convert/fit.h"

#include <gtest/gtest.h>

#include "fakes/fakes.h"

namespace {

Bytes Le(std::uint32_t value, std::size_t n) {
  return Poke(Bytes(n), 0, value, n);
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
Bytes ChunkOf(const std::string& id, const Bytes& body) {
  return Cat({Bytes(id.begin(), id.end()), Le(static_cast<std::uint32_t>(body.size()), 4), body,
              Bytes(body.size() % 2)});
}
Bytes Id(const char* id) {
  return Bytes(id, id + 4);
}
Bytes Riff(const Bytes& chunks) {
  return Cat(
      {Id("RIFF"), Le(static_cast<std::uint32_t>(chunks.size() + 4), 4), Id("WAVE"), chunks});
}
// A format chunk: tag, channels, rate, byte rate, block align, bits, then `extra`.
Bytes Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t align,
          std::uint16_t bits, const Bytes& extra) {
  return ChunkOf("fmt ", Cat({Le(tag, 2), Le(channels, 2), Le(rate, 4), Le(rate * align, 4),
                              Le(align, 2), Le(bits, 2), extra}));
}
// A loop chunk with one loop, or a cue chunk with one point (its position twice).
Bytes Loop(std::uint32_t start, std::uint32_t end) {
  return ChunkOf("smpl", Cat({Bytes(8), Le(62500, 4), Bytes(16), Le(1, 4), Bytes(4), Bytes(8),
                              Le(start, 4), Le(end, 4), Bytes(8)}));
}
Bytes Cue(std::uint32_t position) {
  return ChunkOf("cue ",
                 Cat({Le(1, 4), Le(7, 4), Le(position, 4), Id("data"), Bytes(8), Le(position, 4)}));
}

// The .med: IMA ADPCM at 8000 Hz mono, 256-byte blocks of 505 samples, a fact chunk and a loop.
const Bytes kMedFormat = Fmt(122, 1, 8000, 256, 4, Cat({Le(2, 2), Le(505, 2)}));
Bytes Med(std::uint32_t loopEnd) {
  return Riff(Cat({kMedFormat, ChunkOf("fact", Le(1010, 4)), Loop(100, loopEnd),
                   ChunkOf("data", Bytes(512, 0x11))}));
}
// The .wav's sound: `frames` of 16-bit stereo PCM, any values.
Bytes PcmData(std::size_t frames) {
  return ChunkOf("data", Bytes(4 * frames, 0x20));
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

}  // namespace

TEST(Fit, WritesTheMedsChunksInItsOrderWithTheNewSoundAndPoints) {
  struct Case {
    const char* what;
    Bytes wavPoints;       // the .wav's loop and cue chunks
    std::uint32_t medEnd;  // the .med's loop end
    std::string order;     // the output's chunk ids
    std::uint32_t start, end, period;
    std::string note;
  } const cases[] = {
      {"no points in the .wav: the .med's kept", Bytes(), 900, "fmt fact smpl data LIST", 100, 900,
       62500, ""},
      {"the .med's loop past the new end", Bytes(), 2020, "fmt fact smpl data LIST", 100, 2020,
       62500,
       "a loop or cue point at sample 2020 lies past the end of the fitted sound, 2020 samples "
       "long"},
      {"the .wav's points scaled to the new rate", Cat({Cue(1000), Loop(400, 3001)}), 900,
       "fmt fact smpl data cue LIST", 200, 1501, 125000, ""}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.entries["E:\\v.med"] = Med(test.medEnd);
    fs.entries["D:\\v.wav"] =
        Riff(Cat({Fmt(1, 2, 16000, 4, 16, {}), test.wavPoints, ChunkOf("LIST", Bytes(5, 'x')),
                  PcmData(4040), ChunkOf("PEAK", Bytes(8))}));
    const NewFile out = fs.CreateNew("E:\\~1.tmp");
    const FitResult result = WriteFit(fs, "D:\\v.wav", "E:\\v.med", out.file);
    fs.Close(out.file);
    const Bytes& file = fs.entries["E:\\~1.tmp"];
    ASSERT_EQ(result.error, "");
    EXPECT_EQ(result.bytes, file.size());
    EXPECT_EQ(At(file, 4), file.size() - 8);
    std::map<std::string, Bytes> body;
    EXPECT_EQ(Chunks(file, body), test.order);
    EXPECT_EQ(ChunkOf("fmt ", body["fmt "]), kMedFormat);
    EXPECT_EQ(At(body["fact"], 0), 2020u) << "half the frames at half the rate";
    EXPECT_EQ(body["data"].size(), 4u * 256) << "2020 frames in blocks of 505";
    EXPECT_EQ(std::vector({At(body["smpl"], 8), At(body["smpl"], 44), At(body["smpl"], 48)}),
              std::vector({test.period, test.start, test.end}));
    if (body.count("cue ") != 0) {
      EXPECT_EQ(std::vector({At(body["cue "], 8), At(body["cue "], 24)}),
                std::vector<std::uint32_t>({500, 500}));
    }
    EXPECT_EQ(result.notes,
              test.note.empty() ? std::vector<std::string>{} : std::vector<std::string>{test.note});
  }
}

TEST(Fit, PlansOnlyWhatASoundMedSaysAndRefusesWhatItCannotRead) {
  const Bytes wav = Riff(Cat({Fmt(1, 2, 16000, 4, 16, {}), PcmData(100)}));
  const Bytes fits = WithTag(Med(900), 17);
  struct Case {
    const char* what;
    Bytes wav, med;
    bool fit;
    std::string refusal, from;
  } const cases[] = {{"PCM", wav, Med(900), true, "", "PCM 16-bit 16000 Hz stereo"},
                     {"GSM", WithTag(wav, 0x31), Med(900), true, "GSM 6.10 (0x0031) is not read",
                      "GSM 6.10 16-bit 16000 Hz stereo"},
                     {"fits already", fits, Med(900), false, "", ""},
                     {"no .med", wav, {}, false, "", ""},
                     {"a .med that is not IMA ADPCM", wav, WithTag(wav, 122), false, "", ""}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    FakeFileSystem fs;
    fs.entries["D:\\v.wav"] = test.wav;
    if (!test.med.empty()) fs.entries["E:\\v.med"] = test.med;
    const FitPlan plan = PlanFit(fs, "D:\\v.wav", "E:\\v.med");
    EXPECT_EQ(plan.fit, test.fit);
    EXPECT_EQ(plan.refusal, test.refusal);
    EXPECT_EQ(plan.from, test.from);
    EXPECT_EQ(plan.to, test.fit ? "IMA ADPCM 8000 Hz mono, 256-byte blocks" : "");
  }
}

TEST(Fit, AFailedWriteIsAFailedFit) {
  FakeFileSystem fs;
  fs.entries["E:\\v.med"] = Med(900);
  fs.entries["D:\\v.wav"] = Riff(Cat({Fmt(1, 2, 16000, 4, 16, {}), PcmData(4040)}));
  fs.failAt["Write"] = 4;  // the fact chunk's header
  const NewFile out = fs.CreateNew("E:\\~1.tmp");
  EXPECT_EQ(WriteFit(fs, "D:\\v.wav", "E:\\v.med", out.file).error,
            "the fitted file could not be written");
}
