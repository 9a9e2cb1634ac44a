// Each sound-format rule in a row: the chunk walk, never reading past a file or taking what follows
// the RIFF, names, the IMA ADPCM block rule, the comparison with a .med.
#include "sound/wave.h"

#include <gtest/gtest.h>

#include <optional>

#include "fakes/fakes.h"

using Chunks = std::vector<std::pair<std::string, Bytes>>;

// A format chunk's body; `samplesPerBlock` < 0 leaves out the extension.
static Bytes Body(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                  std::uint16_t align, std::uint16_t bits, int samplesPerBlock = -1) {
  return FmtBody(tag, channels, rate, align, bits,
                 samplesPerBlock < 0 ? Bytes{} : Cat({Le(2, 2), Le(samplesPerBlock, 2)}));
}

// An extensible format's 40 bytes: `extension` as the extension's size, `sub` the sub-format.
static Bytes Extensible(std::uint16_t sub, std::uint32_t extension = 22) {
  return Cat({Body(0xFFFE, 2, 44100, 4, 16), Le(extension, 2), Le(16, 2), Le(3, 4), Le(sub, 4),
              Le(0x100000, 4), Le(0xAA000080, 4), Le(0x719B3800, 4)});
}

// The chunks in order, each padded to even length, in a RIFF (its size give or take `extra`).
static Bytes Wave(const Chunks& chunks, std::int64_t extra = 0) {
  Bytes all;
  for (const auto& [id, body] : chunks) all = Cat({all, ChunkOf(id, body)});
  return Riff(all, extra);
}

static Bytes Sound(const Bytes& fmt, std::size_t dataSize = 0) {
  return Wave({{"fmt ", fmt}, {"data", Bytes(dataSize)}});
}

static WaveFormat Parse(const Bytes& file) {
  const ReadAt readAt = [&file](std::uint64_t offset, void* buffer, std::uint32_t count) {
    EXPECT_LE(offset + count, file.size()) << "a read outside the file";
    std::copy_n(file.data() + offset, count, static_cast<std::uint8_t*>(buffer));
    return count;
  };
  return ReadWave(WalkRiff(file.size(), readAt), readAt);
}

