// The decoders on samples worked out by hand, whole, a byte at a time and cut short; how much
// they decode, as the checks count it; what is refused and how it is named. The fit suite
// compares every format with sox's and ffmpeg's decoding too.
#include "sound/decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "fakes/fakes.h"

static std::vector<float> Decode(const WaveFormat& format, const Bytes& data, std::size_t piece,
                                 bool& whole) {
  std::string refusal;
  const auto decoder = MakeDecoder(format, refusal);
  EXPECT_NE(decoder, nullptr) << refusal;
  if (!decoder) return {};
  std::vector<float> out;
  for (std::size_t at = 0; at < data.size(); at += piece)
    decoder->Feed(data.data() + at, std::min(piece, data.size() - at), out);
  whole = decoder->Finish(out);
  return out;
}

template <typename T>
static Bytes Raw(std::initializer_list<T> values) {
  Bytes bytes(values.size() * sizeof(T));
  std::memcpy(bytes.data(), values.begin(), bytes.size());
  return bytes;
}

TEST(Decoder, DecodesWholeInPiecesAndCut) {
  constexpr float k16 = 1.0F / 32768;
  // MS ADPCM at 8000 Hz, 8-byte blocks of 4 samples listing one pair of its own, a hostile one:
  // the prediction passes an int's range.
  WaveFormat pairs;
  const Bytes pairsChunk = {2, 0, 1, 0, 0x40, 0x1F, 0, 0, 0, 0, 0,    0, 8,
                            0, 4, 0, 8, 0,    4,    0, 1, 0, 0, 0x80, 0, 0x80};
  ParseFormatChunk(pairsChunk.data(), pairsChunk.size(), pairs);
  // Headers 1000 and -1000 at the smallest step; codes 7 (+11) and 15 (-11), then zeros.
  const Bytes ima = {0xE8, 0x03, 0, 0, 0x18, 0xFC, 0, 0, 0x07, 0, 0, 0, 0x0F, 0, 0, 0};
  const std::vector<float> imaFrames = {
      1000 * k16, -1000 * k16, 1011 * k16, -1011 * k16, 1013 * k16, -1009 * k16,
      1014 * k16, -1008 * k16, 1015 * k16, -1007 * k16, 1016 * k16, -1006 * k16,
      1017 * k16, -1005 * k16, 1018 * k16, -1004 * k16, 1019 * k16, -1003 * k16};
  // Pair 1 (2, -1) from step 16: older sample 50 first, then 100, then codes +1 and -1.
  const std::vector<float> msFrames = {50 * k16, 100 * k16, 166 * k16, 216 * k16};
  const std::vector<float> imaFive(imaFrames.begin(), imaFrames.begin() + 10);
  const float nan = std::numeric_limits<float>::quiet_NaN(),
              max = std::numeric_limits<float>::max();
  struct Case {
    const char* name;
    WaveFormat format;  // tag, channels, block align, bits, samples per block stated
    Bytes data;
    std::vector<float> expected;
    std::size_t cutKeeps;  // of the expected samples, those a cut last byte leaves
  } const cases[] = {
      {"PCM 8 unsigned", Format(kTagPcm, 2, 2, 8), {0, 128, 255, 128}, {-1, 0, 127 / 128.0F, 0}, 2},
      {"PCM 16", Format(kTagPcm, 1, 2, 16), {0x00, 0x80, 0xFF, 0x7F}, {-1, 32767 * k16}, 1},
      {"PCM 24", Format(kTagPcm, 1, 3, 24), {0, 0, 128, 255, 255, 255}, {-1, -k16 / 256}, 1},
      {"PCM 32", Format(kTagPcm, 1, 4, 32), {0, 0, 0, 0x40}, {0.5}, 0},
      // A NaN is silence; a double past a float's range is the largest float.
      {"float 32", Format(kTagFloat, 1, 4, 32), Raw<float>({0.25F, nan}), {0.25, 0}, 1},
      {"float 64", Format(kTagFloat, 1, 8, 64), Raw<double>({1e300, -0.5}), {max, -0.5}, 1},
      {"A-law", Format(kTagALaw, 2, 2, 8), {0xD5, 0x2A}, {8 * k16, -32256 * k16}, 0},
      {"u-law", Format(kTagMuLaw, 2, 2, 8), {0xFF, 0x00}, {0, -32124 * k16}, 0},
      {"IMA ADPCM, two channels", Format(kWavFormatTag, 2, 16, 4), ima, imaFrames, 2},
      {"IMA ADPCM stating 5 of 9 samples", Format(kWavFormatTag, 2, 16, 4, 5), ima, imaFive, 2},
      {"IMA ADPCM, a shorter last block", Format(kMedFormatTag, 2, 24, 4), ima, imaFrames, 2},
      {"MS ADPCM", Format(kTagMsAdpcm, 1, 8, 4), {1, 16, 0, 100, 0, 50, 0, 31}, msFrames, 2},
      {"MS ADPCM pairs", pairs, {0, 16, 0, 0, 128, 0, 128, 0}, {-1, -1, 32767 * k16, 128 * k16}, 2},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    bool whole = false;
    EXPECT_EQ(Decode(test.format, test.data, test.data.size(), whole), test.expected);
    EXPECT_TRUE(whole);
    EXPECT_EQ(Decode(test.format, test.data, 1, whole), test.expected) << "a byte at a time";
    const Bytes cut(test.data.begin(), test.data.end() - 1);
    const std::vector<float> kept(test.expected.begin(),
                                  test.expected.begin() + static_cast<long>(test.cutKeeps));
    EXPECT_EQ(Decode(test.format, cut, 3, whole), kept) << "cut by a byte";
    EXPECT_EQ(whole, test.format.tag == kTagMsAdpcm) << "only MS ADPCM's last block may be short";
  }
}

