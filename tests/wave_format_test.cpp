// The chunk walk on sound editors' files and on broken and hostile ones, never reading past them.
#include "convert/wave_format.h"

#include <gtest/gtest.h>

#include "fakes/fakes.h"

using Chunks = std::vector<std::pair<std::string, Bytes>>;

static void Put(Bytes& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// A format chunk's body; `samplesPerBlock` < 0 leaves out the extension.
static Bytes Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t align,
                 std::uint16_t bits, int samplesPerBlock = -1) {
  Bytes body;
  const std::uint32_t wide = channels, bitsWide = bits;
  for (const std::uint32_t word : {tag | wide << 16, rate, rate * align, align | bitsWide << 16})
    Put(body, word, 4);
  if (samplesPerBlock >= 0) Put(body, 2 | (static_cast<std::uint32_t>(samplesPerBlock) << 16), 4);
  return body;
}

// "RIFF", the size after it (give or take `riffExtra`), "WAVE", each chunk padded to even length.
static Bytes Riff(const Chunks& chunks, std::int64_t riffExtra = 0) {
  Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  for (const auto& [id, body] : chunks) {
    out.insert(out.end(), id.begin(), id.end());
    Put(out, static_cast<std::uint32_t>(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0) out.push_back(0);
  }
  return Poke(out, 4,
              static_cast<std::uint32_t>(static_cast<std::int64_t>(out.size()) - 8 + riffExtra), 4);
}

static Bytes Sound(const Bytes& fmt, std::size_t dataSize = 0) {
  return Riff({{"fmt ", fmt}, {"data", Bytes(dataSize)}});
}

// How sox writes 22050 Hz mono IMA ADPCM.
const Bytes kImaFmt = Fmt(17, 1, 22050, 256, 4, 505);
const Chunks kIma = {{"fmt ", kImaFmt}, {"fact", Bytes(4)}, {"data", Bytes(5632)}};

static WaveFormat Parse(const Bytes& file) {
  const ReadAt readAt = [&file](std::uint64_t offset, void* buffer, std::uint32_t count) {
    EXPECT_LE(offset + count, file.size()) << "a read outside the file";
    std::copy_n(file.data() + offset, count, static_cast<std::uint8_t*>(buffer));
    return count;
  };
  return ParseWaveFormat(file.size(), readAt);
}

TEST(WaveFormat, ReportsTheFirstProblemAndTheLengthADecoderPlays) {
  const auto afterEmpties = [](std::size_t count) {  // the format, empty chunks, one block
    Chunks chunks(count + 1, {"junk", {}});
    chunks.front() = {"fmt ", kImaFmt};
    chunks.push_back({"data", Bytes(256)});
    return Riff(chunks);
  };
  Bytes noPad = Sound(kImaFmt, 257);
  noPad.pop_back();
  // What, the file, the problem, the seconds (samples / rate; -1 for none).
  const std::tuple<const char*, Bytes, WaveProblem, double> cases[] = {
      {"IMA ADPCM: 22 blocks of 505", Riff(kIma), WaveProblem::None, 11110 / 22050.0},
      {"a last block of 156 bytes", Sound(kImaFmt, 5532), WaveProblem::None, 10910 / 22050.0},
      {"a last block of 3 bytes: none", Sound(kImaFmt, 5379), WaveProblem::None, 10605 / 22050.0},
      {"no extension: 505 from the block align", Sound(Fmt(122, 1, 22050, 256, 4), 512),
       WaveProblem::None, 1010 / 22050.0},
      {"fewer samples per block than fit", Sound(Fmt(17, 2, 8000, 512, 4, 400), 1024),
       WaveProblem::None, 800 / 8000.0},
      {"an odd LIST first, padded", Riff({{"LIST", Bytes(3)}, {"fmt ", kImaFmt}, {"data", {}}}),
       WaveProblem::None, 0},
      {"PCM stereo", Sound(Fmt(1, 2, 44100, 4, 16), 44101), WaveProblem::None, 11025 / 44100.0},
      {"u-law by byte rate", Sound(Fmt(7, 1, 8000, 1, 8), 4000), WaveProblem::None, 0.5},
      {"200 empty chunks", afterEmpties(200), WaveProblem::None, 505 / 22050.0},
      {"RIFX", Poke(Riff({}), 3, 'X', 1), WaveProblem::NotRiffWave, -1},
      {"11 bytes", Bytes(11), WaveProblem::NotRiffWave, -1},
      {"format of 14 bytes", Sound(Bytes(14)), WaveProblem::ShortFormatChunk, -1},
      {"no data", Riff({{"fmt ", kImaFmt}}), WaveProblem::NoDataChunk, 0},
      {"300 empty chunks hide the data", afterEmpties(300), WaveProblem::NoDataChunk, 0},
      {"data after the RIFF's end", Riff(kIma, -5640), WaveProblem::NoDataChunk, 0},
      {"a chunk of 4 GiB hides the format",
       Poke(Riff({{"LIST", {}}, {"fmt ", kImaFmt}, {"data", {}}}), 16, 0xFFFFFFFF, 4),
       WaveProblem::NoFormatChunk, -1},
      {"data cut to 100 of 5632 bytes", Poke(Sound(kImaFmt, 100), 44, 5632, 4),
       WaveProblem::DataPastEnd, 193 / 22050.0},
      {"RIFF size past the end", Riff(kIma, 2), WaveProblem::RiffPastEnd, 11110 / 22050.0},
      {"RIFF size counts a missing pad", noPad, WaveProblem::None, 505 / 22050.0},
      {"no channels", Sound(Fmt(17, 0, 22050, 256, 4)), WaveProblem::ZeroField, -1},
      {"align 260 in stereo", Sound(Fmt(17, 2, 22050, 260, 4)), WaveProblem::BlockAlignNotIma, 0},
      {"16-bit game file", Sound(Fmt(122, 1, 22050, 256, 16)), WaveProblem::BitsNotIma, 0},
      {"506 samples in 256 bytes", Sound(Fmt(17, 1, 22050, 256, 4, 506)),
       WaveProblem::SamplesPerBlockNotIma, 0}};
  for (const auto& [what, file, problem, seconds] : cases) {
    SCOPED_TRACE(what);
    FakeFileSystem fs;  // the same walk through the file system, which is left with no file open
    fs.entries["D:\\a.wav"] = file;
    for (const WaveFormat& format : {Parse(file), ReadWaveFormat(fs, "D:\\a.wav")}) {
      EXPECT_EQ(format.problem, problem) << ProblemText(format);
      EXPECT_NEAR(DurationSeconds(format), seconds, 1e-9);
    }
    EXPECT_TRUE(fs.open.empty());
    EXPECT_EQ(ReadWaveFormat(fs, "D:\\gone.wav").problem, WaveProblem::Unreadable);
  }
}