TEST(Wave, EachRuleOfWhatPlaysAndWhatFits) {
  // How sox writes 22050 Hz mono IMA ADPCM: 22 blocks of 505 samples; its RIFF size is at 4 and
  // its data size at 56. The .med it would replace states no samples per block: 505 fit.
  const Bytes kImaFmt = Body(17, 1, 22050, 256, 4, 505);
  const Chunks imaChunks = {{"fmt ", kImaFmt}, {"fact", Bytes(4)}, {"data", Bytes(5632)}};
  const Bytes ima = Wave(imaChunks);
  const Bytes med = Sound(Body(122, 1, 22050, 256, 4), 512);
  const double imaSeconds = 11110 / 22050.0;
  const auto afterEmpties = [&kImaFmt](std::size_t count) {  // the format, empties, one block
    Chunks chunks(count + 1, {"junk", {}});
    chunks.front() = {"fmt ", kImaFmt};
    chunks.push_back({"data", Bytes(256)});
    return Wave(chunks);
  };
  const std::optional<Bytes> none;
  Bytes noPad = Sound(kImaFmt, 257);
  noPad.pop_back();
  struct Row {
    const char* rule;
    Bytes wav;                 // read from the source
    std::optional<Bytes> med;  // what it would replace; none: no such file
    WaveProblem problem;       // what keeps the .wav from playing once converted
    double seconds;            // -1: cannot be told
    MatchVerdict verdict;
    unsigned differs;
    std::string says;  // part of the warning, which names the format; "": no warning
  };
  using P = WaveProblem;
  using V = MatchVerdict;
  const auto named = [&none](const char* name, const Bytes& fmt) {
    Row row{name, Sound(fmt), none, P::NotImaAdpcm, 0, V::NoMed, kMismatchNotImaAdpcm, "a.wav is "};
    row.says += name;
    return row;
  };
  const auto tagged = [](std::uint16_t tag) { return Body(tag, 1, 8000, 1, 8); };
  const Row rows[] = {
      {"IMA ADPCM, no .med", ima, none, P::None, imaSeconds, V::NoMed, 0, ""},
      {"fewer samples per block than fit", Sound(Body(17, 2, 8000, 512, 4, 400), 1024), none,
       P::None, 800 / 8000.0, V::NoMed, 0, ""},
      {"PCM by block align", Sound(Body(1, 2, 44100, 4, 16), 44101), none, P::NotImaAdpcm,
       11025 / 44100.0, V::NoMed, kMismatchNotImaAdpcm,
       "a.wav is PCM (0x0001) 16-bit 44100 Hz stereo: not IMA ADPCM"},
      {"u-law by byte rate", Sound(tagged(7), 4000), none, P::NotImaAdpcm, 0.5, V::NoMed,
       kMismatchNotImaAdpcm, "a.wav is u-law (0x0007) 8-bit"},
      named("IEEE float (0x0003)", tagged(3)),
      named("A-law (0x0006)", tagged(6)),
      named("MPEG (0x0050)", tagged(0x50)),
      named("MPEG Layer 3 (0x0055)", tagged(0x55)),
      named("unknown (0x1234)", tagged(0x1234)),
      named("extensible PCM (0xFFFE)", Extensible(1)),
      named("extensible 0x1234 (0xFFFE)", Extensible(0x1234)),
      named("extensible (0xFFFE)", Extensible(1, 0)),
      named("extensible (0xFFFE)", Poke(Extensible(1), 39, 0, 1)),  // another identifier
      {"200 empty chunks", afterEmpties(200), none, P::None, 505 / 22050.0, V::NoMed, 0, ""},
      {"RIFX", Poke(Wave({}), 3, 'X', 1), none, P::NotRiffWave, -1, V::WavBroken, 0,
       "a.wav: not a RIFF/WAVE file"},
      {"11 bytes", Bytes(11), none, P::NotRiffWave, -1, V::WavBroken, 0, "not a RIFF/WAVE"},
      {"format of 14 bytes", Sound(Bytes(14)), none, P::ShortFormatChunk, -1, V::WavBroken, 0,
       "a.wav: its format chunk is shorter than 16 bytes"},
      {"300 empty chunks hide the data", afterEmpties(300), none, P::NoDataChunk, 0, V::WavBroken,
       0, "no data chunk"},
      {"a chunk of 4 GiB hides the format",
       Poke(Wave({{"LIST", {}}, {"fmt ", kImaFmt}, {"data", {}}}), 16, ~0u, 4), none,
       P::NoFormatChunk, -1, V::WavBroken, 0, "no format chunk"},
      {"an odd JUNK chunk first, the data before the format",
       Wave({{"JUNK", Bytes(3)}, {"data", Bytes(256)}, {"fmt ", kImaFmt}}), none, P::FormatNotFirst,
       505 / 22050.0, V::WavBroken, 0,
       "its format chunk is not the first chunk, so byte 20 is not its format tag"},
      {"data cut to 100 of 5632 bytes", Poke(Sound(kImaFmt, 100), 44, 5632, 4), none,
       P::DataPastEnd, 193 / 22050.0, V::WavBroken, 0, "cut short: 100 of 5632 data bytes"},
      {"RIFF size counts a missing pad", noPad, none, P::None, 505 / 22050.0, V::NoMed, 0, ""},
      {"RIFF size a byte past an even file, beside a .med that fits", Wave(imaChunks, 1), med,
       P::RiffPastEnd, imaSeconds, V::WavBroken, 0,
       "cut short: the RIFF size says 5685 bytes, 5684 follow it"},
      {"RIFF size ends before the data", Wave(imaChunks, -5640), none, P::RiffTooSmall, 0,
       V::WavBroken, 0, "the RIFF size says 44 bytes, fewer than its format and data"},
      {"streamed: both sizes 0xFFFFFFFF", Poke(Poke(ima, 4, ~0u, 4), 56, ~0u, 4), none,
       P::SizesUnfilled, imaSeconds, V::WavBroken, 0,
       "the RIFF and data sizes were never filled in (0xFFFFFFFF, 0xFFFFFFFF)"},
      {"streamed: both sizes 0, read to the end", Poke(Poke(ima, 4, 0, 4), 56, 0, 4), none,
       P::SizesUnfilled, imaSeconds, V::WavBroken, 0,
       "(0, 0), as a stream leaves them: a decoder reads to the end of the file, which holds 5632 "
       "data bytes"},
      {"streamed: the RIFF size alone", Poke(ima, 4, ~0u, 4), none, P::SizesUnfilled, imaSeconds,
       V::WavBroken, 0, "the RIFF size was never filled in (0xFFFFFFFF)"},
      {"no channels", Sound(Body(17, 0, 22050, 256, 4)), none, P::ZeroField, -1, V::WavBroken, 0,
       "the format says 0 channels, 22050 Hz, 256-byte blocks"},
      {"align 260 in stereo", Sound(Body(17, 2, 22050, 260, 4)), none, P::BlockAlignNotIma, 0,
       V::WavBroken, 0, "block align 260 does not fit IMA ADPCM for 2 channels"},
      {"16 bits", Sound(Body(17, 1, 22050, 256, 16)), none, P::BitsNotIma, 0, V::WavBroken, 0,
       "16 bits per sample, not IMA ADPCM's 4"},
      {"506 samples in 256 bytes", Sound(Body(17, 1, 22050, 256, 4, 506)), none,
       P::SamplesPerBlockNotIma, 0, V::WavBroken, 0, "506 samples per block do not fit"},
      {"blocks too large to state", Sound(Body(17, 1, 22050, 36864, 4)), none, P::BlocksTooLarge, 0,
       V::WavBroken, 0, "block align 36864 holds 73721 samples per channel, more than"},
      {"extensible float, its byte rate wrong: timed by its frames",
       Sound(Poke(Extensible(3), 8, 1000, 4), 400), none, P::NotImaAdpcm, 100 / 44100.0, V::NoMed,
       kMismatchNotImaAdpcm, "a.wav is extensible IEEE float (0xFFFE) 16-bit 44100 Hz stereo: not"},
      {"headers alone", Sound(Body(17, 2, 22050, 8, 4), 16), none, P::None, 2 / 22050.0, V::NoMed,
       0, ""},
      {"fits the .med", ima, med, P::None, imaSeconds, V::Matches, 0, ""},
      {"a broken .med", ima, Bytes(4), P::None, imaSeconds, V::MedBroken, 0, ""},
      {"the tag alone", WithTag(ima, 122), med, P::WrongTag, imaSeconds, V::Differs, kMismatchTag,
       "a.wav is game IMA ADPCM (0x007A) 4-bit 22050 Hz mono: still carries the game's tag 122, "
       "not IMA ADPCM's 17"},
      {"not IMA ADPCM alone", Sound(Body(2, 1, 22050, 256, 4)), med, P::NotImaAdpcm, 0, V::Differs,
       kMismatchNotImaAdpcm, "a.wav is MS ADPCM (0x0002) 4-bit 22050 Hz mono: not IMA ADPCM"},
      {"channels alone", Sound(Body(17, 2, 22050, 256, 4, 249)),
       Sound(Body(122, 1, 22050, 256, 4, 249)), P::None, 0, V::Differs, kMismatchChannels,
       ": its channels differ from the a.med it replaces, game IMA ADPCM (0x007A) 4-bit"},
      {"sample rate alone; no extension: 505 from the block align",
       Sound(Body(17, 1, 44100, 256, 4), 512), med, P::None, 1010 / 44100.0, V::Differs,
       kMismatchSampleRate, "its sample rate differs from"},
      {"block align alone", Sound(Body(17, 1, 22050, 512, 4, 505)), med, P::None, 0, V::Differs,
       kMismatchBlockAlign,
       "a.wav is IMA ADPCM (0x0011) 4-bit 22050 Hz mono, 512-byte blocks: its block align differs "
       "from the a.med it replaces, game IMA ADPCM (0x007A) 4-bit 22050 Hz mono, 256-byte blocks"},
      {"samples per block alone", Sound(Body(17, 1, 22050, 256, 4, 400)), med, P::None, 0,
       V::Differs, kMismatchSamplesPerBlock,
       "mono, 400 samples per block: its samples per block differ"},
      {"bits with the format", Sound(Body(1, 1, 22050, 256, 16)), med, P::NotImaAdpcm, 0,
       V::Differs, kMismatchNotImaAdpcm | kMismatchBitsPerSample,
       "not IMA ADPCM; its bits per sample differ from"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.rule);
    FakeFileSystem fs;  // the walk also through the file system, which is left with no file open
    fs.entries["D:\\a.wav"] = row.wav;
    if (row.med) fs.entries["E:\\a.med"] = *row.med;
    const WaveFormat wav = ReadWave(fs, "D:\\a.wav");
    const WaveFormat old = ReadWave(fs, "E:\\a.med");
    EXPECT_TRUE(fs.open.empty());
    for (const WaveFormat& format : {Parse(row.wav), wav}) {
      EXPECT_EQ(PlayProblem(format, false), row.problem) << ProblemText(format.problem, format);
      EXPECT_NEAR(DurationSeconds(format), row.seconds, 1e-9);
    }
    const Match match = CompareWithMed(wav, old);
    EXPECT_EQ(match.verdict, row.verdict);
    EXPECT_EQ(match.differs, row.differs);
    const std::string text = MismatchText(match, "a.wav", wav, "a.med", old);
    EXPECT_EQ(text.empty(), row.says.empty()) << text;
    EXPECT_NE(text.find(row.says), std::string::npos) << text;
  }
  FakeFileSystem locked;  // a .med that is there but cannot be opened is no missing one
  locked.entries["E:\\a.med"] = med;
  locked.failAt["OpenRead"] = 1;
  EXPECT_EQ(ReadWave(locked, "E:\\a.med").problem, WaveProblem::Unreadable);
}