// What DecodedFrames counts is what DecodeData hands on, a fact chunk ending the last block.
TEST(Decoder, CountsWhatItDecodesAndEndsWhereTheFactSays) {
  const auto withFact = [](WaveFormat format, std::uint32_t frames) {
    format.hasFact = true;
    format.factFrames = frames;
    return format;
  };
  const WaveFormat ima = Format(kWavFormatTag, 1, 256, 4);  // 505 samples a block
  struct Case {
    const char* name;
    WaveFormat format;
    std::uint64_t bytes, frames;
    bool whole;
  } const cases[] = {{"whole blocks", ima, 512, 1010, true},
                     {"400 samples stated", Format(kWavFormatTag, 1, 256, 4, 400), 512, 800, true},
                     {"a shorter last block", ima, 612, 1203, true},
                     {"a last block cut inside a group", ima, 613, 1203, false},
                     {"a fact inside the last block", withFact(ima, 1100), 612, 1100, true},
                     {"a fact before the last block", withFact(ima, 700), 612, 1203, true},
                     {"a fact in PCM", withFact(Format(kTagPcm, 2, 4, 16), 1), 10, 2, false},
                     {"MS ADPCM", Format(kTagMsAdpcm, 1, 256, 4), 256, 500, true},
                     {"GSM 6.10", Format(0x31, 1, 65, 0), 650, 0, true}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    const DecodedLength length = DecodedFrames(test.format, test.bytes);
    EXPECT_EQ(length.frames, test.frames);
    EXPECT_EQ(length.whole, test.whole);
    std::string refusal;
    const auto decoder = MakeDecoder(test.format, refusal);
    if (!decoder) continue;
    std::uint64_t left = test.bytes;
    const DecodeResult result = DecodeData(
        *decoder, test.format, test.bytes,
        [&left](std::uint8_t* buffer, std::size_t count) {
          const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, left));
          std::memset(buffer, 0, n);
          left -= n;
          return n;
        },
        [](const float*, std::size_t) { return true; });
    EXPECT_EQ(result.frames, test.frames);
    EXPECT_EQ(result.shortData, !test.whole);
  }
}

TEST(Decoder, RefusesWhatItCannotReadByName) {
  WaveFormat stated = Format(kTagMsAdpcm, 1, 256, 4);
  stated.extensionCut = true;
  const std::pair<WaveFormat, std::string> cases[] = {
      {Format(0x0031, 1, 65, 0), "GSM 6.10 (0x0031) is not read"},
      {Format(kTagPcm, 1, 2, 12), "PCM (0x0001) of 12 bits is not read"},
      {Format(kTagPcm, 2, 8, 24), "PCM (0x0001) of 24 bits, stereo, in 8-byte blocks is not read"},
      {Format(kWavFormatTag, 2, 36, 4), "block align 36 does not fit IMA ADPCM for 2 channels"},
      {Format(kTagExtensible, 2, 4, 16), "extensible (0xFFFE) is not read"},
      {stated, "its format chunk states more than it holds"},
  };
  for (const auto& [format, text] : cases) {
    std::string refusal;
    EXPECT_EQ(MakeDecoder(format, refusal), nullptr) << text;
    EXPECT_EQ(refusal, text);
  }
}
